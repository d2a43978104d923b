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
  return Refusal{name + " " + reason};
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

// Why libspng refused the file, in words.
std::string png_refusal(int error) {
  std::string library = spng_strerror(error);
  switch (error) {
    case SPNG_IO_EOF:
    case SPNG_EOF:
    case SPNG_EIDAT_TOO_SHORT:
      return "is cut short";
    case SPNG_ECHUNK_CRC:
      return "is damaged (its CRC does not match)";
    case SPNG_ECHUNK_LIMITS:
      return "holds chunks larger than kelp reads (" + library + ")";
    default:
      return "is damaged (" + library + ")";
  }
}

// The text of the file's kelp:alpha chunk, or the library's error when its text chunks cannot
// be read (over the chunk limits).
int read_alpha_text(spng_ctx* png, std::string& alpha_text) {
  std::uint32_t count = 0;
  int error = spng_get_text(png, nullptr, &count);
  if (error == SPNG_ECHUNKAVAIL || (error == 0 && count == 0)) return 0;
  std::vector<spng_text> texts(count);
  if (error != 0 || (error = spng_get_text(png, texts.data(), &count)) != 0) return error;
  for (const spng_text& text : texts) {
    if (text.type == SPNG_TEXT && text.keyword == alpha_keyword) {
      alpha_text.assign(text.text, text.length);
    }
  }
  return 0;
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

Result<Image> decode_indexed_png(spng_ctx* png, const std::string& name, Image image,
                                 unsigned bits) {
  spng_plte plte{};
  if (int error = spng_get_plte(png, &plte)) return refuse(name, png_refusal(error));
  spng_trns trns{};
  if (spng_get_trns(png, &trns) != 0) image.alpha = ImageAlpha::none;
  std::size_t size = 0;
  if (int error = spng_decoded_image_size(png, SPNG_FMT_PNG, &size)) {
    return refuse(name, png_refusal(error));
  }
  std::vector<std::uint8_t> rows(size);
  if (int error = spng_decode_image(png, rows.data(), rows.size(), SPNG_FMT_PNG, 0)) {
    return refuse(name, png_refusal(error));
  }
  for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
    const spng_plte_entry& entry = plte.entries[i];
    std::uint8_t alpha = i < trns.n_type3_entries ? trns.type3_alpha[i] : file_opaque;
    image.palette.push_back({entry.red, entry.green, entry.blue, alpha});
  }
  image.indices = unpack_indices(rows, image.side, bits);
  std::size_t colours = image.palette.size();
  auto stray = std::find_if(image.indices.begin(), image.indices.end(),
                            [colours](std::uint8_t index) { return index >= colours; });
  if (stray != image.indices.end()) {
    return refuse(name,
                  "is damaged (pixel index " + std::to_string(*stray) + " lies past its palette)");
  }
  return image;
}

Result<Image> decode_png_colours(spng_ctx* png, const std::string& name, Image image,
                                 const spng_ihdr& ihdr) {
  spng_trns trns{};
  bool alpha_channel = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  if (!alpha_channel && spng_get_trns(png, &trns) != 0) image.alpha = ImageAlpha::none;
  std::vector<std::uint8_t> rgba(rgba_size * image.side * image.side);
  if (int error =
          spng_decode_image(png, rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS)) {
    return refuse(name, png_refusal(error));
  }
  image.pixels.reserve(rgba.size() / rgba_size);
  for (std::size_t at = 0; at < rgba.size(); at += rgba_size) {
    image.pixels.push_back({rgba[at], rgba[at + 1], rgba[at + 2], rgba[at + 3]});
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
  if (int error = spng_get_ihdr(png.get(), &ihdr)) return refuse(name, png_refusal(error));
  if (ihdr.width != side || ihdr.height != side) {
    return refuse_size(name, ihdr.width, ihdr.height, side);
  }
  Image image{side, {}, {}, {}, ImageAlpha::scaled, {}};
  if (int error = read_alpha_text(png.get(), image.alpha_text)) {
    return refuse(name, png_refusal(error));
  }
  if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
    return decode_indexed_png(png.get(), name, std::move(image), ihdr.bit_depth);
  }
  return decode_png_colours(png.get(), name, std::move(image), ihdr);
}

// ---- BMP ----

// The information-header sizes of bitmaps: 40 bytes, and the versions after it (52, 56, V4, V5).
constexpr std::uint32_t known_info_sizes[] = {40, 52, 56, 108, 124};

Result<Image> read_bmp(Bytes file, const std::string& name, std::uint32_t side) {
  if (!fits(file, 0, bitmap_header_size)) return refuse(name, "is cut short");
  std::uint32_t info_size = *read_le<std::uint32_t>(file, bmp_info_size_field);
  if (std::find(std::begin(known_info_sizes), std::end(known_info_sizes), info_size) ==
      std::end(known_info_sizes)) {
    return refuse(name, "has an unknown BMP header size (" + std::to_string(info_size) + ")");
  }
  std::int64_t width = static_cast<std::int32_t>(*read_le<std::uint32_t>(file, bmp_width_field));
  std::int64_t height = static_cast<std::int32_t>(*read_le<std::uint32_t>(file, bmp_height_field));
  if (width != side || (height < 0 ? -height : height) != side) {
    return refuse_size(name, width, height < 0 ? -height : height, side);
  }
  Result<BitmapLayout> layout = read_bitmap_layout(file);
  if (!layout) {
    bool cut = layout.refusal.find("past the end") != std::string::npos;
    return refuse(name,
                  (cut ? "is cut short (" : "is not a bitmap kelp reads (") + layout.refusal + ")");
  }
  if (!layout->masks_readable) {
    return refuse(name, "is not a bitmap kelp reads (unreadable bit-field masks)");
  }
  Result<std::vector<Colour>> pixels = bitmap_colours(file, *layout);
  if (!pixels) return refuse(name, "is damaged (" + pixels.refusal + ")");
  ImageAlpha alpha = layout->masks.alpha == 0 ? ImageAlpha::none : ImageAlpha::bitmap;
  return Image{side, std::move(*pixels), {}, {}, alpha, {}};
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
  return refuse(name, "is not a PNG or BMP");
}

}  // namespace kelp
