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
  kelp::Unpack run = kelp::start_unpack(size);
  run.nesting.push_back(source.data());
  kelp::walk_package(run, "fuzz", source);
  kelp::fuzz::empty_scratch_directory();
  return 0;
}
