#include "texture/texture.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <utility>

#include "common/diagnostics.h"
#include "common/output.h"
#include "platform/platform.h"
#include "texture/bitmap.h"

namespace kelp {

namespace {

// Palette entries in index order, each as the four bytes a bitmap pixel holds.
using Colours = std::array<std::uint32_t, tx8_palette_entries>;

// Asks for the index bytes of the row converted next (the one above in storage, since rows are
// written bottom-up) while this one is converted: they are read straight from memory.
void prefetch(const std::uint8_t* from, std::size_t bytes) {
  constexpr std::size_t cache_line = 64;
  for (std::size_t at = 0; at < bytes; at += cache_line) __builtin_prefetch(from + at);
}

// The palette in index order with red and blue exchanged, as bitmap pixels.
Colours bitmap_colours(const TextureRecord& texture) {
  Palette palette = palette_in_index_order(texture);
  Colours colours{};
  for (std::size_t index = 0; index < palette.size(); ++index) {
    Colour c = palette[index];
    std::uint8_t pixel[bytes_per_pixel] = {c.blue, c.green, c.red, c.alpha};
    std::memcpy(&colours[index], pixel, bytes_per_pixel);
  }
  return colours;
}

// Writes "<name>.bmp": the header, then the rows from the last stored one up, each produced by
// expand_row(stored_row, destination).
template <typename ExpandRow>
bool write_texture(OutputFile& out, std::uint32_t side, ExpandRow expand_row,
                   WriteBuffer& scratch) {
  std::array<std::uint8_t, bitmap_header_size> header;
  put_bitmap_header(header, side, side);
  auto bottom_up = [&](std::uint32_t file_row, std::uint8_t* row) {
    expand_row(side - 1 - file_row, row);
  };
  write_bitmap(out, header, side, bytes_per_pixel * side, bottom_up, scratch);
  return finish_output(out);
}

bool write_tx4_bitmap(OutputFile& out, const TextureRecord& texture, WriteBuffer& scratch) {
  Colours colours = bitmap_colours(texture);
  // Pixel k sits in byte k / 2: the low nibble for even k, the high one for odd k. Each index
  // byte becomes the eight bytes of its two pixels at once.
  constexpr unsigned byte_values = 256;
  std::array<std::uint8_t[2 * bytes_per_pixel], byte_values> pairs;
  for (unsigned byte = 0; byte < byte_values; ++byte) {
    std::memcpy(pairs[byte], &colours[byte & tx4_index_mask], bytes_per_pixel);
    std::memcpy(pairs[byte] + bytes_per_pixel, &colours[byte >> tx4_index_bits], bytes_per_pixel);
  }
  const std::uint8_t* indices = texture.indices.data();
  std::uint32_t side = texture.side;
  auto expand_row = [&](std::uint32_t row, std::uint8_t* out) {
    std::uint64_t first = std::uint64_t{row} * side;
    const std::uint8_t* in = indices + first / 2;
    if (row > 0) prefetch(in - side / 2, side / 2 + 1);
    std::uint32_t x = 0;
    if (first & 1) {  // an odd side: this row starts in a byte's high nibble
      std::memcpy(out, &colours[*in++ >> tx4_index_bits], bytes_per_pixel);
      x = 1;
    }
    for (; x + 1 < side; x += 2)
      std::memcpy(out + bytes_per_pixel * x, pairs[*in++], 2 * bytes_per_pixel);
    if (x < side)
      std::memcpy(out + bytes_per_pixel * x, &colours[*in & tx4_index_mask], bytes_per_pixel);
  };
  return write_texture(out, side, expand_row, scratch);
}

bool write_tx8_bitmap(OutputFile& out, const TextureRecord& texture, WriteBuffer& scratch) {
  Colours colours = bitmap_colours(texture);
  const std::uint8_t* indices = texture.indices.data();
  std::uint32_t side = texture.side;
  auto expand_row = [&](std::uint32_t row, std::uint8_t* out) {
    const std::uint8_t* stored = indices + std::uint64_t{row} * side;
    if (row > 0) prefetch(stored - side, side);
    std::uint32_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
      // Eight indices read at once, two pixels stored at once.
      constexpr unsigned at_once = sizeof(std::uint64_t);
      constexpr std::uint64_t index_mask = 0xFF;
      for (; x + at_once <= side; x += at_once) {
        std::uint64_t eight;
        std::memcpy(&eight, stored + x, at_once);
        for (unsigned k = 0; k < at_once; k += 2, eight >>= 2 * tx8_index_bits) {
          std::uint64_t two = colours[eight & index_mask] |
                              std::uint64_t{colours[(eight >> tx8_index_bits) & index_mask]}
                                  << 8 * bytes_per_pixel;
          std::memcpy(out + bytes_per_pixel * (x + k), &two, 2 * bytes_per_pixel);
        }
      }
    }
    for (; x < side; ++x)
      std::memcpy(out + bytes_per_pixel * x, &colours[stored[x]], bytes_per_pixel);
  };
  return write_texture(out, side, expand_row, scratch);
}

}  // namespace

bool write_texture_file(OutputFile& out, const TextureRecord& texture, WriteBuffer& scratch) {
  prepare_bitmap_buffer(scratch, texture.side, bytes_per_pixel * texture.side);
  return texture.bits_per_index == tx4_index_bits ? write_tx4_bitmap(out, texture, scratch)
                                                  : write_tx8_bitmap(out, texture, scratch);
}

}  // namespace kelp
