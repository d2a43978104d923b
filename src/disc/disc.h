// Disc images: a .iso file of 2048-byte sectors holding an ISO 9660 file system, read with
// libiso9660. A disc image is as untrusted as any source: every directory and file extent is
// checked against the image's size before it is read, and the walk of the directories is bounded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/output.h"
#include "common/result.h"
#include "platform/platform.h"

struct _iso9660_s;  // libiso9660's image handle

namespace kelp {

constexpr std::uint64_t disc_sector_size = 2048;
// A raw CD image stores 2352 bytes per sector: sync, header and error codes around the data.
constexpr std::uint64_t raw_sector_size = 2352;
// Limits against hostile images; a game's disc holds a few thousand files a few levels deep.
constexpr std::size_t max_disc_files = 1 << 20;
constexpr std::size_t max_disc_folder_depth = 64;
constexpr std::uint32_t max_directory_size = 64u << 20;

struct DiscFile {
  std::string path;          // as on the disc: folders joined with "/", without ";1"
  std::uint32_t sector = 0;  // its first sector
  std::uint32_t size = 0;    // in bytes
};

struct DiscExtent {
  std::uint32_t sector = 0;
  std::uint32_t size = 0;
};

struct Disc {
  std::shared_ptr<_iso9660_s> image;
  std::shared_ptr<platform::File> file;  // the image, from which files are read
  std::uint64_t size = 0;                // the image's size in bytes
  std::vector<DiscFile> files;           // in the order of the directories, each sorted by name
  std::size_t skipped = 0;               // files and folders left out (warned)
  std::vector<DiscExtent> folders{};     // every folder read
};

// Opens the image at `path` and reads its directories; refused, saying why, when it is not an
// ISO 9660 image of 2048-byte sectors. Directories and files that lie outside the image, or
// that would be read twice, are skipped with a warning naming them.
Result<Disc> open_disc(const std::string& path, std::uint64_t size);

// True when the image's volume recognition sequence names a UDF file system beside ISO 9660.
bool has_udf_bridge(const Disc& disc);

// Where in the image each directory record that points at the file keeps its data length: the
// byte offset of the field, which holds the length little-endian, then big-endian.
std::vector<std::uint64_t> size_fields_of(const Disc& disc, const DiscFile& file);
constexpr std::size_t record_size_field_bytes = 8;

// The file's bytes, read at its extent into zero pages; refused when they cannot be read whole.
// Throws bad_alloc when the memory cannot be had.
Result<WholeFile> read_disc_file(const Disc& disc, const DiscFile& file);

}  // namespace kelp
