// A container and one changed entry: the first byte chooses package or archive and which slot
// changes; the rebuilt container must walk without harm and hold the change.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "containers/walk.h"
#include "import/rebuild.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  bool package = data[0] & 1;
  kelp::Bytes container(data + 2, size - 2);
  std::uint64_t slot = (data[0] >> 1) * 4u;
  std::uint64_t key = package ? kelp::read_le<std::uint32_t>(container, slot).value_or(0)
                              : kelp::read_le<std::uint32_t>(container, 4 + slot).value_or(0);
  if (package) key = (key & 0xFFFF) << 16 | key >> 16;  // start, length
  kelp::ByteBuffer bytes(data[1] * 97u, data[1]);
  kelp::Result<kelp::Rebuilt> rebuilt = package ? kelp::rebuild_package(container, {{key, bytes}})
                                                : kelp::rebuild_archive(container, {{key, bytes}});
  if (!rebuilt == rebuilt.refusal.empty()) std::abort();
  if (!rebuilt) return 0;
  kelp::ByteBuffer whole = kelp::whole_bytes(container, std::move(*rebuilt));
  kelp::WalkLimits limits = kelp::limits_for(whole.size());
  limits.max_entries = 20000;
  limits.max_decoded = std::uint64_t{64} << 20;
  kelp::walk_source(package ? kelp::ContainerKind::package : kelp::ContainerKind::archive, "fuzz",
                    whole, {[](const kelp::Entry&) {}}, limits);
  return 0;
}
