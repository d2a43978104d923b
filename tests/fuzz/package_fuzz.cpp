// Package bytes as a ".img" source.
#include <cstddef>
#include <cstdint>

#include "containers/package.h"
#include "scratch.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelp::fuzz::enter_scratch_directory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelp::Bytes source(data, size);
  kelp::Unpack run = kelp::fuzz::fuzz_unpack(data, size);
  kelp::walk_package(run, "fuzz", source);
  kelp::fuzz::empty_scratch_directory();
  return 0;
}
