// Fuzz targets run in a scratch directory of their own, emptied after every input, so that
// the bitmaps they write never pile up.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "containers/walk.h"
#include "unpack/export.h"

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

// Unpacks `size` bytes as a source of the given kind, with limits far below a real run's so
// that each input is quick, and empties the scratch directory afterwards.
inline void fuzz_walk(const std::uint8_t* data, std::size_t size, kelp::ContainerKind kind) {
  kelp::WalkLimits limits = kelp::limits_for(size);
  limits.max_entries = 20000;
  limits.max_output = (std::uint64_t{1} << 20) + 16 * size;
  limits.max_decoded = (std::uint64_t{2} << 20) + 16 * size;
  limits.charge_raw = true;
  kelp::Export job{.raw = true, .pool = kelp::WorkerPool(2)};
  kelp::walk_source(kind, "fuzz", kelp::Bytes(data, size), kelp::export_handler(job), limits);
  kelp::finish_export(job);
  empty_scratch_directory();
}

}  // namespace kelp::fuzz
