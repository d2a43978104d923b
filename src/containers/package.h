// Packages: a table of 4-byte slots (start sector, length in sectors) ending at the first slot
// of length 0, followed by the entries, each a run of 2048-byte sectors.
#pragma once

#include <cstddef>
#include <string>

#include "common/bytes.h"
#include "containers/walk.h"

namespace kelp {

constexpr std::size_t sector_size = 2048;
constexpr std::size_t slot_size = 4;
constexpr std::size_t slot_start_field = 0;   // u16, first sector of the entry
constexpr std::size_t slot_length_field = 2;  // u16, sectors; 0 ends the table

// Visits every entry of the package at the start of `package`, which runs to the end of the
// block that holds it.
void walk_package(Walk& walk, const std::string& name, Bytes package);

}  // namespace kelp
