#include "png_files.h"

#include <spng.h>

#include <memory>
#include <stdexcept>

namespace kelp::test {

namespace {

struct Free {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
using Context = std::unique_ptr<spng_ctx, Free>;

void check(int error) {
  if (error != 0) throw std::runtime_error(std::string("libspng: ") + spng_strerror(error));
}

}  // namespace

DecodedPng decode_png(const ByteVec& png) {
  Context c(spng_ctx_new(0));
  check(spng_set_png_buffer(c.get(), png.data(), png.size()));
  spng_ihdr ihdr{};
  check(spng_get_ihdr(c.get(), &ihdr));
  DecodedPng out;
  out.width = ihdr.width, out.height = ihdr.height, out.bit_depth = ihdr.bit_depth;
  out.colour_type = ihdr.color_type, out.interlace = ihdr.interlace_method;
  spng_plte plte{};
  spng_trns trns{};
  bool has_trns = spng_get_trns(c.get(), &trns) == 0;
  if (spng_get_plte(c.get(), &plte) == 0) {
    for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
      std::uint8_t alpha = has_trns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
      out.palette.push_back(
          {plte.entries[i].red, plte.entries[i].green, plte.entries[i].blue, alpha});
    }
  }
  out.transparency_entries = has_trns ? trns.n_type3_entries : 0;
  std::uint32_t n_text = 0;
  if (spng_get_text(c.get(), nullptr, &n_text) == 0) {
    std::vector<spng_text> texts(n_text);
    check(spng_get_text(c.get(), texts.data(), &n_text));
    for (const spng_text& t : texts)
      out.texts.emplace_back(t.keyword, std::string(t.text, t.length));
  }
  std::size_t size = 0;
  check(spng_decoded_image_size(c.get(), SPNG_FMT_RGBA8, &size));
  ByteVec rgba(size);
  check(spng_decode_image(c.get(), rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS));
  for (std::size_t i = 0; i + 3 < size; i += 4)
    out.pixels.push_back({rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]});
  if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
    Context again(spng_ctx_new(0));
    check(spng_set_png_buffer(again.get(), png.data(), png.size()));
    check(spng_decoded_image_size(again.get(), SPNG_FMT_PNG, &size));
    ByteVec packed(size);
    check(spng_decode_image(again.get(), packed.data(), size, SPNG_FMT_PNG, 0));
    std::size_t row = size / ihdr.height;
    for (std::uint32_t y = 0; y < ihdr.height; ++y) {
      for (std::uint32_t x = 0; x < ihdr.width; ++x) {
        std::uint8_t b = packed[y * row + x * ihdr.bit_depth / 8];
        out.indices.push_back(ihdr.bit_depth == 8 ? b : (x % 2 == 0 ? b >> 4 : b & 0x0F));
      }
    }
  }
  return out;
}

}  // namespace kelp::test
