#include "texture/record.h"

#include <algorithm>
#include <string>

namespace kelp {

namespace {

std::uint64_t index_bytes(std::uint64_t pixels, unsigned bits_per_index) {
  constexpr unsigned byte_bits = 8;
  return (pixels * bits_per_index + byte_bits - 1) / byte_bits;
}

std::size_t stored_position(const TextureRecord& texture, std::size_t index) {
  return texture.bits_per_index == tx8_index_bits ? tx8_stored_position(index) : index;
}

// TX4 pixel k lies in byte k / 2: the low nibble for even k, the high one for odd k.
unsigned nibble_shift(std::uint64_t pixel) {
  return pixel % 2 ? tx4_index_bits : 0;
}

}  // namespace

Result<TextureRecord> locate_texture(Bytes record, unsigned bits_per_index) {
  auto side = read_le<std::uint16_t>(record, record_side_field);
  auto palette_at = read_le<std::uint32_t>(record, record_palette_offset_field);
  auto indices_at = read_le<std::uint32_t>(record, record_indices_offset_field);
  if (!fits(record, 0, record_header_size) || !side || !palette_at || !indices_at) {
    return Refusal{"texture header runs past the end of its container; skipped"};
  }
  TextureRecord texture{bits_per_index, *side, *palette_at, *indices_at, {}, {}};
  if (*side == 0) return texture;
  if (*side > max_texture_side) {
    return Refusal{"texture side " + std::to_string(*side) + " is too large; skipped"};
  }
  std::uint64_t palette_bytes = texture.colours() * palette_entry_size;
  std::uint64_t indices_bytes = index_bytes(texture.pixels(), bits_per_index);
  if (!fits(record, *palette_at, palette_bytes)) {
    return Refusal{"palette runs past the end of its container; skipped"};
  }
  if (!fits(record, *indices_at, indices_bytes)) {
    return Refusal{"index data runs past the end of its container; skipped"};
  }
  texture.palette = record.subspan(*palette_at, palette_bytes);
  texture.indices = record.subspan(*indices_at, indices_bytes);
  return texture;
}

Palette palette_in_index_order(const TextureRecord& texture) {
  Palette palette{};
  for (std::size_t index = 0; index < texture.palette.size() / palette_entry_size; ++index) {
    Bytes entry = texture.palette.subspan(stored_position(texture, index) * palette_entry_size,
                                          palette_entry_size);
    palette[index] = {entry[0], entry[1], entry[2], entry[3]};
  }
  return palette;
}

bool on_console_scale(const Palette& palette, std::size_t colours) {
  return std::all_of(palette.begin(), palette.begin() + colours,
                     [](const Colour& c) { return c.alpha <= console_opaque; });
}

bool on_console_scale(const TextureRecord& texture) {
  return on_console_scale(palette_in_index_order(texture), texture.colours());
}

TexturePixels load_texture(const TextureRecord& texture) {
  Palette palette = palette_in_index_order(texture);
  TexturePixels pixels{{palette.begin(), palette.begin() + texture.colours()}, {}};
  std::uint64_t count = texture.pixels();
  if (texture.bits_per_index == tx8_index_bits) {
    pixels.indices.assign(texture.indices.begin(), texture.indices.begin() + count);
    return pixels;
  }
  pixels.indices.resize(count);
  for (std::uint64_t k = 0; k < count; ++k) {
    pixels.indices[k] =
        static_cast<std::uint8_t>(texture.indices[k / 2] >> nibble_shift(k) & tx4_index_mask);
  }
  return pixels;
}

bool store_texture(std::span<std::uint8_t> record, const TextureRecord& texture,
                   const TexturePixels& pixels) {
  std::size_t entries = texture.colours();
  if (!fits(record, texture.palette_offset, texture.palette.size()) ||
      !fits(record, texture.indices_offset, texture.indices.size()) ||
      pixels.palette.size() != entries || pixels.indices.size() != texture.pixels()) {
    return false;
  }
  for (std::size_t i = 0; i < entries; ++i) {
    std::uint8_t* entry =
        record.data() + texture.palette_offset + stored_position(texture, i) * palette_entry_size;
    const Colour& c = pixels.palette[i];
    entry[0] = c.red, entry[1] = c.green, entry[2] = c.blue, entry[3] = c.alpha;
  }
  std::uint8_t* stored = record.data() + texture.indices_offset;
  for (std::size_t k = 0; k < pixels.indices.size(); ++k) {
    if (texture.bits_per_index == tx8_index_bits) {
      stored[k] = pixels.indices[k];
      continue;
    }
    unsigned shift = nibble_shift(k);
    auto kept = static_cast<std::uint8_t>(stored[k / 2] & ~(tx4_index_mask << shift));
    stored[k / 2] = static_cast<std::uint8_t>(kept | (pixels.indices[k] & tx4_index_mask) << shift);
  }
  return true;
}

}  // namespace kelp
