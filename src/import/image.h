// Reading an edited texture image (PNG or BMP) back into pixels in the record's terms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"
#include "texture/record.h"

namespace kelp {

// An image of side x side pixels, top row first. An indexed PNG keeps its palette and one index
// per pixel instead (see pixels_of); any other image has pixels only.
struct Image {
  std::uint32_t side = 0;
  std::vector<Colour> pixels;
  std::vector<Colour> palette;
  std::vector<std::uint8_t> indices;
};

// The image's pixels: its own, or those its palette and indices give, made in `made`.
const std::vector<Colour>& pixels_of(const Image& image, std::vector<Colour>& made);

// Reads a PNG or BMP file's bytes; its size must be side x side. `name` is used in refusals.
Result<Image> read_image(Bytes file, const std::string& name, std::uint32_t side);

}  // namespace kelp
