#include "unpack/list.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "common/output.h"
#include "texture/bitmap.h"

namespace kelp {

namespace {

bool is_texture(const Entry& entry) {
  return entry.kind == EntryKind::tx4 || entry.kind == EntryKind::tx8;
}

// Names are file names and may hold bytes that are not UTF-8; those become U+FFFD.
std::string json_line(const Listing& listing, const Entry& entry) {
  nlohmann::ordered_json line;
  line["name"] = entry.name;
  line["kind"] = kind_name(entry.kind);
  line["depth"] = entry.depth + listing.depth;
  if (entry.offset) line["offset"] = *entry.offset;
  if (entry.size) line["size"] = *entry.size;
  if (entry.coded_size) line["coded_size"] = *entry.coded_size;
  if (is_texture(entry)) {
    line["side"] = entry.texture.side;
    line["colours"] = entry.texture.colours();
  }
  if (entry.kind == EntryKind::damaged) line["reason"] = entry.damage;
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string text_line(const Listing& listing, const Entry& entry) {
  std::string line(2 * std::size_t{entry.depth + listing.depth}, ' ');
  line += entry.name + " " + std::string(kind_name(entry.kind));
  if (entry.offset) line += " offset " + std::to_string(*entry.offset);
  if (entry.size) line += " size " + std::to_string(*entry.size);
  if (entry.coded_size) line += " coded " + std::to_string(*entry.coded_size);
  if (is_texture(entry)) {
    line += " side " + std::to_string(entry.texture.side) + " colours " +
            std::to_string(entry.texture.colours());
  }
  if (entry.kind == EntryKind::damaged) line += ": " + entry.damage;
  return line;
}

std::string counted(std::uint64_t count, const std::string& thing) {
  return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

}  // namespace

void list_entry(Listing& listing, const Entry& entry) {
  print_line(listing.json ? json_line(listing, entry) : text_line(listing, entry));
  switch (entry.kind) {
    case EntryKind::tx4:
    case EntryKind::tx8:
      ++listing.textures;
      if (entry.texture.side > 0) {
        listing.bitmap_bytes += bitmap_file_size(entry.texture.side, entry.texture.side);
      }
      break;
    case EntryKind::package:
      ++listing.packages;
      break;
    case EntryKind::archive:
      ++listing.archives;
      break;
    case EntryKind::damaged:
      ++listing.damaged;
      break;
    case EntryKind::mot:
    case EntryKind::other:
      break;
  }
}

void list_file(Listing& listing, const std::string& path, std::optional<std::uint32_t> sector,
               std::uint64_t size) {
  ++listing.files;
  if (listing.json) {
    nlohmann::ordered_json line{{"name", path}, {"kind", "file"}, {"depth", 0}};
    if (sector) line["sector"] = *sector;
    line["size"] = size;
    return print_line(line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  }
  std::string at = sector ? " sector " + std::to_string(*sector) : "";
  print_line(path + " file" + at + " size " + std::to_string(size));
}

void finish_listing(const Listing& listing) {
  if (listing.json) return;
  std::string damaged =
      listing.damaged > 0 ? ", " + std::to_string(listing.damaged) + " damaged" : "";
  std::string files = listing.depth > 0 ? counted(listing.files, "file") + ", " : "";
  print_line(files + counted(listing.textures, "texture") + ", " +
             counted(listing.packages, "package") + ", " + counted(listing.archives, "archive") +
             damaged + "; unpacking writes " + counted(listing.bitmap_bytes, "byte") +
             " of bitmaps");
}

}  // namespace kelp
