// The listing: one line per entry of the container tree, as text or as JSON Lines.
#pragma once

#include <cstdint>

#include "containers/walk.h"

namespace kelp {

struct Listing {
  bool json = false;
  std::uint64_t textures = 0, packages = 0, archives = 0, damaged = 0;
  std::uint64_t bitmap_bytes = 0;  // what a full unpack writes in bitmaps
};

// Prints the entry's line on standard output and counts it.
void list_entry(Listing& listing, const Entry& entry);

// Text listings end with a line of the counts.
void finish_listing(const Listing& listing);

}  // namespace kelp
