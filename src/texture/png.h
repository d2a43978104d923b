// Indexed PNG files of textures: the record's own palette and indices, so that an edit can come
// back into the game's files exactly.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "texture/record.h"

namespace kelp {

// The tEXt chunk that tells how the palette's alpha was written: "scaled" from the console's
// 0..128 scale to 0..255, or "raw" as stored (some entry was above 128).
constexpr std::string_view alpha_keyword = "kelp:alpha";
constexpr std::string_view alpha_scaled = "scaled";
constexpr std::string_view alpha_raw = "raw";

// The console's opaque alpha, and its value on the 0..255 scale, the one tie going up.
constexpr std::uint8_t console_opaque = 128;
constexpr std::uint8_t scaled_alpha(std::uint32_t alpha) {
  return static_cast<std::uint8_t>((alpha * 255 + console_opaque / 2) / console_opaque);
}

// Encodes the texture (side above 0) as an indexed PNG of bit depth 4 or 8 into `png`, whose
// capacity is reused. False when the encoder fails.
bool encode_png(const TextureRecord& texture, std::vector<std::uint8_t>& png);

}  // namespace kelp
