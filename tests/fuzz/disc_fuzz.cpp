// Disc image bytes as a ".iso" source: its directories read and every file read at its extent;
// on a bridge disc, its UDF file entries found and each resized.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "disc/disc.h"
#include "disc/udf.h"
#include "scratch.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelp::fuzz::enter_scratch_directory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::ofstream("f.iso", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  kelp::Result<kelp::Disc> disc = kelp::open_disc("f.iso", size);
  if (disc) {
    for (const kelp::DiscFile& file : disc->files) kelp::read_disc_file(*disc, file);
  }
  if (disc && kelp::has_udf_bridge(*disc)) {
    kelp::Result<std::vector<kelp::UdfFile>> files = kelp::udf_files(*disc);
    for (const kelp::UdfFile& file : files ? *files : std::vector<kelp::UdfFile>{}) {
      kelp::resized_udf_entry(*disc, file, file.size / 2);
    }
  }
  kelp::fuzz::empty_scratch_directory();
  return 0;
}
