// Fuzz targets run in a scratch directory of their own, emptied after every input, so that
// the bitmaps they write never pile up.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "containers/unpack.h"

namespace kelp::fuzz {

inline void enter_scratch_directory() {
  std::filesystem::path base =
      std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  std::string pattern = (base / "kelp-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr || ::chdir(pattern.c_str()) != 0) std::abort();
}

inline void empty_scratch_directory() {
  for (const auto& entry : std::filesystem::directory_iterator("."))
    std::filesystem::remove_all(entry.path());
}

// Walks `size` bytes by `walk` as a source, with limits far below a real run's so that each
// input is quick, and empties the scratch directory afterwards.
template <typename Walk>
void fuzz_walk(const std::uint8_t* data, std::size_t size, Walk walk) {
  kelp::Unpack run = kelp::start_unpack(size);
  run.max_entries = 20000;
  run.max_output = (std::uint64_t{1} << 20) + 16 * size;
  run.max_decoded = (std::uint64_t{2} << 20) + 16 * size;
  run.nesting.push_back(data);
  walk(run, "fuzz", kelp::Bytes(data, size));
  empty_scratch_directory();
}

}  // namespace kelp::fuzz
