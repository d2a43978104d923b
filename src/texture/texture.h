// Conversion of TX4 and TX8 texture records into 32-bit bitmap files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "containers/bytes.h"
#include "texture/bitmap.h"

namespace kelp {

// Texture record header: the tag at 0, then these fields.
constexpr std::size_t record_side_field = 4;             // u16, width and height
constexpr std::size_t record_palette_offset_field = 8;   // u32, from the record's start
constexpr std::size_t record_indices_offset_field = 12;  // u32, from the record's start
constexpr std::size_t record_header_size = 16;

constexpr std::size_t palette_entry_size = 4;  // stored red, green, blue, alpha
constexpr std::size_t tx4_palette_entries = 16;
constexpr std::size_t tx8_palette_entries = 256;
constexpr std::size_t tx8_palette_size = tx8_palette_entries * palette_entry_size;

// 4 * side * side must fit the bitmap header's 32-bit sizes.
constexpr std::uint32_t max_texture_side = 32767;

// written: the bitmap is complete; skipped: nothing to write, or the record is damaged (warned);
// failed: the bitmap could not be written (warned); too_large: it would pass `room`.
enum class Outcome { written, skipped, failed, too_large };

// What a conversion may use: a reusable buffer, and how many bytes the bitmap may take.
struct TextureOutput {
  WriteBuffer scratch;
  std::uint64_t room = UINT64_MAX;
};

// Writes the record at the start of `record` as "<name>.bmp". `record` runs to the end of the
// buffer that holds it, which bounds every read; the record itself is left unchanged. A damaged
// record is skipped with a warning, before any file is created.
Outcome convert_tx4(const std::string& name, Bytes record, TextureOutput& output);
Outcome convert_tx8(const std::string& name, Bytes record, TextureOutput& output);

// Puts a stored TX8 palette into index order and exchanges red and blue in every entry. Stored
// groups of 32 entries have their middle blocks of 8 exchanged. Its own inverse.
void reorder_palette(std::span<std::uint8_t, tx8_palette_size> palette);

}  // namespace kelp
