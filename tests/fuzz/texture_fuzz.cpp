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
  static kelp::TextureOutput output;
  kelp::Bytes record(data + 1, size - 1);
  kelp::Outcome outcome = data[0] & 1 ? kelp::convert_tx8("fuzz", record, output)
                                      : kelp::convert_tx4("fuzz", record, output);
  std::uint16_t side = kelp::read_le<std::uint16_t>(record, kelp::record_side_field).value_or(0);
  bool exists = std::filesystem::exists("fuzz.bmp");
  if (exists != (outcome == kelp::Outcome::written)) std::abort();
  if (exists && std::filesystem::file_size("fuzz.bmp") != kelp::bitmap_file_size(side, side))
    std::abort();
  kelp::fuzz::empty_scratch_directory();
  return 0;
}
