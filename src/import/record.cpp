#include "import/record.h"

#include "texture/texture.h"

namespace kelp {

namespace {

constexpr unsigned tx4_nibble_bits = 4;
constexpr std::uint8_t low_nibble = 0x0F;

std::size_t palette_entries(TextureKind kind) {
  return kind == TextureKind::tx4 ? tx4_palette_entries : tx8_palette_entries;
}

std::uint64_t pixel_count(const RecordLayout& layout) {
  return std::uint64_t{layout.side} * layout.side;
}

std::uint64_t index_bytes(const RecordLayout& layout) {
  std::uint64_t pixels = pixel_count(layout);
  return layout.kind == TextureKind::tx4 ? (pixels + 1) / 2 : pixels;
}

// Where entry `index` is stored: TX8 groups of 32 have their middle blocks of 8 exchanged, so
// bits 3 and 4 of the index trade places.
std::size_t stored_entry(TextureKind kind, std::size_t index) {
  if (kind == TextureKind::tx4) return index;
  std::size_t bit3 = index >> 3 & 1, bit4 = index >> 4 & 1;
  return (index & ~std::size_t{0x18}) | bit3 << 4 | bit4 << 3;
}

bool fits_record(Bytes record, const RecordLayout& layout) {
  return fits(record, layout.palette_offset, palette_entries(layout.kind) * palette_entry_size) &&
         fits(record, layout.indices_offset, index_bytes(layout));
}

}  // namespace

std::optional<TexturePixels> load_texture(Bytes record, const RecordLayout& layout) {
  if (!fits_record(record, layout)) return std::nullopt;
  TexturePixels pixels;
  std::size_t entries = palette_entries(layout.kind);
  for (std::size_t i = 0; i < entries; ++i) {
    Bytes entry =
        record.subspan(layout.palette_offset + stored_entry(layout.kind, i) * palette_entry_size,
                       palette_entry_size);
    pixels.palette.push_back({entry[0], entry[1], entry[2], entry[3]});
  }
  Bytes stored = record.subspan(layout.indices_offset, index_bytes(layout));
  std::uint64_t count = pixel_count(layout);
  if (layout.kind == TextureKind::tx8) {
    pixels.indices.assign(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(count));
    return pixels;
  }
  pixels.indices.resize(count);
  for (std::uint64_t k = 0; k < count; ++k) {
    unsigned shift = k % 2 ? tx4_nibble_bits : 0;
    pixels.indices[k] = static_cast<std::uint8_t>(stored[k / 2] >> shift & low_nibble);
  }
  return pixels;
}

bool store_texture(std::span<std::uint8_t> record, const RecordLayout& layout,
                   const TexturePixels& pixels) {
  std::size_t entries = palette_entries(layout.kind);
  if (!fits_record(record, layout) || pixels.palette.size() != entries ||
      pixels.indices.size() != pixel_count(layout)) {
    return false;
  }
  for (std::size_t i = 0; i < entries; ++i) {
    std::uint8_t* entry =
        record.data() + layout.palette_offset + stored_entry(layout.kind, i) * palette_entry_size;
    const Colour& c = pixels.palette[i];
    entry[0] = c.red, entry[1] = c.green, entry[2] = c.blue, entry[3] = c.alpha;
  }
  std::uint8_t* stored = record.data() + layout.indices_offset;
  for (std::size_t k = 0; k < pixels.indices.size(); ++k) {
    std::uint8_t index = pixels.indices[k];
    if (layout.kind == TextureKind::tx8) {
      stored[k] = index;
    } else if (k % 2 == 0) {
      stored[k / 2] =
          static_cast<std::uint8_t>((stored[k / 2] & ~low_nibble) | (index & low_nibble));
    } else {
      stored[k / 2] = static_cast<std::uint8_t>((stored[k / 2] & low_nibble) |
                                                (index & low_nibble) << tx4_nibble_bits);
    }
  }
  return true;
}

}  // namespace kelp
