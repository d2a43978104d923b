// TX4 and TX8 texture records: a 16-byte header, a palette of 16 or 256 colours and one 4- or
// 8-bit index per pixel of a square picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/bytes.h"

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

// Where a record's parts lie; `palette` and `indices` are views into the record's buffer.
struct TextureRecord {
  unsigned bits_per_index = 8;  // 4 for TX4, 8 for TX8
  std::uint32_t side = 0;       // 0: an empty picture, nothing to write
  std::uint32_t palette_offset = 0;
  std::uint32_t indices_offset = 0;
  Bytes palette;
  Bytes indices;

  std::size_t colours() const {
    return bits_per_index == 4 ? tx4_palette_entries : tx8_palette_entries;
  }
};

// Finds the palette and index data of the record at the start of `record`, which runs to the
// end of the buffer holding it and bounds every read. Nothing, with `damage` saying why, when a
// part lies outside that buffer or the side is too large.
std::optional<TextureRecord> locate_texture(Bytes record, unsigned bits_per_index,
                                            std::string& damage);

// A colour as a texture record holds it: alpha 0 (clear) to 128 (opaque), or above on textures
// that use another scale.
struct Colour {
  std::uint8_t red = 0, green = 0, blue = 0, alpha = 0;
  bool operator==(const Colour&) const = default;
};
using Palette = std::array<Colour, tx8_palette_entries>;

// The palette in index order (for TX8 the stored blocks put in place), entries beyond the
// record's colours zero.
Palette palette_in_index_order(const TextureRecord& texture);

// Position at which a TX8 palette stores the colour of `index`: stored groups of 32 entries have
// their middle blocks of 8 exchanged (bits 3 and 4 swapped). Its own inverse.
constexpr std::size_t tx8_stored_position(std::size_t index) {
  return (index & ~std::size_t{0x18}) | (index & 0x08) << 1 | (index & 0x10) >> 1;
}

// Puts a stored TX8 palette into index order and exchanges red and blue in every entry. Its own
// inverse.
void reorder_palette(std::span<std::uint8_t, tx8_palette_size> palette);

}  // namespace kelp
