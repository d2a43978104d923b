// PNG files for the tests, read and written with libspng directly (CRC checks on), apart from
// the code under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builders.h"

namespace kelp::test {

struct DecodedPng {
  std::uint32_t width = 0, height = 0;
  unsigned bit_depth = 0, colour_type = 0, interlace = 0;
  std::vector<Rgba> palette;             // PLTE, alpha from tRNS (255 past its end)
  std::size_t transparency_entries = 0;  // tRNS entries present
  std::vector<std::pair<std::string, std::string>> texts;  // tEXt keyword, text
  std::vector<std::uint8_t> indices;  // one per pixel, top row first (indexed images)
  std::vector<Rgba> pixels;           // RGBA8, top row first
};

// Throws when the bytes are not a valid PNG.
DecodedPng decode_png(const ByteVec& png);

}  // namespace kelp::test
