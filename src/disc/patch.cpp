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
#include "disc/udf.h"

namespace kelp {

namespace {

struct UdfEntryWrite {
  std::uint64_t sector = 0;
  std::vector<std::uint8_t> block;
};

struct Change {
  DiscFile file;
  WholeFile old;  // its bytes on the source image
  Rebuilt rebuilt;
  std::vector<UdfEntryWrite> udf_entries{};  // with its new size, on a bridge disc

  std::uint64_t new_size() const { return rebuilt.in_place ? file.size : rebuilt.bytes.size(); }
};

// Pieces in which a changed file is read back and compared.
constexpr std::size_t compare_piece_size = 1 << 20;

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
std::optional<Change> rebuild_file(const ImportRequest& base, const Disc& disc,
                                   const DiscFile& file, ContainerKind kind, CodePage code_page,
                                   std::size_t& refused) {
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
  Rebuilt rebuilt;
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
  bool unchanged = rebuilt.in_place && rebuilt.patches.empty();
  if (base.dry_run || unchanged) return std::nullopt;
  return Change{file, std::move(*bytes), std::move(rebuilt)};
}

// Refuses a change that would move a file or write into another's sectors.
bool fits_in_place(const Disc& disc, const Change& change) {
  std::uint64_t room = sectors_of(change.file.size) * disc_sector_size;
  if (change.new_size() > room) {
    warn(change.file.path, "would grow past its sectors by " +
                               std::to_string(change.new_size() - room) +
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

// Finds the UDF file entries of each resized file and sets its new size in them; the number
// of files whose entries cannot be (warned).
std::size_t resize_udf_entries(const Disc& disc, const std::vector<UdfFile>& udf,
                               std::vector<Change>& changes) {
  std::size_t refused = 0;
  for (Change& change : changes) {
    if (change.new_size() == change.file.size) continue;
    std::string why = "has no UDF file entry that kelp can find";
    for (const UdfFile& file : udf) {
      if (file.data_sector != change.file.sector) continue;
      Result<std::vector<std::uint8_t>> entry = resized_udf_entry(disc, file, change.new_size());
      if (!entry) {
        why = entry.refusal;
        change.udf_entries.clear();
        break;
      }
      change.udf_entries.push_back({file.entry_sector, std::move(*entry)});
    }
    if (change.udf_entries.empty()) {
      warn(change.file.path, why + "; not rewritten");
      ++refused;
    }
  }
  return refused;
}

std::uint64_t start_of(const DiscFile& file) {
  return std::uint64_t{file.sector} * disc_sector_size;
}

// Writes a file rebuilt in place as its patches; any other at the file's first sector, with
// zeros to the end of its last sector and the new size in every record of it.
int write_change(platform::File out, const Disc& disc, const Change& change) {
  std::uint64_t start = start_of(change.file);
  int error = 0;
  if (change.rebuilt.in_place) {
    for (const Patch& patch : change.rebuilt.patches) {
      if (error == 0) error = platform::write_at(out, start + patch.offset, patch.bytes);
    }
    return error;
  }
  const ByteBuffer& bytes = change.rebuilt.bytes;
  std::vector<std::uint8_t> padding(sectors_of(bytes.size()) * disc_sector_size - bytes.size());
  error = platform::write_at(out, start, bytes);
  if (error == 0) error = platform::write_at(out, start + bytes.size(), padding);
  std::uint8_t field[record_size_field_bytes];
  put_both_endian(field, static_cast<std::uint32_t>(bytes.size()));
  for (std::uint64_t at : size_fields_of(disc, change.file)) {
    if (error == 0) error = platform::write_at(out, at, Bytes(field, sizeof field));
  }
  for (const UdfEntryWrite& entry : change.udf_entries) {
    if (error == 0) error = platform::write_at(out, entry.sector * disc_sector_size, entry.block);
  }
  return error;
}

// What the changed file should hold from `offset` on, as many bytes as `piece` takes: the
// rebuilt bytes, or its old bytes with the patches over them.
void expected_piece(const Change& change, std::uint64_t offset, std::span<std::uint8_t> piece) {
  const Rebuilt& rebuilt = change.rebuilt;
  Bytes whole = rebuilt.in_place ? change.old.bytes : Bytes(rebuilt.bytes);
  std::copy_n(whole.begin() + offset, piece.size(), piece.begin());
  if (!rebuilt.in_place) return;
  std::uint64_t end = offset + piece.size();
  for (const Patch& patch : rebuilt.patches) {
    std::uint64_t from = std::max(offset, patch.offset);
    std::uint64_t to = std::min(end, patch.offset + patch.bytes.size());
    if (from >= to) continue;
    std::copy(patch.bytes.begin() + (from - patch.offset),
              patch.bytes.begin() + (to - patch.offset), piece.begin() + (from - offset));
  }
}

// Reads the changed file back from the copy, piece by piece.
bool reads_as_rebuilt(const Disc& copy, const Change& change) {
  std::vector<std::uint8_t> got(compare_piece_size), want(compare_piece_size);
  std::uint64_t size = change.new_size();
  for (std::uint64_t offset = 0; offset < size; offset += compare_piece_size) {
    std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(compare_piece_size, size - offset));
    std::span<std::uint8_t> piece(got.data(), length), wanted(want.data(), length);
    int error = 0;
    expected_piece(change, offset, wanted);
    if (platform::read_whole(*copy.file, piece, error, start_of(change.file) + offset) < length ||
        !std::equal(piece.begin(), piece.end(), wanted.begin())) {
      return false;
    }
  }
  return true;
}

// The UDF side of the copy: every file where it was, of its new size where it changed.
bool udf_reads_back(const Disc& after, const std::string& path, const std::vector<UdfFile>& before,
                    const std::vector<Change>& changes) {
  Result<std::vector<UdfFile>> now = udf_files(after, path);
  if (!now || now->size() != before.size()) return false;
  for (std::size_t i = 0; i < before.size(); ++i) {
    const UdfFile& old = before[i];
    auto change = std::find_if(changes.begin(), changes.end(),
                               [&](const Change& c) { return c.file.sector == old.data_sector; });
    std::uint64_t want = change == changes.end() ? old.size : change->new_size();
    if ((*now)[i].entry_sector != old.entry_sector || (*now)[i].data_sector != old.data_sector ||
        (*now)[i].size != want) {
      return false;
    }
  }
  return true;
}

// Reads the copy back: every file where it was, the changed ones as rebuilt.
bool reads_back(const std::string& path, std::uint64_t size, const Disc& before,
                const std::optional<std::vector<UdfFile>>& udf,
                const std::vector<Change>& changes) {
  Result<Disc> after = open_disc(path, size);
  if (!after || after->files.size() != before.files.size()) return false;
  if (udf && !udf_reads_back(*after, path, *udf, changes)) return false;
  for (std::size_t i = 0; i < before.files.size(); ++i) {
    const DiscFile& old = before.files[i];
    const DiscFile& now = after->files[i];
    auto change = std::find_if(changes.begin(), changes.end(),
                               [&](const Change& c) { return c.file.path == old.path; });
    std::uint64_t want = change == changes.end() ? old.size : change->new_size();
    if (now.path != old.path || now.sector != old.sector || now.size != want) return false;
    if (change != changes.end() && !reads_as_rebuilt(*after, *change)) return false;
  }
  return true;
}

int write_copy(const ImportRequest& request, std::uint64_t size, const Disc& disc,
               const std::optional<std::vector<UdfFile>>& udf, const std::vector<Change>& changes,
               const std::string& name) {
  if (!make_output_folder(request.output_folder)) return exit_incomplete;
  OutputFile out = create_output_or_warn(name, request.output_folder);
  if (!out.created) return exit_incomplete;
  out.error = platform::copy_contents(*disc.file, out.file, size);
  for (const Change& change : changes) {
    if (out.error == 0) out.error = write_change(out.file, disc, change);
  }
  if (!finish_output(out)) return exit_incomplete;
  if (!reads_back(out.name, size, disc, udf, changes)) {
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
  if (request.gallery) warn(path, "the changes page of a disc image is not written yet");
  std::size_t refused = disc->skipped;
  std::vector<Change> changes;
  for (const DiscFile& file : disc->files) {
    std::optional<ContainerKind> kind = container_kind(file.path, code_page);
    if (!kind) continue;
    std::optional<Change> change = rebuild_file(request, *disc, file, *kind, code_page, refused);
    if (change) changes.push_back(std::move(*change));
  }
  for (const Change& change : changes) refused += fits_in_place(*disc, change) ? 0 : 1;
  std::optional<std::vector<UdfFile>> udf;
  if (has_udf_bridge(*disc) && !changes.empty()) {
    Result<std::vector<UdfFile>> files = udf_files(*disc, path);
    if (files) {
      udf = std::move(*files);
      refused += resize_udf_entries(*disc, *udf, changes);
    } else {
      warn(path, files.refusal);
      ++refused;
    }
  }
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
  return write_copy(request, size, *disc, udf, changes, name);
}

}  // namespace kelp
