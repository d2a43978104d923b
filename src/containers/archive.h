// Compressed archives: an entry count, a table of entry offsets, and the entries, each a coded
// length followed by that many bytes of LZSS-coded data.
#pragma once

#include <cstddef>
#include <string>

#include "common/bytes.h"
#include "containers/walk.h"

namespace kelp {

constexpr std::size_t archive_count_field = 0;  // u32
constexpr std::size_t archive_table_field = 4;  // u32 offsets, one per entry
constexpr std::size_t archive_offset_size = 4;
constexpr std::size_t coded_length_size = 4;  // u32 at each entry's offset, then the coded data

// Decodes every entry of the archive at the start of `archive` (which runs to the end of the
// block holding it) into a work buffer of its own, and hands on what each one decodes to.
void walk_archive(Walk& walk, const std::string& name, Bytes archive);

}  // namespace kelp
