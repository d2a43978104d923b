// What an entry of a container is, decided from its first eight bytes, and how entries are named.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace kelp {

// Tags are the low 24 bits of an entry's first little-endian word; the fourth byte is free.
constexpr std::uint32_t tag_mask = 0xFFFFFF;
constexpr std::uint32_t tag_tx4 = 0x345854;  // "TX4"
constexpr std::uint32_t tag_tx8 = 0x385854;  // "TX8"
constexpr std::uint32_t tag_mot = 0x544F4D;  // "MOT"

// Classification reads two words (or three halves) at an entry's start.
constexpr std::size_t classification_w0_field = 0;  // u32: the tag; an archive's entry count
constexpr std::size_t classification_w1_field = 4;  // u32: an archive's first offset
constexpr std::size_t classification_size = 8;

// What an entry is; damaged entries are those the walk skips with a warning.
enum class EntryKind { tx4, tx8, mot, package, archive, other, damaged };  // listing names them

// Whether the walker asking can take nested compressed archives: packages can, archives cannot.
enum class ArchiveRule { applies, ignored };

// A package's first slot starts past sector 0 and the second slot starts right after it:
// h0 + h1 == h2, summed without wrap-around.
bool package_signature(std::uint16_t h0, std::uint16_t h1, std::uint16_t h2);

// An archive's first entry starts right after its offset table: count * 4 + 8 == first offset,
// in 32-bit arithmetic.
bool archive_signature(std::uint32_t w0, std::uint32_t w1);

// Classifies the entry whose first bytes are `head` (at least classification_size of them).
EntryKind classify_entry(Bytes head, ArchiveRule rule);

// The kind's name in listings: "TX4", "TX8", "MOT", "package", "archive", "other", "damaged".
std::string_view kind_name(EntryKind kind);

// "<container>_<index>", the index in upper-case hexadecimal with at least four digits.
std::string entry_name(std::string_view container, std::uint32_t index);

}  // namespace kelp
