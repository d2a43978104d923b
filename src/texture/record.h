// TX4 and TX8 texture records: a 16-byte header, a palette of 16 or 256 colours and one 4- or
// 8-bit index per pixel of a square picture. This is the one place that knows how a record
// stores them: the TX8 palette's block order, TX4's nibble order and the console's alpha scale.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kelp {

// Texture record header: the tag at 0, then these fields.
constexpr std::size_t record_side_field = 4;             // u16, width and height
constexpr std::size_t record_palette_offset_field = 8;   // u32, from the record's start
constexpr std::size_t record_indices_offset_field = 12;  // u32, from the record's start
constexpr std::size_t record_header_size = 16;

constexpr std::size_t palette_entry_size = 4;  // stored red, green, blue, alpha
constexpr std::size_t tx4_palette_entries = 16;
constexpr std::size_t tx8_palette_entries = 256;
constexpr unsigned tx4_index_bits = 4;
constexpr unsigned tx8_index_bits = 8;
constexpr std::uint8_t tx4_index_mask = 0x0F;

// 4 * side * side must fit the bitmap header's 32-bit sizes.
constexpr std::uint32_t max_texture_side = 32767;

// Where a record's parts lie; `palette` and `indices` are views into the record's buffer.
struct TextureRecord {
  unsigned bits_per_index = tx8_index_bits;
  std::uint32_t side = 0;  // 0: an empty picture, nothing to write
  std::uint32_t palette_offset = 0;
  std::uint32_t indices_offset = 0;
  Bytes palette;
  Bytes indices;

  std::size_t colours() const {
    return bits_per_index == tx4_index_bits ? tx4_palette_entries : tx8_palette_entries;
  }
  std::uint64_t pixels() const { return std::uint64_t{side} * side; }
};

// Finds the palette and index data of the record at the start of `record`, which runs to the
// end of the buffer holding it and bounds every read. Refused, saying why, when a part lies
// outside that buffer or the side is too large.
Result<TextureRecord> locate_texture(Bytes record, unsigned bits_per_index);

// A colour as a texture record holds it: alpha 0 (clear) to 128 (opaque) on the console's
// scale, or above on textures that use another scale.
struct Colour {
  std::uint8_t red = 0, green = 0, blue = 0, alpha = 0;
  bool operator==(const Colour&) const = default;
};
using Palette = std::array<Colour, tx8_palette_entries>;

// The console's opaque alpha; image files use 0..255. Each conversion undoes the other for
// 0..128, the one tie going up.
constexpr std::uint8_t console_opaque = 128;
constexpr std::uint8_t file_opaque = 255;
constexpr std::uint8_t alpha_to_file(std::uint32_t alpha) {
  return static_cast<std::uint8_t>((alpha * file_opaque + console_opaque / 2) / console_opaque);
}
constexpr std::uint8_t alpha_from_file(std::uint32_t value) {
  return static_cast<std::uint8_t>((value * console_opaque + file_opaque / 2) / file_opaque);
}

// The palette in index order (for TX8 the stored blocks put in place), entries beyond the
// record's colours zero.
Palette palette_in_index_order(const TextureRecord& texture);

// True when every palette entry is on the console's scale (alpha at most 128).
bool on_console_scale(const TextureRecord& texture);
bool on_console_scale(const Palette& palette, std::size_t colours);

// Position at which a TX8 palette stores the colour of `index`: stored groups of 32 entries have
// their middle blocks of 8 exchanged (bits 3 and 4 swapped). Its own inverse.
constexpr std::size_t tx8_stored_position(std::size_t index) {
  return (index & ~std::size_t{0x18}) | (index & 0x08) << 1 | (index & 0x10) >> 1;
}

// A texture's pixels as the record means them: the palette in index order (16 or 256 entries)
// and one index per pixel, top row first.
struct TexturePixels {
  std::vector<Colour> palette;
  std::vector<std::uint8_t> indices;
};

TexturePixels load_texture(const TextureRecord& texture);

// Stores `pixels` (a full palette, one index per pixel) into `record`, a copy of the bytes the
// texture was located in, in the stored form. Only palette and index bytes change (for an odd
// TX4 pixel count the last byte keeps its high nibble). False, and nothing written, when
// `pixels` does not match the texture or the record is too short.
bool store_texture(std::span<std::uint8_t> record, const TextureRecord& texture,
                   const TexturePixels& pixels);

}  // namespace kelp
