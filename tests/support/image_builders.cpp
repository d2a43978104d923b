#include "image_builders.h"

#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace kelp::test {

namespace {

constexpr std::size_t png_header_end = 8 + 25;  // signature, then the IHDR chunk

void check(int error) {
  if (error) throw std::runtime_error(spng_strerror(error));
}

}  // namespace

ByteVec png_file(const PngContent& content) {
  std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> png(spng_ctx_new(SPNG_CTX_ENCODER),
                                                          spng_ctx_free);
  check(spng_set_option(png.get(), SPNG_ENCODE_TO_BUFFER, 1));
  spng_ihdr ihdr{content.width, content.height, content.bit_depth, content.colour_type, 0, 0, 0};
  check(spng_set_ihdr(png.get(), &ihdr));
  if (!content.palette.empty()) {
    spng_plte plte{};
    spng_trns trns{};
    plte.n_entries = static_cast<std::uint32_t>(content.palette.size());
    for (std::size_t i = 0; i < content.palette.size(); ++i) {
      const Rgba& c = content.palette[i];
      plte.entries[i] = {c.r, c.g, c.b, 0};
      trns.type3_alpha[i] = c.a;
      if (c.a != 255) trns.n_type3_entries = static_cast<std::uint32_t>(i + 1);
    }
    check(spng_set_plte(png.get(), &plte));
    if (trns.n_type3_entries > 0) check(spng_set_trns(png.get(), &trns));
  }
  std::string text = content.alpha_text;
  if (!text.empty()) {
    spng_text chunk{};
    std::strcpy(chunk.keyword, "kelp:alpha");
    chunk.type = SPNG_TEXT;
    chunk.length = text.size();
    chunk.text = text.data();
    check(spng_set_text(png.get(), &chunk, 1));
  }
  ByteVec rows = content.rows;
  check(spng_encode_image(png.get(), rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE));
  std::size_t size = 0;
  int error = 0;
  auto* bytes = static_cast<std::uint8_t*>(spng_get_png_buffer(png.get(), &size, &error));
  check(error);
  ByteVec file(bytes, bytes + size);
  std::free(bytes);
  return file;
}

ByteVec rgba_png(std::uint32_t side, const std::vector<Rgba>& pixels,
                 const std::string& alpha_text) {
  PngContent content{side, side, 6, 8, {}, {}, alpha_text};
  for (const Rgba& c : pixels) content.rows.insert(content.rows.end(), {c.r, c.g, c.b, c.a});
  return png_file(content);
}

ByteVec with_chunk_after_header(ByteVec png, const std::string& type, const ByteVec& data) {
  ByteVec chunk(4, 0);
  chunk[0] = static_cast<std::uint8_t>(data.size() >> 24);
  chunk[1] = static_cast<std::uint8_t>(data.size() >> 16);
  chunk[2] = static_cast<std::uint8_t>(data.size() >> 8);
  chunk[3] = static_cast<std::uint8_t>(data.size());
  for (char c : type) chunk.push_back(static_cast<std::uint8_t>(c));
  append(chunk, data);
  uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  for (int shift = 24; shift >= 0; shift -= 8)
    chunk.push_back(static_cast<std::uint8_t>(crc >> shift));
  png.insert(png.begin() + png_header_end, chunk.begin(), chunk.end());
  return png;
}

ByteVec with_header_size(ByteVec png, std::uint32_t width, std::uint32_t height) {
  constexpr std::size_t type_at = 12, width_at = 16, crc_at = 29;
  for (int k = 0; k < 4; ++k) {
    png[width_at + k] = static_cast<std::uint8_t>(width >> (24 - 8 * k));
    png[width_at + 4 + k] = static_cast<std::uint8_t>(height >> (24 - 8 * k));
  }
  uLong crc = crc32(0, png.data() + type_at, static_cast<uInt>(crc_at - type_at));
  for (int k = 0; k < 4; ++k) png[crc_at + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
  return png;
}

ByteVec deflated_zeros(std::uint64_t count) {
  z_stream stream{};
  if (deflateInit(&stream, Z_BEST_COMPRESSION) != Z_OK) throw std::runtime_error("deflateInit");
  static const ByteVec zeros(1 << 20, 0);
  ByteVec out;
  std::uint8_t buffer[1 << 16];
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (stream.avail_in == 0 && count > 0) {
      std::uint64_t piece = std::min<std::uint64_t>(count, zeros.size());
      stream.next_in = const_cast<Bytef*>(zeros.data());
      stream.avail_in = static_cast<uInt>(piece);
      count -= piece;
    }
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    result = deflate(&stream, count == 0 ? Z_FINISH : Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
  }
  deflateEnd(&stream);
  return out;
}

}  // namespace kelp::test
