// Conversion of TX4 and TX8 texture records into 32-bit bitmap files.
#pragma once

#include <string>

#include "common/bytes.h"
#include "texture/bitmap.h"
#include "texture/record.h"

namespace kelp {

// written: the bitmap is complete; skipped: nothing to write, or the record is damaged (warned);
// failed: the bitmap could not be written (warned).
enum class Outcome { written, skipped, failed };

// What a conversion uses: a reusable buffer, and the folder the bitmaps go to (empty: the
// current folder).
struct TextureOutput {
  WriteBuffer scratch;
  std::string folder;
};

// Writes the bitmap of the texture (side above 0) to the new file `out` through `scratch`, and
// closes it. False when that fails: the partial file is removed, with a warning.
bool write_texture_file(OutputFile& out, const TextureRecord& texture, WriteBuffer& scratch);

// Writes the texture as "<name>.bmp": the palette in index order with red and blue exchanged,
// rows bottom row first. Nothing for side 0.
Outcome write_texture_bitmap(const std::string& name, const TextureRecord& texture,
                             TextureOutput& output);

// Locates the record at the start of `record` (which runs to the end of the buffer that holds
// it) and writes it as "<name>.bmp". A damaged record is skipped with a warning, before any file
// is created; the record itself is never changed.
Outcome convert_tx4(const std::string& name, Bytes record, TextureOutput& output);
Outcome convert_tx8(const std::string& name, Bytes record, TextureOutput& output);

}  // namespace kelp
