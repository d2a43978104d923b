#include "disc/disc.h"

#include <cdio/iso9660.h>
#include <cdio/logging.h>

#include <algorithm>
#include <array>
#include <set>

#include "common/diagnostics.h"

namespace kelp {

namespace {

// A directory record: its length, the extent's first sector and the data length (both in both
// byte orders), flags, and the name. Records do not cross a sector's end; a length of 0 ends
// the sector's records.
constexpr std::size_t record_length_field = 0;        // u8
constexpr std::size_t record_extent_field = 2;        // u32, little-endian then big-endian
constexpr std::size_t record_data_length_field = 10;  // u32, little-endian then big-endian
constexpr std::size_t record_flags_field = 25;        // u8
constexpr std::uint8_t record_flag_directory = 0x02;
constexpr std::size_t record_name_length_field = 32;  // u8
constexpr std::size_t record_name_field = 33;

// Hands each record of a folder's extent to `visit`, with the record's offset in the image.
// False when a record does not lie inside its sector or does not hold its name. (The library
// trusts both, and reads past its buffer; every folder is checked so before it reads it.)
template <typename Visit>
bool each_record(const Disc& disc, DiscExtent folder, Visit visit) {
  std::uint32_t sectors = (folder.size + disc_sector_size - 1) / disc_sector_size;
  std::array<std::uint8_t, disc_sector_size> block;
  for (std::uint32_t i = 0; i < sectors; ++i) {
    lsn_t sector = static_cast<lsn_t>(folder.sector + i);
    if (iso9660_iso_seek_read(disc.image.get(), block.data(), sector, 1) !=
        static_cast<long>(block.size())) {
      return false;
    }
    for (std::size_t at = 0; at < block.size();) {
      std::size_t length = *read_le<std::uint8_t>(block, at + record_length_field);
      if (length == 0) break;
      std::optional<std::uint8_t> name_length =
          read_le<std::uint8_t>(block, at + record_name_length_field);
      if (!name_length || length < record_name_field + *name_length || !fits(block, at, length)) {
        return false;
      }
      visit(Bytes(block).subspan(at, length),
            (std::uint64_t{folder.sector} + i) * disc_sector_size + at);
      at += length;
    }
  }
  return true;
}

// A file's version (";1") is not part of its name.
std::string without_version(const std::string& name) {
  std::size_t mark = name.rfind(';');
  return mark == std::string::npos ? name : name.substr(0, mark);
}

struct Reading {
  Disc& disc;
  std::set<lsn_t> folders_seen;
  bool stopped = false;
};

bool inside_image(const Disc& disc, const iso9660_stat_t& stat) {
  if (stat.lsn < 0) return false;
  std::uint64_t start = static_cast<std::uint64_t>(stat.lsn) * disc_sector_size;
  return start <= disc.size && stat.size <= disc.size - start;
}

void read_folder(Reading& reading, const std::string& path, const iso9660_stat_t& stat,
                 std::size_t depth);

void skip(Reading& reading, const std::string& what, const std::string& why) {
  ++reading.disc.skipped;
  warn(what, why + "; skipped");
}

// Takes one directory record: a file is kept, a folder is read in turn.
void take_record(Reading& reading, const std::string& folder, const iso9660_stat_t& stat,
                 std::size_t depth) {
  std::string name = stat.filename;
  if (name == "." || name == "..") return;
  std::string shown = folder + without_version(name);
  if (!inside_image(reading.disc, stat))
    return skip(reading, shown, "lies past the end of the image");
  if (stat.type == iso9660_stat_s::_STAT_DIR) {
    if (!reading.folders_seen.insert(stat.lsn).second) {
      return skip(reading, shown, "is a folder already read (a loop)");
    }
    if (depth + 1 >= max_disc_folder_depth) {
      return skip(reading, shown,
                  "is nested more than " + std::to_string(max_disc_folder_depth) + " folders deep");
    }
    return read_folder(reading, "/" + folder + name + "/", stat, depth + 1);
  }
  if (reading.disc.files.size() == max_disc_files) {
    reading.stopped = true;
    return skip(reading, shown,
                "is past the first " + std::to_string(max_disc_files) +
                    " files of the image (as is every later one)");
  }
  reading.disc.files.push_back({shown, static_cast<std::uint32_t>(stat.lsn), stat.size});
}

void read_folder(Reading& reading, const std::string& path, const iso9660_stat_t& stat,
                 std::size_t depth) {
  if (stat.size > max_directory_size) {
    return skip(reading, path, "is a folder of " + std::to_string(stat.size) + " bytes");
  }
  DiscExtent extent{static_cast<std::uint32_t>(stat.lsn), stat.size};
  if (!each_record(reading.disc, extent, [](Bytes, std::uint64_t) {})) {
    return skip(reading, path, "is a folder with a damaged record");
  }
  reading.disc.folders.push_back(extent);
  CdioList_t* list = iso9660_ifs_readdir(reading.disc.image.get(), path.c_str());
  if (list == nullptr) return skip(reading, path, "is a folder that cannot be read");
  std::vector<const iso9660_stat_t*> records;
  for (CdioListNode_t* node = _cdio_list_begin(list); node != nullptr;
       node = _cdio_list_node_next(node)) {
    records.push_back(static_cast<const iso9660_stat_t*>(_cdio_list_node_data(node)));
  }
  std::sort(records.begin(), records.end(), [](auto* a, auto* b) {
    return std::string_view(a->filename) < std::string_view(b->filename);
  });
  std::string folder = path.substr(1);  // "DATA/" of "/DATA/"
  for (const iso9660_stat_t* record : records) {
    if (reading.stopped) break;
    take_record(reading, folder, *record, depth);
  }
  iso9660_filelist_free(list);
}

}  // namespace

Result<Disc> open_disc(const std::string& path, std::uint64_t size) {
  // The library would print its own messages on standard output, which carries only kelp's;
  // what it finds wrong, kelp says in its own warnings.
  cdio_log_set_handler([](cdio_log_level_t, const char*) {});
  std::optional<platform::File> file = platform::open_unshared(path, true);
  if (!file) return Refusal{"cannot be opened"};
  iso9660_t* image = iso9660_open_ext(platform::name_in_utf8(path).c_str(), ISO_EXTENSION_NONE);
  if (image == nullptr) {
    platform::close_file(*file);
    return Refusal{"holds no ISO 9660 file system of 2048-byte sectors"};
  }
  Disc disc{std::shared_ptr<_iso9660_s>(image, iso9660_close),
            std::shared_ptr<platform::File>(new platform::File(*file),
                                            [](platform::File* open) {
                                              platform::close_file(*open);
                                              delete open;
                                            }),
            size,
            {}};
  std::unique_ptr<iso9660_stat_t, void (*)(iso9660_stat_t*)> root(iso9660_ifs_stat(image, "/"),
                                                                  iso9660_stat_free);
  if (!root || !inside_image(disc, *root)) {
    return Refusal{"has a root folder that lies past the end of the image"};
  }
  Reading reading{disc, {root->lsn}, false};
  read_folder(reading, "/", *root, 0);
  return disc;
}

bool has_udf_bridge(const Disc& disc) {
  // The volume recognition sequence follows the volume descriptors, from sector 16 on.
  constexpr lsn_t first_descriptor = 16, last_descriptor = 64;
  constexpr std::size_t identifier_field = 1, identifier_size = 5;
  std::array<std::uint8_t, disc_sector_size> block;
  for (lsn_t sector = first_descriptor; sector < last_descriptor; ++sector) {
    if (iso9660_iso_seek_read(disc.image.get(), block.data(), sector, 1) !=
        static_cast<long>(block.size())) {
      return false;
    }
    std::string_view id(reinterpret_cast<const char*>(block.data()) + identifier_field,
                        identifier_size);
    if (id == "NSR02" || id == "NSR03") return true;
  }
  return false;
}

std::vector<std::uint64_t> size_fields_of(const Disc& disc, const DiscFile& file) {
  std::vector<std::uint64_t> fields;
  for (const DiscExtent& folder : disc.folders) {
    each_record(disc, folder, [&](Bytes record, std::uint64_t at) {
      bool directory = (read_le<std::uint8_t>(record, record_flags_field).value_or(0) &
                        record_flag_directory) != 0;
      if (!directory && read_le<std::uint32_t>(record, record_extent_field) == file.sector) {
        fields.push_back(at + record_data_length_field);
      }
    });
  }
  return fields;
}

Result<WholeFile> read_disc_file(const Disc& disc, const DiscFile& file) {
  WholeFile whole{platform::allocate_pages(file.size), {}, file.size, 0};
  if (!whole.buffer && file.size > 0) throw std::bad_alloc();
  std::span<std::uint8_t> into(whole.buffer.get(), file.size);
  std::size_t got = platform::read_whole(*disc.file, into, whole.error,
                                         std::uint64_t{file.sector} * disc_sector_size);
  if (got < file.size) return Refusal{"cannot be read whole from the image"};
  whole.bytes = into;
  return whole;
}

}  // namespace kelp
