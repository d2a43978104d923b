// Conversion of TX4 and TX8 texture records into 32-bit bitmap files.
#pragma once

#include "texture/bitmap.h"
#include "texture/record.h"

namespace kelp {

// Writes the bitmap of the texture (side above 0) to the new file `out` through `scratch`, and
// closes it: the palette in index order with red and blue exchanged, rows bottom row first.
// False when that fails: the partial file is removed, with a warning.
bool write_texture_file(OutputFile& out, const TextureRecord& texture, WriteBuffer& scratch);

}  // namespace kelp
