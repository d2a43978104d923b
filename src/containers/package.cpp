#include "containers/package.h"

namespace kelp {

void walk_package(Walk& walk, const std::string& name, Bytes package) {
  for (std::uint32_t index = 0; !walk.stopped; ++index) {
    std::uint64_t slot = std::uint64_t{index} * slot_size;
    auto start = read_le<std::uint16_t>(package, slot + slot_start_field);
    auto length = read_le<std::uint16_t>(package, slot + slot_length_field);
    Entry entry{entry_name(name, index)};
    entry.container = ContainerKind::package;
    entry.index = index;
    if (!start || !length) {
      return report_damaged(walk, std::move(entry),
                            "entry table runs past the end of its container");
    }
    if (*length == 0) return;
    entry.offset = std::uint64_t{*start} * sector_size;
    entry.size = std::uint64_t{*length} * sector_size;
    entry.bytes = tail(package, *entry.offset);
    entry.holder = walk.holder;
    visit_entry(walk, std::move(entry), ArchiveRule::applies);
  }
}

}  // namespace kelp
