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
  double mean_error = 0;          // quantized only: see quantization_error
  std::size_t alpha_only = 0;     // pixels whose colour stayed and whose alpha changed
};

// Two pixels look the same: equal, or both fully clear whatever their colour.
bool same_visible(Colour a, Colour b);

// Puts the image's alpha on the record's scale, which the texture decides: on the console's
// scale (every palette alpha at most 128) alpha read from a file on 0..255 is mapped as
// round(v * 128 / 255); a bitmap's alpha counts as on the console's scale when no value passes
// 128. A raw record takes alpha as stored. An image without alpha takes the texture's pixel by
// pixel; this returns true when that kept some transparency (a pixel that is not opaque).
bool settle_alpha(Image& image, const TexturePixels& current, bool console_scale);

// The mean absolute error of a quantized texture against the image's pixels, per channel, over
// the pixels the image shows (alpha above 0): each colour channel's error weighted by the
// pixel's alpha (opaque counting whole), alpha's own error counted once.
double quantization_error(const std::vector<Colour>& pixels, const TexturePixels& texture);

// The new palette and indices for `image` over `current`, whose palette size (16 or 256) is
// kept. `dither` asks for dithering when the image must be quantized.
PaletteResult image_to_texture(const TexturePixels& current, const Image& image, bool dither);

}  // namespace kelp
