// Rebuilding a package or an archive with some entries replaced. Only what changed is
// rebuilt: every byte of an unchanged entry, and the coded bytes of an unchanged archive entry,
// stay as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kelp {

using ByteBuffer = std::vector<std::uint8_t>;

// The new bytes of the entries a package's slots name by (start, length); in an archive, the
// new decoded bytes of the entries its table names by offset.
struct EntryChange {
  std::uint64_t key = 0;  // package_key(start, length), or the offset-table value
  ByteBuffer bytes{};
};

constexpr std::uint64_t package_key(std::uint16_t start, std::uint16_t length) {
  return std::uint64_t{start} << 16 | length;
}

// New bytes written over a container's own, at a byte offset.
struct Patch {
  std::uint64_t offset = 0;
  ByteBuffer bytes{};
};

// A rebuilt container: its new bytes whole, or, when every entry keeps its place, its old bytes
// with patches written over them in order (the large file of a disc is then written in pieces).
struct Rebuilt {
  ByteBuffer bytes{};
  bool in_place = false;
  std::vector<Patch> patches{};  // when in place
  std::size_t moved = 0;         // entries whose position changed
  std::size_t recoded = 0;       // archive entries coded anew
};

// The rebuilt container's bytes whole; `old` is the container it was rebuilt from.
ByteBuffer whole_bytes(Bytes old, Rebuilt rebuilt);

// Refusals name nothing: the caller names the container.
// `package` is the package's own bytes. Entries that keep their number of sectors are rewritten
// in place. Otherwise the entries are laid out again in the order of their start sectors, the
// first at its old start and each following directly; the bytes before the first entry, and
// those after the last, stay; slots that shared an entry still share it, and an ending slot
// that pointed just past the last entry still does.
Result<Rebuilt> rebuild_package(Bytes package, const std::vector<EntryChange>& changes);

// `archive` is the archive's own bytes. The count and the four bytes after the offset table
// stay; the first entry follows them, the others follow in table order; shared offsets stay
// shared; changed entries are coded anew.
Result<Rebuilt> rebuild_archive(Bytes archive, const std::vector<EntryChange>& changes);

}  // namespace kelp
