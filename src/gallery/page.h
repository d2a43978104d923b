// The pages that show textures in a browser: one self-contained HTML file each, its style, script
// and data inline, that fetches nothing but the images beside it and works from file://.
// The gallery shows every texture of an unpack as a tile in the container tree; the changes
// page shows, for each file an import read, the texture before and after.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "containers/walk.h"

namespace kelp {

// Finds a palette by its bytes without copying them.
struct PaletteHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view bytes) const {
    return std::hash<std::string_view>{}(bytes);
  }
};

// A browser cannot read a file:// image's pixels, so the palettes are in the page: each distinct
// palette once, deflated as one block.
struct Gallery {
  std::string title;        // the source's file name
  std::uint32_t depth = 0;  // added to each entry's: 1 under a file of a disc or folder
  std::string entries{};    // JSON objects, comma-separated
  std::string palettes{};   // each palette's reds, greens, blues, then alphas, as stored
  // Each palette's bytes: where they are in `palettes`.
  std::unordered_map<std::string, std::size_t, PaletteHash, std::equal_to<>> palette_at{};
};

// Names are shown in UTF-8: on Windows converted from the ANSI code page; elsewhere bytes that are
// not UTF-8 are shown as U+FFFD, as the listing's JSON shows them.

// Adds a file of a disc or folder to the tree, as a heading for its entries.
void add_file_to_gallery(Gallery& gallery, const std::string& path);

// Adds the entry to the tree: containers as headings, textures and damaged entries as tiles.
// `file` is the name of the texture's file in the page's folder; empty when none was written.
void add_to_gallery(Gallery& gallery, const Entry& entry, const std::string& file);

// One file that an import read: what became of it, its warnings, and its texture as PNG files
// before and after (empty when there is none).
struct ChangeRow {
  std::string entry, file, result, detail;
  std::vector<std::string> warnings{};
  std::vector<std::uint8_t> before{}, after{};
};

// What each page shows, as the page holds it.
std::string gallery_data(const Gallery& gallery);
std::string changes_data(const std::string& title, const std::vector<ChangeRow>& rows);

// Writes the page of `data` as `name` in `folder`, never over an existing file (a clash gets a
// suffix); the path written, or nothing, with a warning, when it could not be.
std::optional<std::string> write_page(const std::string& data, const std::string& name,
                                      const std::string& folder);

}  // namespace kelp
