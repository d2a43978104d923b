// The depth-first walk of a container and everything nested in it. The walkers classify, bound,
// name and decode each entry and hand it to the job's handler; what is done with an entry
// (export, listing, re-import) is the handler's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "containers/classify.h"
#include "containers/lzss.h"
#include "texture/record.h"

namespace kelp {

// Limits against small hostile files; files from the game's discs stay far below them.
// Containers nest two or three deep. The nesting bound stops self-referencing or endlessly
// nested files and keeps entry names (five characters longer per level) short; each archive on
// the path holds a 32 MiB work buffer, so archives have a bound of their own.
constexpr std::size_t max_nesting = 32;
constexpr std::size_t max_archive_nesting = 8;
// A package lists at most 65535 sectors' worth of entries; a file whose levels each list the
// same package twice would otherwise be walked 2^32 times.
constexpr std::uint64_t max_entries_visited = std::uint64_t{1} << 22;
// Decoding expands at most nine times, texture export eight (TX4); real files stay well within
// 256 times their size (see output_budget). Each file counts as at least one 4 KiB block, so a
// tiny file cannot scatter millions of little bitmaps.
constexpr std::uint64_t decode_allowance = std::uint64_t{1} << 30;
constexpr std::uint64_t min_file_charge = 4096;

enum class ContainerKind { package, archive };

// One entry as the walk hands it on.
struct Entry {
  std::string name;
  EntryKind kind = EntryKind::other;
  std::uint32_t depth = 0;                           // 0 for the source's own entries
  ContainerKind container = ContainerKind::package;  // what holds the entry
  std::uint32_t index = 0;                    // its slot in the package, or in the offset table
  std::optional<std::uint64_t> offset{};      // start x 2048, or the offset-table value
  std::optional<std::uint64_t> size{};        // length x 2048, or the decoded length
  std::optional<std::uint32_t> coded_size{};  // archive entries: the coded length
  Bytes bytes{};  // from the entry's first byte to the end of the block that holds it
  const WorkBuffer* holder = nullptr;  // the work buffer `bytes` lie in; null: the source
  TextureRecord texture{};             // TX4 and TX8 entries
  std::string damage{};                // damaged entries: why they were skipped
};

// What a job does with the entries. `entry` sees every entry in walk order, a container before
// the entries it holds; `leave`, when set, sees each container again after its entries.
struct Handler {
  std::function<void(const Entry&)> entry;
  std::function<void(const Entry&)> leave{};
  // Set when the handler's jobs may still read an entry's bytes after `entry` has returned:
  // called before a work buffer is decoded into again or freed, it waits for them. Each archive
  // level then alternates between two work buffers, so that one is decoded into while the other is
  // read.
  std::function<void(const WorkBuffer&)> reuse{};
};

struct WalkLimits {
  std::uint64_t max_entries = max_entries_visited;
  std::uint64_t max_output = 0;   // bytes a full unpack may write
  std::uint64_t max_decoded = 0;  // bytes the walk may decode
  bool charge_raw = false;        // MOT and unrecognised entries are written too
};

// The limits for a source of `source_size` bytes.
WalkLimits limits_for(std::uint64_t source_size);

// Walks the source, a package or an archive named `name`. False when a limit stopped the walk
// (named on standard error).
bool walk_source(ContainerKind kind, const std::string& name, Bytes source, const Handler& handler,
                 const WalkLimits& limits);

// A MOT or unrecognised entry's own bytes: its sectors in a package (as far as they lie inside
// the data holding it), its decoded bytes in an archive.
Bytes raw_bytes(const Entry& entry);

}  // namespace kelp
