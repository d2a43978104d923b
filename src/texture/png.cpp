#include "texture/png.h"

#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace kelp {

namespace {

// Deflate is the cost of a PNG export: the fastest level, and no filtering, which on these
// pictures costs little size (see the README's figures).
constexpr int compression_level = 1;

struct ContextFree {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

struct Stream {
  std::vector<std::uint8_t>& png;
  bool out_of_memory = false;
};

// Called from libspng's C code, so nothing may be thrown through it: a failure to grow the
// buffer is kept and thrown once the encoder has returned.
int append_to(spng_ctx*, void* user, void* bytes, std::size_t length) noexcept {
  auto* stream = static_cast<Stream*>(user);
  auto* from = static_cast<const std::uint8_t*>(bytes);
  try {
    stream->png.insert(stream->png.end(), from, from + length);
  } catch (const std::bad_alloc&) {
    stream->out_of_memory = true;
    return SPNG_IO_ERROR;
  }
  return 0;
}

// PNG packs 4-bit pixels first pixel high and starts each row on a byte; a TX4 record packs
// them low first and runs rows on across bytes.
std::vector<std::uint8_t> packed_4bit_rows(const TextureRecord& texture) {
  std::uint32_t side = texture.side, row_bytes = (side + 1) / 2;
  std::vector<std::uint8_t> rows(std::size_t{row_bytes} * side, 0);
  if (side % 2 == 0) {  // rows start on a byte in both: swap each byte's nibbles
    std::transform(texture.indices.begin(), texture.indices.end(), rows.begin(),
                   [](std::uint8_t b) {
                     return static_cast<std::uint8_t>(b << tx4_index_bits | b >> tx4_index_bits);
                   });
    return rows;
  }
  for (std::uint64_t y = 0, k = 0; y < side; ++y) {
    std::uint8_t* row = rows.data() + y * row_bytes;
    for (std::uint32_t x = 0; x < side; ++x, ++k) {
      unsigned index = (texture.indices[k / 2] >> (k % 2 * tx4_index_bits)) & tx4_index_mask;
      row[x / 2] =
          static_cast<std::uint8_t>(row[x / 2] | index << (x % 2 == 0 ? tx4_index_bits : 0));
    }
  }
  return rows;
}

int set_palette(spng_ctx* context, const TextureRecord& texture) {
  Palette palette = palette_in_index_order(texture);
  std::size_t colours = texture.colours();
  bool console_scale = on_console_scale(palette, colours);
  spng_plte plte{};
  spng_trns trns{};
  plte.n_entries = static_cast<std::uint32_t>(colours);
  for (std::size_t i = 0; i < colours; ++i) {
    const Colour& c = palette[i];
    plte.entries[i] = {c.red, c.green, c.blue, 0};
    std::uint8_t alpha = console_scale ? alpha_to_file(c.alpha) : c.alpha;
    trns.type3_alpha[i] = alpha;
    if (alpha != file_opaque) trns.n_type3_entries = static_cast<std::uint32_t>(i + 1);
  }
  if (int error = spng_set_plte(context, &plte)) return error;
  if (trns.n_type3_entries > 0) {
    if (int error = spng_set_trns(context, &trns)) return error;
  }
  std::string_view rule = console_scale ? alpha_scaled : alpha_raw;
  spng_text text{};
  std::memcpy(text.keyword, alpha_keyword.data(), alpha_keyword.size());
  text.type = SPNG_TEXT;
  text.length = rule.size();
  text.text = const_cast<char*>(rule.data());
  return spng_set_text(context, &text, 1);
}

int set_header(spng_ctx* context, const TextureRecord& texture) {
  spng_ihdr ihdr{texture.side,
                 texture.side,
                 static_cast<std::uint8_t>(texture.bits_per_index),
                 SPNG_COLOR_TYPE_INDEXED,
                 0,
                 0,
                 0};
  if (int error = spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, compression_level)) {
    return error;
  }
  if (int error = spng_set_option(context, SPNG_FILTER_CHOICE, SPNG_DISABLE_FILTERING)) {
    return error;
  }
  if (int error = spng_set_ihdr(context, &ihdr)) return error;
  return set_palette(context, texture);
}

}  // namespace

bool encode_png(const TextureRecord& texture, std::vector<std::uint8_t>& png) {
  png.clear();
  Context context(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!context) return false;
  spng_ctx* c = context.get();
  Stream stream{png};
  if (spng_set_png_stream(c, append_to, &stream) != 0 || set_header(c, texture) != 0) return false;
  std::vector<std::uint8_t> rows;
  Bytes image = texture.indices;  // TX8 rows are already PNG rows
  if (texture.bits_per_index == tx4_index_bits) {
    rows = packed_4bit_rows(texture);
    image = rows;
  }
  int error = spng_encode_image(c, image.data(), image.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  if (stream.out_of_memory) throw std::bad_alloc();
  return error == 0;
}

}  // namespace kelp
