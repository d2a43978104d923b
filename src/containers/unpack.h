// One unpacking run: the depth-first walk of a container and everything nested in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "containers/bytes.h"
#include "containers/classify.h"

namespace kelp {

// Containers nest two or three deep on the game's discs. The bound stops self-referencing or
// endlessly nested files, and keeps entry names (five characters longer per level) short.
constexpr std::size_t max_nesting = 32;

struct Unpack {
  std::vector<const std::uint8_t*> nesting;  // first byte of each container on the current path
  std::vector<std::uint8_t> scratch;         // reused by the texture writers
  bool failed = false;                       // some texture could not be written
};

// Classifies the entry at the start of `entry` (which runs to the end of the block holding it)
// and hands it on: textures to the converters, nested containers to their walkers.
void visit_entry(Unpack& run, const std::string& name, Bytes entry, ArchiveRule rule);

// Puts a container on the nesting path before it is walked; false, with a warning, when it is
// already on the path (it contains itself) or the path is at its deepest.
bool enter_container(Unpack& run, const std::string& name, Bytes container);
void leave_container(Unpack& run);

}  // namespace kelp
