#include "disc/patch.h"

#include <algorithm>
#include <functional>
#include <iterator>
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
#include "gallery/page.h"

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

// Pieces in which what was written is read back and compared.
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

// The files rebuilt, the changes page's rows and the refusals of an import of several files.
struct Rebuilds {
  std::vector<Change> changes{};
  std::vector<ChangeRow> rows{};
  std::size_t refused = 0;
};

bool has_edits(const std::string& images, const std::string& name) {
  std::string prefix = ascii_lower(name) + "_";
  std::vector<std::string> names = platform::list_directory(images);
  return std::any_of(names.begin(), names.end(), [&](const std::string& file) {
    return ascii_lower(file).starts_with(prefix);
  });
}

// Rebuilds the file from its folder of the edit folder, when that holds edits of it; on a dry
// run too, so that what would be refused is.
void rebuild_file(const ImportRequest& base, const SourceFile& file, ContainerKind kind,
                  CodePage code_page, Rebuilds& rebuilds) {
  std::string folder = folder_of(file.path);
  PathParts parts = split_path(file.path, code_page);
  std::string images = in_disc_folder(base.images, folder);
  if (!safe_disc_folder(folder, code_page) || !has_edits(images, parts.name)) return;
  Result<WholeFile> bytes = file.read();
  if (!bytes) {
    warn(file.path, bytes.refusal);
    ++rebuilds.refused;
    return;
  }
  ImportedPart part;
  ImportRequest one = base;
  one.images = images;
  one.source_name = parts.name;
  one.output_name = parts.name + parts.extension;
  one.output_folder = in_disc_folder(base.output_folder, folder);
  one.kind = kind;
  one.part = &part;
  bool done = import_source(one, bytes->bytes) == exit_success;
  std::move(part.rows.begin(), part.rows.end(), std::back_inserter(rebuilds.rows));
  if (!done) {
    ++rebuilds.refused;
  } else if (!part.rebuilt.in_place || !part.rebuilt.patches.empty()) {
    DiscFile where{file.path, file.sector.value_or(0), static_cast<std::uint32_t>(file.size)};
    rebuilds.changes.push_back({where, std::move(*bytes), std::move(part.rebuilt)});
  }
}

