#include "texture/record.h"

#include <algorithm>
#include <utility>

namespace kelp {

std::optional<TextureRecord> locate_texture(Bytes record, unsigned bits_per_index,
                                            std::string& damage) {
  auto side = read_le<std::uint16_t>(record, record_side_field);
  auto palette_at = read_le<std::uint32_t>(record, record_palette_offset_field);
  auto indices_at = read_le<std::uint32_t>(record, record_indices_offset_field);
  if (!fits(record, 0, record_header_size) || !side || !palette_at || !indices_at) {
    damage = "texture header runs past the end of its container; skipped";
    return std::nullopt;
  }
  TextureRecord texture{bits_per_index, *side, *palette_at, *indices_at, {}, {}};
  if (*side == 0) return texture;
  if (*side > max_texture_side) {
    damage = "texture side " + std::to_string(*side) + " is too large; skipped";
    return std::nullopt;
  }
  std::uint64_t pixels = std::uint64_t{*side} * *side;
  std::uint64_t index_bytes = (pixels * bits_per_index + 7) / 8;
  std::uint64_t palette_bytes = texture.colours() * palette_entry_size;
  if (!fits(record, *palette_at, palette_bytes)) {
    damage = "palette runs past the end of its container; skipped";
    return std::nullopt;
  }
  if (!fits(record, *indices_at, index_bytes)) {
    damage = "index data runs past the end of its container; skipped";
    return std::nullopt;
  }
  texture.palette = record.subspan(*palette_at, palette_bytes);
  texture.indices = record.subspan(*indices_at, index_bytes);
  return texture;
}

Palette palette_in_index_order(const TextureRecord& texture) {
  Palette palette{};
  for (std::size_t index = 0; index < texture.palette.size() / palette_entry_size; ++index) {
    std::size_t stored = texture.bits_per_index == 8 ? tx8_stored_position(index) : index;
    Bytes entry = texture.palette.subspan(stored * palette_entry_size, palette_entry_size);
    palette[index] = {entry[0], entry[1], entry[2], entry[3]};
  }
  return palette;
}

void reorder_palette(std::span<std::uint8_t, tx8_palette_size> palette) {
  constexpr std::size_t group = 32, block = 8;
  for (std::size_t first = 0; first < tx8_palette_entries; first += group) {
    std::uint8_t* lower = palette.data() + (first + block) * palette_entry_size;
    std::uint8_t* upper = palette.data() + (first + 2 * block) * palette_entry_size;
    std::swap_ranges(lower, lower + block * palette_entry_size, upper);
  }
  for (std::size_t at = 0; at < palette.size(); at += palette_entry_size) {
    std::swap(palette[at], palette[at + 2]);
  }
}

}  // namespace kelp
