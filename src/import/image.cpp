#include "import/image.h"

#include <spng.h>

#include <algorithm>
#include <memory>
#include <new>

#include "texture/bitmap.h"
#include "texture/png.h"

namespace kelp {

namespace {

Result<Image> refuse(const std::string& name, const std::string& reason) {
  return Refusal{name + ": " + reason};
}

Result<Image> refuse_size(const std::string& name, std::int64_t width, std::int64_t height,
                          std::uint32_t side) {
  std::string texture = std::to_string(side) + "x" + std::to_string(side);
  return Refusal{name + " is " + std::to_string(width) + "x" + std::to_string(height) +
                 ", the texture is " + texture};
}

// ---- PNG ----

constexpr std::uint8_t png_signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// No ancillary chunk (text, profiles) may take more than this, nor all of them together more
// than the cache limit, so a compressed text chunk is never inflated past it.
constexpr std::size_t png_chunk_limit = std::size_t{1} << 20;
constexpr std::size_t png_cache_limit = std::size_t{4} << 20;

constexpr std::size_t rgba_size = 4;  // red, green, blue, alpha: a decoded pixel

using Png = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

bool is_png(Bytes file) {
  return fits(file, 0, sizeof png_signature) &&
         std::equal(std::begin(png_signature), std::end(png_signature), file.begin());
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

Result<Image> decode_indexed_png(spng_ctx* png, const std::string& name, Image image, unsigned bits,
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
    std::uint8_t alpha =
        png_alpha(i < trns.n_type3_entries ? trns.type3_alpha[i] : file_opaque, raw_alpha);
    image.palette.push_back({entry.red, entry.green, entry.blue, alpha});
  }
  image.indices = unpack_indices(rows, image.side, bits);
  std::size_t colours = image.palette.size();
  auto stray = std::find_if(image.indices.begin(), image.indices.end(),
                            [colours](std::uint8_t index) { return index >= colours; });
  if (stray != image.indices.end()) {
    return refuse(name, "pixel index " + std::to_string(*stray) + " lies past its palette");
  }
  return image;
}

Result<Image> decode_png_colours(spng_ctx* png, const std::string& name, Image image,
                                 bool raw_alpha) {
  std::vector<std::uint8_t> rgba(rgba_size * image.side * image.side);
  if (int error =
          spng_decode_image(png, rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS)) {
    return refuse(name, spng_strerror(error));
  }
  image.pixels.reserve(rgba.size() / rgba_size);
  for (std::size_t at = 0; at < rgba.size(); at += rgba_size) {
    image.pixels.push_back(
        {rgba[at], rgba[at + 1], rgba[at + 2], png_alpha(rgba[at + 3], raw_alpha)});
  }
  return image;
}

Result<Image> read_png(Bytes file, const std::string& name, std::uint32_t side) {
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

// kelp's own bitmaps hold the record's alpha (0..128) as stored; editors' masked alpha is on
// 0..255; pixels without alpha are opaque.
Result<Image> read_bmp(Bytes file, const std::string& name, std::uint32_t side) {
  std::optional<BitmapHeader> header = read_bitmap_header(file);
  if (header) {
    std::int64_t height = static_cast<std::int32_t>(header->height);
    std::int64_t width = static_cast<std::int32_t>(header->width);
    if (width != side || (height < 0 ? -height : height) != side) {
      return refuse_size(name, width, height < 0 ? -height : height, side);
    }
  }
  Result<BitmapLayout> layout = read_bitmap_layout(file);
  if (!layout) return refuse(name, layout.refusal);
  Result<std::vector<Colour>> pixels = bitmap_colours(file, *layout);
  if (!pixels) return refuse(name, pixels.refusal);
  bool kelps_own = layout->header.info_size == info_header_size &&
                   layout->header.compression == compression_none;
  for (Colour& pixel : *pixels) {
    pixel.alpha = layout->masks.alpha == 0 ? console_opaque
                  : kelps_own              ? pixel.alpha
                                           : alpha_from_file(pixel.alpha);
  }
  return Image{side, std::move(*pixels), {}, {}};
}

}  // namespace

const std::vector<Colour>& pixels_of(const Image& image, std::vector<Colour>& made) {
  if (image.indices.empty()) return image.pixels;
  made.resize(image.indices.size());
  std::transform(image.indices.begin(), image.indices.end(), made.begin(),
                 [&](std::uint8_t index) { return image.palette[index]; });
  return made;
}

Result<Image> read_image(Bytes file, const std::string& name, std::uint32_t side) {
  if (is_png(file)) return read_png(file, name, side);
  if (read_le<std::uint16_t>(file, bmp_signature_field) == bmp_signature) {
    return read_bmp(file, name, side);
  }
  return refuse(name, "not a PNG or BMP image");
}

}  // namespace kelp
