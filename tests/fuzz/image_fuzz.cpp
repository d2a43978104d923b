// An image file given for a texture: the first byte chooses the texture's side (1 to 64) and
// the form kelp turns it into (TX4 or TX8); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "import/image.h"
#include "import/palette.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::uint32_t side = 1 + (data[0] & 63);
  kelp::Result<kelp::Image> read =
      kelp::read_image(kelp::Bytes(data + 1, size - 1), "fuzz.png", side);
  if (!read == read.refusal.empty()) std::abort();
  if (!read) return 0;
  std::vector<kelp::Colour> made;
  if (kelp::pixels_of(*read, made).size() != std::size_t{side} * side) std::abort();
  std::size_t colours = data[0] & 64 ? 256 : 16;
  kelp::TexturePixels current{std::vector<kelp::Colour>(colours),
                              std::vector<std::uint8_t>(std::size_t{side} * side, 0)};
  current.palette[1] = {1, 2, 3, 200};  // clear entry 0, an entry above the console's scale
  for (std::size_t i = 0; i < current.indices.size(); i += 3) current.indices[i] = 1;
  kelp::settle_alpha(*read, current, data[0] & 32);
  if (kelp::pixels_of(*read, made).size() != std::size_t{side} * side) std::abort();
  kelp::PaletteResult result = kelp::image_to_texture(current, *read, data[0] & 128);
  if (result.texture.palette.size() != colours) std::abort();
  for (std::uint8_t index : result.texture.indices)
    if (index >= colours) std::abort();
  return 0;
}
