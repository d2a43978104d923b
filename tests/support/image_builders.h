// PNG files for the import tests and fuzz seeds, encoded by libspng, and hostile pieces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builders.h"

namespace kelp::test {

struct PngContent {
  std::uint32_t width = 0, height = 0;
  std::uint8_t colour_type = 6, bit_depth = 8;  // PNG's own codes: 0 grey, 2 RGB, 3 indexed, 6 RGBA
  ByteVec rows;               // the samples as the PNG holds them: packed, 16-bit big-endian
  std::vector<Rgba> palette;  // indexed only; a tRNS chunk is written when an alpha is < 255
  std::string alpha_text;     // the text of a "kelp:alpha" tEXt chunk, or none when empty
};

ByteVec png_file(const PngContent& content);

// An RGBA PNG of the given colours (top row first), each colour's alpha as the file holds it.
ByteVec rgba_png(std::uint32_t side, const std::vector<Rgba>& pixels,
                 const std::string& alpha_text = "");

// The PNG with one more chunk (its CRC computed) right after the header chunk.
ByteVec with_chunk_after_header(ByteVec png, const std::string& type, const ByteVec& data);

// The PNG with its header's width and height replaced (the header's CRC computed again).
ByteVec with_header_size(ByteVec png, std::uint32_t width, std::uint32_t height);

// A zlib stream that inflates to `count` zero bytes.
ByteVec deflated_zeros(std::uint64_t count);

}  // namespace kelp::test
