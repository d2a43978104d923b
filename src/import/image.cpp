#include "import/image.h"

#include <spng.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <new>

#include "texture/bitmap.h"
#include "texture/png.h"

namespace kelp {

namespace {

ImageRead refuse(const std::string& name, const std::string& reason) {
  return {std::nullopt, name + ": " + reason};
}

ImageRead refuse_size(const std::string& name, std::int64_t width, std::int64_t height,
                      std::uint32_t side) {
  std::string texture = std::to_string(side) + "x" + std::to_string(side);
  return {std::nullopt, name + " is " + std::to_string(width) + "x" + std::to_string(height) +
                            ", the texture is " + texture};
}

// ---- PNG ----

constexpr std::uint8_t png_signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// No ancillary chunk (text, profiles) may take more than this, nor all of them together more
// than the cache limit, so a compressed text chunk is never inflated past it.
constexpr std::size_t png_chunk_limit = std::size_t{1} << 20;
constexpr std::size_t png_cache_limit = std::size_t{4} << 20;

using Png = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

bool is_png(Bytes file) {
  if (!fits(file, 0, sizeof png_signature)) return false;
  for (std::size_t i = 0; i < sizeof png_signature; ++i) {
    if (file[i] != png_signature[i]) return false;
  }
  return true;
}

// Sets `raw` when the file says its alpha is the record's own (0..128), not scaled to 0..255.
// The library's error when its text chunks cannot be read (over the chunk limits), or 0.
int read_alpha_text(spng_ctx* png, bool& raw) {
  raw = false;
  std::uint32_t count = 0;
  int error = spng_get_text(png, nullptr, &count);
  if (error == SPNG_ECHUNKAVAIL || (error == 0 && count == 0)) return 0;
  std::vector<spng_text> texts(count);
  if (error != 0 || (error = spng_get_text(png, texts.data(), &count)) != 0) return error;
  for (const spng_text& text : texts) {
    raw = raw || (text.type == SPNG_TEXT && text.keyword == alpha_keyword &&
                  std::string_view(text.text, text.length) == alpha_raw);
  }
  return 0;
}

std::uint8_t png_alpha(std::uint8_t stored, bool raw) {
  return raw ? stored : alpha_from_file(stored);
}

// Unpacks indices of 1, 2, 4 or 8 bits, packed from the high bits of each byte, rows padded
// to whole bytes.
std::vector<std::uint8_t> unpack_indices(Bytes rows, std::uint32_t side, unsigned bits) {
  if (bits == 8) return {rows.begin(), rows.end()};  // a byte a pixel, rows unpadded
  std::vector<std::uint8_t> indices;
  indices.reserve(std::size_t{side} * side);
  std::size_t row_bytes = (std::size_t{side} * bits + 7) / 8;
  unsigned mask = (1u << bits) - 1;
  for (std::uint32_t y = 0; y < side; ++y) {
    for (std::uint32_t x = 0; x < side; ++x) {
      std::size_t bit = std::size_t{x} * bits;
      unsigned byte = rows[y * row_bytes + bit / 8];
      indices.push_back(static_cast<std::uint8_t>(byte >> (8 - bits - bit % 8) & mask));
    }
  }
  return indices;
}

ImageRead decode_indexed_png(spng_ctx* png, const std::string& name, Image image, unsigned bits,
                             bool raw_alpha) {
  spng_plte plte{};
  if (int error = spng_get_plte(png, &plte)) return refuse(name, spng_strerror(error));
  spng_trns trns{};
  if (spng_get_trns(png, &trns) != 0) trns.n_type3_entries = 0;
  std::size_t size = 0;
  if (int error = spng_decoded_image_size(png, SPNG_FMT_PNG, &size)) {
    return refuse(name, spng_strerror(error));
  }
  std::vector<std::uint8_t> rows(size);
  if (int error = spng_decode_image(png, rows.data(), rows.size(), SPNG_FMT_PNG, 0)) {
    return refuse(name, spng_strerror(error));
  }
  for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
    const spng_plte_entry& entry = plte.entries[i];
    std::uint8_t alpha = png_alpha(i < trns.n_type3_entries ? trns.type3_alpha[i] : 255, raw_alpha);
    image.palette.push_back({entry.red, entry.green, entry.blue, alpha});
  }
  image.indices = unpack_indices(rows, image.side, bits);
  std::size_t colours = image.palette.size();
  auto stray = std::find_if(image.indices.begin(), image.indices.end(),
                            [colours](std::uint8_t index) { return index >= colours; });
  if (stray != image.indices.end()) {
    return refuse(name, "pixel index " + std::to_string(*stray) + " lies past its palette");
  }
  return {std::move(image), {}};
}

ImageRead decode_png_colours(spng_ctx* png, const std::string& name, Image image, bool raw_alpha) {
  std::vector<std::uint8_t> rgba(std::size_t{4} * image.side * image.side);
  if (int error =
          spng_decode_image(png, rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS)) {
    return refuse(name, spng_strerror(error));
  }
  image.pixels.reserve(rgba.size() / 4);
  for (std::size_t at = 0; at < rgba.size(); at += 4) {
    image.pixels.push_back(
        {rgba[at], rgba[at + 1], rgba[at + 2], png_alpha(rgba[at + 3], raw_alpha)});
  }
  return {std::move(image), {}};
}

ImageRead read_png(Bytes file, const std::string& name, std::uint32_t side) {
  Png png(spng_ctx_new(0), spng_ctx_free);
  if (!png) throw std::bad_alloc();
  spng_set_crc_action(png.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
  // No image limits: the header's size is checked against the texture's before any decoding,
  // so that a refusal names both sizes.
  spng_set_chunk_limits(png.get(), png_chunk_limit, png_cache_limit);
  spng_set_png_buffer(png.get(), file.data(), file.size());
  spng_ihdr ihdr{};
  if (int error = spng_get_ihdr(png.get(), &ihdr)) return refuse(name, spng_strerror(error));
  if (ihdr.width != side || ihdr.height != side) {
    return refuse_size(name, ihdr.width, ihdr.height, side);
  }
  bool raw_alpha = false;
  if (int error = read_alpha_text(png.get(), raw_alpha)) return refuse(name, spng_strerror(error));
  Image image{side, {}, {}, {}};
  if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
    return decode_indexed_png(png.get(), name, std::move(image), ihdr.bit_depth, raw_alpha);
  }
  return decode_png_colours(png.get(), name, std::move(image), raw_alpha);
}

// ---- BMP ----

constexpr std::size_t bmp_colours_used_field = 46;  // u32, 0: all 2^bits
constexpr std::size_t palette_entry_bytes = 4;      // blue, green, red, unused

struct Masks {
  std::uint32_t red = 0x00FF0000, green = 0x0000FF00, blue = 0x000000FF, alpha = 0xFF000000;
};

// Only square bitmaps get past the size check, so the readers below use the width for both.
bool top_row_first(const BitmapHeader& bmp) {
  return static_cast<std::int32_t>(bmp.height) < 0;
}

bool contiguous(std::uint32_t mask) {
  if (mask == 0) return true;
  std::uint32_t low = mask >> std::countr_zero(mask);
  return (low & (low + 1)) == 0;
}

// A masked channel scaled to 0..255.
std::uint8_t masked(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  unsigned shift = std::countr_zero(mask);
  std::uint64_t most = mask >> shift, value = (pixel & mask) >> shift;
  return static_cast<std::uint8_t>((value * 255 + most / 2) / most);
}

std::optional<Masks> bit_field_masks(Bytes file, const BitmapHeader& bmp) {
  Masks masks;
  if (bmp.compression == compression_bit_fields ||
      bmp.compression == compression_alpha_bit_fields) {
    auto red = read_le<std::uint32_t>(file, bmp_red_mask_field);
    auto green = read_le<std::uint32_t>(file, bmp_green_mask_field);
    auto blue = read_le<std::uint32_t>(file, bmp_blue_mask_field);
    if (!red || !green || !blue) return std::nullopt;
    masks = {*red, *green, *blue, 0};
  }
  if (bmp.info_size >= info_size_with_alpha_mask ||
      bmp.compression == compression_alpha_bit_fields) {
    auto alpha = read_le<std::uint32_t>(file, bmp_alpha_mask_field);
    if (!alpha) return std::nullopt;
    masks.alpha = *alpha;
  } else if (bmp.compression != compression_none) {
    masks.alpha = 0;
  }
  if (!contiguous(masks.red) || !contiguous(masks.green) || !contiguous(masks.blue) ||
      !contiguous(masks.alpha)) {
    return std::nullopt;
  }
  return masks;
}

std::uint64_t bmp_stride(const BitmapHeader& bmp) {
  return (std::uint64_t{bmp.bits} * bmp.width + 31) / 32 * 4;
}

// Row y of the picture (top row 0) as it lies in the file.
Bytes bmp_row(Bytes file, const BitmapHeader& bmp, std::uint32_t y) {
  std::uint32_t stored = top_row_first(bmp) ? y : bmp.width - 1 - y;
  return file.subspan(bmp.pixel_offset + stored * bmp_stride(bmp), bmp_stride(bmp));
}

ImageRead read_bmp_32(Bytes file, const std::string& name, const BitmapHeader& bmp) {
  bool kelps_own = bmp.info_size == info_header_size && bmp.compression == compression_none;
  std::optional<Masks> masks = bit_field_masks(file, bmp);
  if (!masks) return refuse(name, "unreadable bit-field masks");
  Image image{bmp.width, {}, {}, {}};
  for (std::uint32_t y = 0; y < bmp.width; ++y) {
    Bytes row = bmp_row(file, bmp, y);
    for (std::uint32_t x = 0; x < bmp.width; ++x) {
      std::uint32_t pixel = *read_le<std::uint32_t>(row, std::size_t{4} * x);
      std::uint8_t alpha = kelps_own      ? static_cast<std::uint8_t>(pixel >> 24)
                           : masks->alpha ? alpha_from_file(masked(pixel, masks->alpha))
                                          : console_opaque;
      image.pixels.push_back({masked(pixel, masks->red), masked(pixel, masks->green),
                              masked(pixel, masks->blue), alpha});
    }
  }
  return {std::move(image), {}};
}

ImageRead read_bmp_24(Bytes file, const BitmapHeader& bmp) {
  Image image{bmp.width, {}, {}, {}};
  for (std::uint32_t y = 0; y < bmp.width; ++y) {
    Bytes row = bmp_row(file, bmp, y);
    for (std::size_t at = 0; at < std::size_t{3} * bmp.width; at += 3) {
      image.pixels.push_back({row[at + 2], row[at + 1], row[at], console_opaque});
    }
  }
  return {std::move(image), {}};
}

ImageRead read_bmp_paletted(Bytes file, const std::string& name, const BitmapHeader& bmp) {
  std::uint64_t most = std::uint64_t{1} << bmp.bits;
  std::uint64_t count = read_le<std::uint32_t>(file, bmp_colours_used_field).value_or(0);
  if (count == 0 || count > most) count = most;
  std::uint64_t palette_at = file_header_size + std::uint64_t{bmp.info_size};
  if (!fits(file, palette_at, count * palette_entry_bytes)) {
    return refuse(name, "the palette runs past the end of the file");
  }
  Bytes palette = file.subspan(palette_at, count * palette_entry_bytes);
  unsigned mask = (1u << bmp.bits) - 1;
  Image image{bmp.width, {}, {}, {}};
  for (std::uint32_t y = 0; y < bmp.width; ++y) {
    Bytes row = bmp_row(file, bmp, y);
    for (std::uint32_t x = 0; x < bmp.width; ++x) {
      std::size_t bit = std::size_t{x} * bmp.bits;
      unsigned index = row[bit / 8] >> (8 - bmp.bits - bit % 8) & mask;
      if (index >= count) {
        return refuse(name, "pixel index " + std::to_string(index) + " lies past its palette");
      }
      const std::uint8_t* entry = palette.data() + index * palette_entry_bytes;
      image.pixels.push_back({entry[2], entry[1], entry[0], console_opaque});
    }
  }
  return {std::move(image), {}};
}

ImageRead read_bmp(Bytes file, const std::string& name, std::uint32_t side) {
  std::optional<BitmapHeader> header = read_bitmap_header(file);
  if (!header)
    return refuse(name, "not a bitmap kelp can read (its header is cut short or too old)");
  const BitmapHeader& bmp = *header;
  std::int64_t height = static_cast<std::int32_t>(bmp.height);
  std::int64_t rows = height < 0 ? -height : height;
  if (static_cast<std::int32_t>(bmp.width) != std::int64_t{side} || rows != side) {
    return refuse_size(name, static_cast<std::int32_t>(bmp.width), rows, side);
  }
  if (bmp.compression == compression_rle8 || bmp.compression == compression_rle4) {
    return refuse(name, "compressed (RLE) bitmaps are not supported; save it uncompressed");
  }
  bool masked_bits =
      bmp.compression == compression_bit_fields || bmp.compression == compression_alpha_bit_fields;
  bool colours_ok = bmp.bits == 32 && (bmp.compression == compression_none || masked_bits);
  bool others_ok = (bmp.bits == 24 || bmp.bits == 8 || bmp.bits == 4 || bmp.bits == 1) &&
                   bmp.compression == compression_none;
  if (!colours_ok && !others_ok) {
    return refuse(name, std::to_string(bmp.bits) + "-bit bitmaps with compression " +
                            std::to_string(bmp.compression) + " are not supported");
  }
  if (!fits(file, bmp.pixel_offset, bmp_stride(bmp) * side)) {
    return refuse(name, "its pixels run past the end of the file");
  }
  if (bmp.bits == 32) return read_bmp_32(file, name, bmp);
  if (bmp.bits == 24) return read_bmp_24(file, bmp);
  return read_bmp_paletted(file, name, bmp);
}

}  // namespace

const std::vector<Colour>& pixels_of(const Image& image, std::vector<Colour>& made) {
  if (image.indices.empty()) return image.pixels;
  made.resize(image.indices.size());
  std::transform(image.indices.begin(), image.indices.end(), made.begin(),
                 [&](std::uint8_t index) { return image.palette[index]; });
  return made;
}

ImageRead read_image(Bytes file, const std::string& name, std::uint32_t side) {
  if (is_png(file)) return read_png(file, name, side);
  if (read_le<std::uint16_t>(file, bmp_signature_field) == bmp_signature) {
    return read_bmp(file, name, side);
  }
  return refuse(name, "not a PNG or BMP image");
}

}  // namespace kelp
