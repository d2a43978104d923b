// One texture record: the first byte chooses TX4 or TX8, the rest is the record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "scratch.h"
#include "texture/bitmap.h"
#include "texture/texture.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelp::fuzz::enter_scratch_directory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static kelp::WriteBuffer scratch;
  kelp::Bytes record(data + 1, size - 1);
  auto texture =
      kelp::locate_texture(record, data[0] & 1 ? kelp::tx8_index_bits : kelp::tx4_index_bits);
  if (!texture || texture->side == 0) return 0;
  kelp::OutputFile out = kelp::create_output_file("fuzz.bmp");
  if (!kelp::write_texture_file(out, *texture, scratch)) std::abort();
  if (std::filesystem::file_size("fuzz.bmp") !=
      kelp::bitmap_file_size(texture->side, texture->side))
    std::abort();
  kelp::TexturePixels pixels = kelp::load_texture(*texture);
  std::vector<std::uint8_t> copy(record.begin(), record.end());
  if (!kelp::store_texture(copy, *texture, pixels) ||
      !std::equal(copy.begin(), copy.end(), record.begin()))
    std::abort();
  kelp::fuzz::empty_scratch_directory();
  return 0;
}
