// Packages: a table of 4-byte slots (start sector, length in sectors) ending at the first slot
// of length 0, followed by the entries, each a run of 2048-byte sectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/bytes.h"

namespace kelp {

constexpr std::size_t sector_size = 2048;
constexpr std::size_t slot_size = 4;
constexpr std::size_t slot_start_field = 0;   // u16, first sector of the entry
constexpr std::size_t slot_length_field = 2;  // u16, sectors; 0 ends the table
constexpr std::uint32_t max_sectors = 0xFFFF;

struct PackageSlot {
  std::uint16_t start = 0;
  std::uint16_t length = 0;  // 0: the slot ends the table
  std::uint64_t first_byte() const { return std::uint64_t{start} * sector_size; }
  std::uint64_t end_sector() const { return std::uint64_t{start} + length; }
};

// Slot `index` of the package's table; nothing when it runs past the package's end.
std::optional<PackageSlot> read_slot(Bytes package, std::uint32_t index);

// The table: the slots before the ending one, and that one's start field.
struct PackageTable {
  std::vector<PackageSlot> slots;
  std::uint16_t ending_start = 0;
  bool whole = false;  // false: the table runs past the package's end
};
PackageTable read_package_table(Bytes package);

}  // namespace kelp
