// Loading and storing a texture record's palette and indices in their stored form.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "common/bytes.h"
#include "import/palette.h"

namespace kelp {

enum class TextureKind { tx4, tx8 };

// Where a record keeps its pixels; offsets from the record's first byte.
struct RecordLayout {
  TextureKind kind = TextureKind::tx8;
  std::uint32_t side = 0;
  std::uint32_t palette_offset = 0;
  std::uint32_t indices_offset = 0;
};

// The palette in index order and the indices one per pixel; nothing when the record's
// palette or index data lies past its end.
std::optional<TexturePixels> load_texture(Bytes record, const RecordLayout& layout);

// Stores `pixels` (a full palette, one index per pixel) in the record's stored form: TX8
// palette blocks exchanged, TX4 indices two a byte. Only palette and index bytes change (for
// an odd TX4 pixel count the last byte keeps its high nibble). False, and nothing written, when
// they lie past the record's end or `pixels` does not match the layout.
bool store_texture(std::span<std::uint8_t> record, const RecordLayout& layout,
                   const TexturePixels& pixels);

}  // namespace kelp
