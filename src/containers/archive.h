// Compressed archives: an entry count, a table of entry offsets, and the entries, each a coded
// length followed by that many bytes of LZSS-coded data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/bytes.h"

namespace kelp {

constexpr std::size_t archive_count_field = 0;  // u32
constexpr std::size_t archive_table_field = 4;  // u32 offsets, one per entry
constexpr std::size_t archive_offset_size = 4;
constexpr std::size_t coded_length_size = 4;  // u32 at each entry's offset, then the coded data

// The entry count; nothing when the archive is too short to hold it.
std::optional<std::uint32_t> archive_count(Bytes archive);

// The offset of entry `index`; nothing when the table runs past the archive's end there.
std::optional<std::uint32_t> archive_offset(Bytes archive, std::uint32_t index);

}  // namespace kelp