Rebuilds rebuild_files(const ImportRequest& request, const std::vector<SourceFile>& files,
                       CodePage code_page) {
  Rebuilds rebuilds;
  for (const SourceFile& file : files) {
    std::optional<ContainerKind> kind = container_kind(file.path, code_page);
    if (kind) rebuild_file(request, file, *kind, code_page, rebuilds);
  }
  return rebuilds;
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

// Reads back from the copy what was written of the changed file: its patches, or all of it.
bool reads_as_rebuilt(const Disc& copy, const Change& change) {
  std::vector<std::uint8_t> got(compare_piece_size);
  auto reads_as = [&](std::uint64_t offset, Bytes bytes) {
    for (std::uint64_t done = 0; done < bytes.size(); done += got.size()) {
      Bytes want = bytes.subspan(done, std::min<std::uint64_t>(got.size(), bytes.size() - done));
      std::span<std::uint8_t> piece(got.data(), want.size());
      int error = 0;
      if (platform::read_whole(*copy.file, piece, error, start_of(change.file) + offset + done) <
              piece.size() ||
          !std::equal(piece.begin(), piece.end(), want.begin())) {
        return false;
      }
    }
    return true;
  };
  const Rebuilt& rebuilt = change.rebuilt;
  if (!rebuilt.in_place) return reads_as(0, rebuilt.bytes);
  return std::all_of(rebuilt.patches.begin(), rebuilt.patches.end(),
                     [&](const Patch& patch) { return reads_as(patch.offset, patch.bytes); });
}

// The UDF side of the copy: every file where it was, of its new size where it changed.
bool udf_reads_back(const Disc& after, const std::vector<UdfFile>& before,
                    const std::vector<Change>& changes) {
  Result<std::vector<UdfFile>> now = udf_files(after);
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
  if (udf && !udf_reads_back(*after, *udf, changes)) return false;
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

// Writes the rebuilt file into its folder below the output folder, never over a file there; on
// a dry run, says where it would.
int write_file(const ImportRequest& request, const Change& change, CodePage code_page) {
  std::string folder = folder_of(change.file.path);
  std::string output_folder = in_disc_folder(request.output_folder, folder);
  PathParts parts = split_path(change.file.path, code_page);
  std::string name = parts.name + parts.extension;
  if (request.dry_run) {
    note("would write " + free_output_name(name, output_folder));
    return exit_success;
  }
  if (!make_folders(request.output_folder, folder)) return exit_incomplete;
  OutputFile out = create_output_or_warn(name, output_folder);
  if (!out.created) return exit_incomplete;
  std::string wanted = in_folder(output_folder, name);
  if (out.name != wanted) warn(wanted + " exists; writing " + out.name);
  write_rebuilt(out, change.old.bytes, change.rebuilt);
  if (!finish_output(out)) return exit_incomplete;
  note("wrote " + out.name);
  return exit_success;
}

// Ends an import of several files: when any was refused nothing is written, but a dry run's
// changes page; otherwise `write` writes (or tells what it would), then the page.
int end_import(const ImportRequest& request, Rebuilds& rebuilds, const std::string& base_name,
               const std::function<int()>& write) {
  std::string page_name = base_name + "-changes.html";
  auto write_changes = [&]() -> std::optional<std::string> {
    if (!make_output_folder(request.output_folder)) return std::nullopt;
    return write_page(changes_data(base_name + " changes", rebuilds.rows), page_name,
                      request.output_folder);
  };
  std::optional<std::string> page;
  if (request.gallery && request.dry_run) page = write_changes();
  if (rebuilds.refused > 0) {
    note(page ? "nothing was written but the changes page " + *page : "nothing was written");
    return exit_incomplete;
  }
  int exit_code = write();
  if (request.gallery && !request.dry_run && exit_code == exit_success) page = write_changes();
  if (page) note("wrote the changes page " + *page);
  return request.gallery && !page ? exit_incomplete : exit_code;
}

}  // namespace

int import_disc(const ImportRequest& request, const std::string& path, std::uint64_t size,
                CodePage code_page) {
  Result<Disc> disc = open_disc(path, size);
  if (!disc) {
    warn(path, disc.refusal);
    return exit_incomplete;
  }
  Rebuilds rebuilds = rebuild_files(request, files_of_disc(*disc), code_page);
  rebuilds.refused += disc->skipped;
  std::vector<Change>& changes = rebuilds.changes;
  for (const Change& change : changes) rebuilds.refused += fits_in_place(*disc, change) ? 0 : 1;
  std::optional<std::vector<UdfFile>> udf;
  if (has_udf_bridge(*disc) && !changes.empty()) {
    Result<std::vector<UdfFile>> files = udf_files(*disc);
    if (files) {
      udf = std::move(*files);
      rebuilds.refused += resize_udf_entries(*disc, *udf, changes);
    } else {
      warn(path, files.refusal);
      ++rebuilds.refused;
    }
  }
  PathParts parts = split_path(path, code_page);
  std::string name = parts.name + parts.extension;
  return end_import(request, rebuilds, parts.name, [&] {
    if (request.dry_run) {
      note("would write " + free_output_name(name, request.output_folder));
      return exit_success;
    }
    return write_copy(request, size, *disc, udf, changes, name);
  });
}

int import_folder(const ImportRequest& request, const std::string& path, CodePage code_page) {
  Rebuilds rebuilds = rebuild_files(request, files_of_folder(path), code_page);
  return end_import(request, rebuilds, split_path(trimmed_folder(path), code_page).name, [&] {
    int exit_code = exit_success;
    for (const Change& change : rebuilds.changes) {
      exit_code = std::max(exit_code, write_file(request, change, code_page));
    }
    return exit_code;
  });
}

}  // namespace kelp
