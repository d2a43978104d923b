// The listing: one line per entry of the container tree, as text or as JSON Lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "containers/walk.h"

namespace kelp {

struct Listing {
  bool json = false;
  std::uint64_t textures = 0, packages = 0, archives = 0, damaged = 0;
  std::uint64_t bitmap_bytes = 0;  // what a full unpack writes in bitmaps
  std::uint64_t files = 0;         // the files of a disc or folder listed
  std::uint32_t depth = 0;         // added to each entry's: 1 under a file of a disc or folder
};

// Prints the entry's line on standard output and counts it.
void list_entry(Listing& listing, const Entry& entry);

// Prints the line of a file of a disc (with its first sector) or of a folder, and counts it.
void list_file(Listing& listing, const std::string& path, std::optional<std::uint32_t> sector,
               std::uint64_t size);

// Text listings end with a line of the counts.
void finish_listing(const Listing& listing);

}  // namespace kelp
