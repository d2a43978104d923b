// Archive bytes as a ".dat" source.
#include <cstddef>
#include <cstdint>

#include "containers/archive.h"
#include "scratch.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelp::fuzz::enter_scratch_directory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelp::fuzz::fuzz_walk(data, size, kelp::ContainerKind::archive);
  return 0;
}
