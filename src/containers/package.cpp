#include "containers/package.h"

#include "platform/platform.h"

namespace kelp {

void walk_package(Unpack& run, const std::string& name, Bytes package) {
  for (std::uint32_t index = 0; !run.stopped; ++index) {
    std::uint64_t slot = std::uint64_t{index} * slot_size;
    auto start = read_le<std::uint16_t>(package, slot + slot_start_field);
    auto length = read_le<std::uint16_t>(package, slot + slot_length_field);
    if (!start || !length) {
      platform::warn(entry_name(name, index), "entry table runs past the end of its container");
      return;
    }
    if (*length == 0) return;
    Bytes entry = tail(package, std::uint64_t{*start} * sector_size);
    visit_entry(run, entry_name(name, index), entry, ArchiveRule::applies);
  }
}

}  // namespace kelp
