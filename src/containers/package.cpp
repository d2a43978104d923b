#include "containers/package.h"

#include "containers/walker.h"

namespace kelp {

std::optional<PackageSlot> read_slot(Bytes package, std::uint32_t index) {
  std::uint64_t slot = std::uint64_t{index} * slot_size;
  auto start = read_le<std::uint16_t>(package, slot + slot_start_field);
  auto length = read_le<std::uint16_t>(package, slot + slot_length_field);
  if (!start || !length) return std::nullopt;
  return PackageSlot{*start, *length};
}

PackageTable read_package_table(Bytes package) {
  PackageTable table;
  for (std::uint32_t index = 0;; ++index) {
    std::optional<PackageSlot> slot = read_slot(package, index);
    if (!slot) return table;
    if (slot->length == 0) {
      table.ending_start = slot->start;
      table.whole = true;
      return table;
    }
    table.slots.push_back(*slot);
  }
}

void walk_package(Walk& walk, const std::string& name, Bytes package) {
  for (std::uint32_t index = 0; !walk.stopped; ++index) {
    std::optional<PackageSlot> slot = read_slot(package, index);
    Entry entry{entry_name(name, index)};
    entry.container = ContainerKind::package;
    entry.index = index;
    if (!slot) {
      return report_damaged(walk, std::move(entry),
                            "entry table runs past the end of its container");
    }
    if (slot->length == 0) return;
    entry.offset = slot->first_byte();
    entry.size = std::uint64_t{slot->length} * sector_size;
    entry.bytes = tail(package, *entry.offset);
    entry.holder = walk.holder;
    visit_entry(walk, std::move(entry), ArchiveRule::applies);
  }
}

}  // namespace kelp
