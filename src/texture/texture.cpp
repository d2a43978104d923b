#include "texture/texture.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/platform.h"
#include "texture/bitmap.h"

namespace kelp {

namespace {

// Palette entries in index order, each as the four bytes a bitmap pixel holds.
using Colours = std::array<std::uint32_t, tx8_palette_entries>;

struct Texture {
  std::uint32_t side = 0;
  Bytes palette;
  Bytes indices;
};

void swap_red_blue(std::span<std::uint8_t> entries) {
  for (std::size_t at = 0; at + palette_entry_size <= entries.size(); at += palette_entry_size) {
    std::swap(entries[at], entries[at + 2]);
  }
}

// Finds the palette and index data of a record, or nothing when the record is empty (side 0)
// or damaged (warned about).
std::optional<Texture> locate_texture(const std::string& name, Bytes record,
                                      std::size_t palette_entries, unsigned bits_per_index) {
  auto side = read_le<std::uint16_t>(record, record_side_field);
  auto palette_at = read_le<std::uint32_t>(record, record_palette_offset_field);
  auto indices_at = read_le<std::uint32_t>(record, record_indices_offset_field);
  if (!fits(record, 0, record_header_size) || !side || !palette_at || !indices_at) {
    platform::warn(name, "texture header runs past the end of its container; skipped");
    return std::nullopt;
  }
  if (*side == 0) return std::nullopt;
  if (*side > max_texture_side) {
    platform::warn(name, "texture side " + std::to_string(*side) + " is too large; skipped");
    return std::nullopt;
  }
  std::uint64_t pixels = std::uint64_t{*side} * *side;
  std::uint64_t index_bytes = (pixels * bits_per_index + 7) / 8;
  std::uint64_t palette_bytes = palette_entries * palette_entry_size;
  if (!fits(record, *palette_at, palette_bytes)) {
    platform::warn(name, "palette runs past the end of its container; skipped");
    return std::nullopt;
  }
  if (!fits(record, *indices_at, index_bytes)) {
    platform::warn(name, "index data runs past the end of its container; skipped");
    return std::nullopt;
  }
  return Texture{*side, record.subspan(*palette_at, palette_bytes),
                 record.subspan(*indices_at, index_bytes)};
}

// Asks for the index bytes of the row converted next (the one above in storage, since rows are
// written bottom-up) while this one is converted: they are read straight from memory.
void prefetch(const std::uint8_t* from, std::size_t bytes) {
  constexpr std::size_t cache_line = 64;
  for (std::size_t at = 0; at < bytes; at += cache_line) __builtin_prefetch(from + at);
}

Colours tx4_colours(Bytes stored) {
  std::array<std::uint8_t, tx4_palette_entries * palette_entry_size> entries{};
  std::copy(stored.begin(), stored.end(), entries.begin());
  swap_red_blue(entries);
  Colours colours{};
  std::memcpy(colours.data(), entries.data(), entries.size());
  return colours;
}

Colours tx8_colours(Bytes stored) {
  std::array<std::uint8_t, tx8_palette_size> entries{};
  std::copy(stored.begin(), stored.end(), entries.begin());
  reorder_palette(entries);
  Colours colours{};
  std::memcpy(colours.data(), entries.data(), entries.size());
  return colours;
}

// Writes "<name>.bmp": the header, then the rows from the last stored one up, each produced by
// expand_row(stored_row, destination).
template <typename ExpandRow>
Outcome write_texture(const std::string& name, std::uint32_t side, ExpandRow expand_row,
                      TextureOutput& output) {
  if (bitmap_file_size(side, side) > output.room) return Outcome::too_large;
  prepare_bitmap_buffer(output.scratch, side, bytes_per_pixel * side);
  OutputFile out = create_output_file(name + ".bmp");
  if (!out.created) {
    platform::warn(out.name, "cannot create: " + platform::describe_error(out.error));
    return Outcome::failed;
  }
  std::array<std::uint8_t, bitmap_header_size> header;
  put_bitmap_header(header, side, side);
  auto bottom_up = [&](std::uint32_t file_row, std::uint8_t* row) {
    expand_row(side - 1 - file_row, row);
  };
  write_bitmap(out, header, side, bytes_per_pixel * side, bottom_up, output.scratch);
  return finish_output(out) ? Outcome::written : Outcome::failed;
}

}  // namespace

void reorder_palette(std::span<std::uint8_t, tx8_palette_size> palette) {
  constexpr std::size_t group = 32, block = 8;
  for (std::size_t first = 0; first < tx8_palette_entries; first += group) {
    std::uint8_t* lower = palette.data() + (first + block) * palette_entry_size;
    std::uint8_t* upper = palette.data() + (first + 2 * block) * palette_entry_size;
    std::swap_ranges(lower, lower + block * palette_entry_size, upper);
  }
  swap_red_blue(palette);
}

Outcome convert_tx4(const std::string& name, Bytes record, TextureOutput& output) {
  auto texture = locate_texture(name, record, tx4_palette_entries, 4);
  if (!texture) return Outcome::skipped;
  Colours colours = tx4_colours(texture->palette);
  // Pixel k sits in byte k / 2: the low nibble for even k, the high one for odd k. Each index
  // byte becomes the eight bytes of its two pixels at once.
  std::array<std::uint8_t[2 * bytes_per_pixel], 256> pairs;
  for (unsigned byte = 0; byte < 256; ++byte) {
    std::memcpy(pairs[byte], &colours[byte & 0x0F], bytes_per_pixel);
    std::memcpy(pairs[byte] + bytes_per_pixel, &colours[byte >> 4], bytes_per_pixel);
  }
  const std::uint8_t* indices = texture->indices.data();
  std::uint32_t side = texture->side;
  auto expand_row = [&](std::uint32_t row, std::uint8_t* out) {
    std::uint64_t first = std::uint64_t{row} * side;
    const std::uint8_t* in = indices + first / 2;
    if (row > 0) prefetch(in - side / 2, side / 2 + 1);
    std::uint32_t x = 0;
    if (first & 1) {  // an odd side: this row starts in a byte's high nibble
      std::memcpy(out, &colours[*in++ >> 4], bytes_per_pixel);
      x = 1;
    }
    for (; x + 1 < side; x += 2)
      std::memcpy(out + bytes_per_pixel * x, pairs[*in++], 2 * bytes_per_pixel);
    if (x < side) std::memcpy(out + bytes_per_pixel * x, &colours[*in & 0x0F], bytes_per_pixel);
  };
  return write_texture(name, side, expand_row, output);
}

Outcome convert_tx8(const std::string& name, Bytes record, TextureOutput& output) {
  auto texture = locate_texture(name, record, tx8_palette_entries, 8);
  if (!texture) return Outcome::skipped;
  Colours colours = tx8_colours(texture->palette);
  const std::uint8_t* indices = texture->indices.data();
  std::uint32_t side = texture->side;
  auto expand_row = [&](std::uint32_t row, std::uint8_t* out) {
    const std::uint8_t* stored = indices + std::uint64_t{row} * side;
    if (row > 0) prefetch(stored - side, side);
    std::uint32_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
      // Eight indices read at once, two pixels stored at once.
      for (; x + 8 <= side; x += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, stored + x, 8);
        for (unsigned k = 0; k < 8; k += 2, eight >>= 16) {
          std::uint64_t two = colours[eight & 0xFF] | std::uint64_t{colours[(eight >> 8) & 0xFF]}
                                                          << 32;
          std::memcpy(out + bytes_per_pixel * (x + k), &two, 2 * bytes_per_pixel);
        }
      }
    }
    for (; x < side; ++x)
      std::memcpy(out + bytes_per_pixel * x, &colours[stored[x]], bytes_per_pixel);
  };
  return write_texture(name, side, expand_row, output);
}

}  // namespace kelp
