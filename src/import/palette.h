// Turning an edited image into a texture record's palette and indices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "import/image.h"

namespace kelp {

// Which rule made the new pixels, in the order they are tried.
enum class PaletteRule {
  unchanged,      // the image shows the texture as it is: every byte kept
  image_palette,  // an indexed PNG whose palette fits: its palette and indices
  same_palette,   // every colour is in the palette: the palette kept, changed pixels re-indexed
  new_palette,    // few enough colours: a palette of them in order of first appearance
  quantized,      // too many colours: reduced to the palette's size
};

struct PaletteResult {
  PaletteRule rule = PaletteRule::unchanged;
  TexturePixels texture;
  std::size_t image_colours = 0;  // quantized only: distinct colours the image had
  double mean_error = 0;          // quantized only: mean absolute error per channel
};

// The new palette and indices for `image` over `current`, whose palette size (16 or 256) is
// kept. `dither` asks for dithering when the image must be quantized.
PaletteResult image_to_texture(const TexturePixels& current, const Image& image, bool dither);

}  // namespace kelp
