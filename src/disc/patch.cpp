#include "disc/patch.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "common/diagnostics.h"
#include "common/exit_codes.h"
#include "common/output.h"
#include "common/path.h"
#include "disc/disc.h"
#include "disc/files.h"

namespace kelp {

namespace {

struct Change {
  DiscFile file;
  std::vector<std::uint8_t> bytes;  // the rebuilt file
};

std::uint64_t sectors_of(std::uint64_t size) {
  return (size + disc_sector_size - 1) / disc_sector_size;
}

// Whether another file's extent meets this file's.
bool shares_extent(const Disc& disc, const DiscFile& file) {
  std::uint64_t start = file.sector, end = file.sector + sectors_of(file.size);
  return std::any_of(disc.files.begin(), disc.files.end(), [&](const DiscFile& other) {
    std::uint64_t other_end = other.sector + sectors_of(other.size);
    return other.path != file.path && other.sector < end && start < other_end;
  });
}

// Rebuilds the file from its folder of the edit folder; nothing when the folder holds no edit
// of it or the import refused (warned). `refused` counts the refusals.
std::optional<std::vector<std::uint8_t>> rebuild_file(const ImportRequest& base, const Disc& disc,
                                                      const DiscFile& file, ContainerKind kind,
                                                      CodePage code_page, std::size_t& refused) {
  std::string images = in_disc_folder(base.images, folder_of(file.path));
  PathParts parts = split_path(file.path, code_page);
  std::string prefix = ascii_lower(parts.name) + "_";
  std::vector<std::string> names = platform::list_directory(images);
  bool edited = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return ascii_lower(name).starts_with(prefix);
  });
  if (!edited) return std::nullopt;
  Result<WholeFile> bytes = read_disc_file(disc, file);
  if (!bytes) {
    warn(file.path, bytes.refusal);
    ++refused;
    return std::nullopt;
  }
  std::vector<std::uint8_t> rebuilt;
  ImportRequest one = base;
  one.images = images;
  one.source_name = parts.name;
  one.output_name = parts.name + parts.extension;
  one.kind = kind;
  one.gallery = false;
  one.rebuilt_into = &rebuilt;
  if (import_source(one, bytes->bytes) != exit_success) {
    ++refused;
    return std::nullopt;
  }
  if (base.dry_run || rebuilt.empty()) return std::nullopt;
  return rebuilt;
}

// Refuses a change that would move a file or write into another's sectors.
bool fits_in_place(const Disc& disc, const Change& change) {
  std::uint64_t room = sectors_of(change.file.size) * disc_sector_size;
  if (change.bytes.size() > room) {
    warn(change.file.path, "would grow past its sectors by " +
                               std::to_string(change.bytes.size() - room) +
                               " bytes; a file on the disc cannot move");
    return false;
  }
  if (shares_extent(disc, change.file)) {
    warn(change.file.path, "shares its sectors with another file; not rewritten");
    return false;
  }
  return true;
}

void put_both_endian(std::uint8_t* at, std::uint32_t value) {
  put_le<std::uint32_t>(at, value);
  for (std::size_t i = 0; i < 4; ++i) at[4 + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// Writes the change at the file's first sector, zeros to the end of its last sector, and the
// new size into every record of it.
int write_change(platform::File out, const Disc& disc, const Change& change) {
  std::uint64_t start = std::uint64_t{change.file.sector} * disc_sector_size;
  std::vector<std::uint8_t> padding(sectors_of(change.bytes.size()) * disc_sector_size -
                                    change.bytes.size());
  int error = platform::write_at(out, start, change.bytes);
  if (error == 0) error = platform::write_at(out, start + change.bytes.size(), padding);
  std::uint8_t field[record_size_field_bytes];
  put_both_endian(field, static_cast<std::uint32_t>(change.bytes.size()));
  for (std::uint64_t at : size_fields_of(disc, change.file)) {
    if (error == 0) error = platform::write_at(out, at, Bytes(field, sizeof field));
  }
  return error;
}

// Reads the copy back: every file where it was, the changed ones as rebuilt.
bool reads_back(const std::string& path, std::uint64_t size, const Disc& before,
                const std::vector<Change>& changes) {
  Result<Disc> after = open_disc(path, size);
  if (!after || after->files.size() != before.files.size()) return false;
  for (std::size_t i = 0; i < before.files.size(); ++i) {
    const DiscFile& old = before.files[i];
    const DiscFile& now = after->files[i];
    auto change = std::find_if(changes.begin(), changes.end(),
                               [&](const Change& c) { return c.file.path == old.path; });
    std::uint32_t want =
        change == changes.end() ? old.size : static_cast<std::uint32_t>(change->bytes.size());
    if (now.path != old.path || now.sector != old.sector || now.size != want) return false;
    if (change != changes.end()) {
      Result<WholeFile> bytes = read_disc_file(*after, now);
      if (!bytes || !std::equal(bytes->bytes.begin(), bytes->bytes.end(), change->bytes.begin(),
                                change->bytes.end())) {
        return false;
      }
    }
  }
  return true;
}

int write_copy(const ImportRequest& request, std::uint64_t size, const Disc& disc,
               const std::vector<Change>& changes, const std::string& name) {
  if (!make_output_folder(request.output_folder)) return exit_incomplete;
  OutputFile out = create_output_or_warn(name, request.output_folder);
  if (!out.created) return exit_incomplete;
  out.error = platform::copy_contents(*disc.file, out.file, size);
  for (const Change& change : changes) {
    if (out.error == 0) out.error = write_change(out.file, disc, change);
  }
  if (!finish_output(out)) return exit_incomplete;
  if (!reads_back(out.name, size, disc, changes)) {
    warn(out.name, "does not read back as written; removed");
    platform::remove_file(out.name);
    return exit_incomplete;
  }
  note(std::to_string(changes.size()) + (changes.size() == 1 ? " file" : " files") +
       " of the disc rebuilt in place; wrote " + out.name);
  return exit_success;
}

}  // namespace

int import_disc(const ImportRequest& request, const std::string& path, std::uint64_t size,
                CodePage code_page) {
  Result<Disc> disc = open_disc(path, size);
  if (!disc) {
    warn(path, disc.refusal);
    return exit_incomplete;
  }
  if (has_udf_bridge(*disc)) {
    warn(path, "has a UDF file system beside ISO 9660; kelp cannot yet write into such images");
    return exit_incomplete;
  }
  if (request.gallery) warn(path, "the changes page of a disc image is not written yet");
  std::size_t refused = disc->skipped;
  std::vector<Change> changes;
  for (const DiscFile& file : disc->files) {
    std::optional<ContainerKind> kind = container_kind(file.path, code_page);
    if (!kind) continue;
    std::optional<std::vector<std::uint8_t>> rebuilt =
        rebuild_file(request, *disc, file, *kind, code_page, refused);
    if (rebuilt) changes.push_back({file, std::move(*rebuilt)});
  }
  for (const Change& change : changes) refused += fits_in_place(*disc, change) ? 0 : 1;
  PathParts parts = split_path(path, code_page);
  std::string name = parts.name + parts.extension;
  if (refused > 0) {
    note("nothing was written");
    return exit_incomplete;
  }
  if (request.dry_run) {
    note("would write " + free_output_name(name, request.output_folder));
    return exit_success;
  }
  return write_copy(request, size, *disc, changes, name);
}

}  // namespace kelp
