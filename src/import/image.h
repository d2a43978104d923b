// Reading an edited texture image (PNG or BMP) back into pixels, alpha as the file holds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"
#include "texture/record.h"

namespace kelp {

// How an image gives its alpha.
enum class ImageAlpha {
  none,    // not at all: the texture's alpha is kept
  scaled,  // on 0..255, as PNG holds it
  bitmap,  // a 32-bit bitmap's: kelp's own hold the console's 0..128, editors may write 0..255
};

// An image of side x side pixels, top row first. An indexed PNG keeps its palette and one index
// per pixel instead (see pixels_of); any other image has pixels only.
struct Image {
  std::uint32_t side = 0;
  std::vector<Colour> pixels;
  std::vector<Colour> palette;
  std::vector<std::uint8_t> indices;
  ImageAlpha alpha = ImageAlpha::scaled;
  std::string alpha_text;  // a PNG's kelp:alpha text, when it has one
};

// The image's pixels: its own, or those its palette and indices give, made in `made`.
const std::vector<Colour>& pixels_of(const Image& image, std::vector<Colour>& made);

// Reads a PNG or BMP file's bytes; its size must be side x side. A refusal is one line that
// names the file by `name` and says why in plain words, the library's own text in parentheses.
Result<Image> read_image(Bytes file, const std::string& name, std::uint32_t side);

}  // namespace kelp
