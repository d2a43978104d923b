// Indexed PNG files of textures: the record's own palette and indices, so that an edit can come
// back into the game's files exactly.
#pragma once

#include <string_view>
#include <vector>

#include "texture/record.h"

namespace kelp {

// The tEXt chunk that tells how the palette's alpha was written: "scaled" from the console's
// 0..128 scale to 0..255, or "raw" as stored (some entry was above 128).
constexpr std::string_view alpha_keyword = "kelp:alpha";
constexpr std::string_view alpha_scaled = "scaled";
constexpr std::string_view alpha_raw = "raw";

// Encodes the texture (side above 0) as an indexed PNG of bit depth 4 or 8 into `png`, whose
// capacity is reused. False when the encoder fails; throws bad_alloc when `png` cannot grow.
bool encode_png(const TextureRecord& texture, std::vector<std::uint8_t>& png);

}  // namespace kelp
