// The unpack: every texture as a bitmap and, with --raw, every MOT record and unrecognised entry
// as its own bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "containers/walk.h"
#include "texture/texture.h"

namespace kelp {

struct Export {
  TextureOutput output;  // the folder and the bitmap buffer
  bool raw = false;
  bool png = false;                // textures as indexed PNGs instead of bitmaps
  std::vector<std::uint8_t> file;  // the PNG being written
  bool failed = false;             // some file could not be written (named on standard error)
};

void export_entry(Export& job, const Entry& entry);

}  // namespace kelp
