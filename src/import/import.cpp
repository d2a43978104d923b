#include "import/import.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "common/diagnostics.h"
#include "common/exit_codes.h"
#include "common/output.h"
#include "common/pool.h"
#include "containers/lzss.h"
#include "containers/package.h"
#include "gallery/page.h"
#include "import/image.h"
#include "import/palette.h"
#include "import/rebuild.h"
#include "platform/code_page.h"
#include "platform/platform.h"
#include "texture/bitmap.h"
#include "texture/png.h"

namespace kelp {

namespace {

constexpr std::string_view png_extension = ".png", bmp_extension = ".bmp", bin_extension = ".bin";
// An image file holds at most a 32-bit pixel per texel and its headers; anything larger is not
// one of kelp's textures. A package entry holds at most 65535 sectors.
constexpr std::uint64_t image_slack = 1 << 20;
constexpr std::uint64_t max_bin_size = std::uint64_t{0xFFFF} * sector_size;

// A container being walked, and the new bytes of those of its entries that change.
struct Frame {
  ContainerKind kind = ContainerKind::package;
  Bytes bytes;  // the container's own bytes
  std::vector<EntryChange> changes;
  std::vector<std::string> changed_by;  // the file behind each change
};

struct Counts {
  std::size_t replaced = 0, quantized = 0, unchanged = 0, raw = 0, recoded = 0;
};

// What happens to one file of the folder: "unchanged", "replaced", "quantized" or "refused",
// and the rule, the quantization or the reason.
struct Outcome {
  std::string result, detail;
  std::size_t colours = 0, palette = 0;  // quantized only
  double mean_error = 0;
};

// A dry run's line: the file of an entry and what happens to it; for the changes page, its
// warnings and the texture as PNG files before and after.
struct Told {
  std::string entry, file;
  Outcome outcome;
  std::vector<std::string> warnings{};
  std::vector<std::uint8_t> before{}, after{};
};

struct ImportRun {
  const ImportRequest& request;
  WorkerPool& pool;  // reads and converts the images
  // The folder's names that may belong to entries, by their names in lower case.
  std::map<std::string, std::vector<std::string>> files;
  std::set<std::string> used;
  std::vector<Frame> frames;
  std::size_t refused = 0;
  Counts counts;
  std::vector<Told> lines;  // the dry run's, in walk order
};

void refuse(std::size_t& refused, const std::string& subject, const std::string& why) {
  warn(subject, why);
  ++refused;
}

void refuse(ImportRun& run, const std::string& subject, const std::string& why) {
  refuse(run.refused, subject, why);
}

std::string in_images(const ImportRequest& request, const std::string& name) {
  return request.images + "/" + name;
}

void tell(ImportRun& run, const std::string& entry, const std::string& file,
          const Outcome& outcome);

bool keeps_lines(const ImportRequest& request) {
  return request.dry_run || request.gallery;
}

// The file of the folder that names `name`, in any case: image editors and file managers
// change the case of names. Empty when there is none, or when two do (both refused).
std::string take(ImportRun& run, const std::string& name) {
  auto found = run.files.find(ascii_lower(name));
  if (found == run.files.end()) return "";
  run.used.insert(found->first);
  const std::vector<std::string>& names = found->second;
  if (names.size() == 1) return names[0];
  refuse(run, names[0], "and " + names[1] + " name the same entry; neither is read");
  for (const std::string& file : names) {
    tell(run, file.substr(0, file.size() - png_extension.size()), file,
         {"refused", "another file names the same entry"});
  }
  return "";
}

// The dry run's line for the file `file` of the entry `entry`.
std::string told(const ImportRun& run, const std::string& entry, const std::string& file,
                 const Outcome& outcome) {
  if (!run.request.json) {
    std::string detail = outcome.detail.empty() ? "" : " (" + outcome.detail + ")";
    return entry + " " + file + " " + outcome.result + detail;
  }
  nlohmann::ordered_json line{{"entry", entry}, {"file", file}, {"result", outcome.result}};
  if (outcome.result == "replaced") line["rule"] = outcome.detail;
  if (outcome.result == "refused") line["reason"] = outcome.detail;
  if (outcome.result == "quantized") {
    line["colours"] = outcome.colours;
    line["palette"] = outcome.palette;
    line["mean_error"] = outcome.mean_error;
  }
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void tell(ImportRun& run, const std::string& entry, const std::string& file,
          const Outcome& outcome) {
  if (keeps_lines(run.request)) run.lines.push_back({entry, file, outcome});
}

// Reads a file of the folder whole; refused when it is not a regular file, cannot be read, or
// is larger than `most`.
Result<ByteBuffer> read_input(const ImportRequest& request, const std::string& name,
                              std::uint64_t most) {
  std::optional<platform::File> file = platform::open_unshared(in_images(request, name));
  if (!file) return Refusal{"not a regular file that can be read"};
  std::uint64_t size = platform::file_size(*file);
  Result<ByteBuffer> bytes =
      Refusal{"is " + std::to_string(size) + " bytes, too large for this entry"};
  int error = 0;
  if (size <= most) {
    bytes = ByteBuffer(size);
    if (platform::read_whole(*file, *bytes, error) != size) bytes = Refusal{"cannot be read whole"};
  }
  platform::close_file(*file);
  return bytes;
}

// Refuses the entry's file: `why` in the warning, `detail` on the dry run's line.
void refuse_file(ImportRun& run, const Entry& entry, const std::string& file,
                 const std::string& why, const std::string& detail) {
  tell(run, entry.name, file, {"refused", detail});
  refuse(run, file, why);
}

std::uint64_t entry_key(const Entry& entry) {
  if (entry.container == ContainerKind::archive) return *entry.offset;
  return package_key(static_cast<std::uint16_t>(*entry.offset / sector_size),
                     static_cast<std::uint16_t>(*entry.size / sector_size));
}

// Records the new bytes of the entry `key` of the frame; two files that change one shared record
// differently are refused.
void add_change(ImportRun& run, Frame& frame, std::uint64_t key, ByteBuffer bytes,
                const std::string& file) {
  for (std::size_t i = 0; i < frame.changes.size(); ++i) {
    if (frame.changes[i].key != key) continue;
    if (frame.changes[i].bytes != bytes) {
      std::string why = "changes the record that " + frame.changed_by[i] + " changes, differently";
      refuse(run, file, why);
      for (Told& line : run.lines) {
        if (line.file == file) line.outcome = {"refused", why};
      }
    }
    return;
  }
  frame.changes.push_back({key, std::move(bytes)});
  frame.changed_by.push_back(file);
}

std::string texture_file(ImportRun& run, const Entry& entry) {
  std::string png = take(run, entry.name + std::string(png_extension));
  std::string bmp = take(run, entry.name + std::string(bmp_extension));
  if (!png.empty() && !bmp.empty()) {
    warn(png, "both " + png + " and " + bmp + " exist; reading " + png);
  }
  return !png.empty() ? png : bmp;
}

// The record's own bytes (in an archive, as many of the zeros after the decoded bytes as its
// palette and indices reach), or why an image cannot go into it.
Result<Bytes> record_bytes(const Entry& entry) {
  const TextureRecord& t = entry.texture;
  std::uint64_t palette_end = std::uint64_t{t.palette_offset} + t.palette.size();
  std::uint64_t indices_end = std::uint64_t{t.indices_offset} + t.indices.size();
  if (t.side == 0) return Refusal{"the texture is empty (side 0)"};
  if (t.palette_offset < indices_end && t.indices_offset < palette_end) {
    return Refusal{"the texture's palette and index data overlap"};
  }
  std::uint64_t reach = std::max(palette_end, indices_end), size = *entry.size;
  if (entry.container == ContainerKind::archive) size = std::max(size, reach);
  if (size > entry.bytes.size() || reach > size) {
    return Refusal{"the texture lies partly outside its entry"};
  }
  return entry.bytes.first(static_cast<std::size_t>(size));
}

// What reading one texture's image makes, on a worker: the record's new bytes when they
// change, and how the texture counts.
struct TextureImport {
  std::string file;
  Outcome outcome;
  std::size_t frame = 0;  // where the change goes
  std::uint64_t key = 0;
  Counts counts;
  std::size_t refused = 0;
  std::optional<ByteBuffer> changed;
  std::vector<std::string> warnings{};
  std::vector<std::uint8_t> before{}, after{};  // for the changes page
};

constexpr std::string_view rule_names[] = {"unchanged", "exact colours", "palette kept",
                                           "new palette", "quantized"};

void refuse_file(TextureImport& result, const std::string& why) {
  refuse(result.refused, result.file, why);
  result.outcome = {"refused", why};
}

// The warnings an image's alpha may call for.
void check_alpha(const TextureImport& result, const Image& image, bool console_scale) {
  bool says_raw = image.alpha_text == alpha_raw, says_scaled = image.alpha_text == alpha_scaled;
  if ((says_raw && console_scale) || (says_scaled && !console_scale)) {
    warn(result.file, "says its alpha is " + image.alpha_text + ", but the texture's is " +
                          (console_scale ? "on the console's scale" : "raw") +
                          "; read as the texture's");
  }
}

void read_texture_image(const ImportRequest& request, Bytes record, const TextureRecord& texture,
                        TextureImport& result) {
  std::uint64_t side = texture.side;
  Result<ByteBuffer> bytes =
      read_input(request, result.file, side * side * bytes_per_pixel + image_slack);
  if (!bytes) {
    refuse(result.refused, result.file, bytes.refusal);
    result.outcome = {"refused", "cannot be read"};
    return;
  }
  Result<Image> image = read_image(*bytes, result.file, texture.side);
  if (!image) {
    warn(image.refusal);  // it names the file
    ++result.refused;
    result.outcome = {"refused", image.refusal.substr(result.file.size() + 1)};
    return;
  }
  TexturePixels current = load_texture(texture);
  bool console_scale = on_console_scale(texture);
  check_alpha(result, *image, console_scale);
  if (settle_alpha(*image, current, console_scale)) {
    warn(result.file, "has no alpha; the texture's transparency was kept");
  }
  PaletteResult palette = image_to_texture(current, *image, request.dither);
  if (palette.alpha_only > 0 && palette.rule != PaletteRule::unchanged) {
    warn(result.file, std::to_string(palette.alpha_only) +
                          " pixels changed only their transparency; some editors keep one "
                          "level of transparency");
  }
  result.outcome = {"replaced", std::string(rule_names[static_cast<int>(palette.rule)])};
  if (palette.rule == PaletteRule::unchanged) {
    result.outcome = {"unchanged", ""};
    ++result.counts.unchanged;
    return;
  }
  if (palette.rule == PaletteRule::quantized) {
    char error[32];
    std::snprintf(error, sizeof error, "%.1f", palette.mean_error);
    std::string what = std::to_string(palette.image_colours) + " colours quantized to " +
                       std::to_string(texture.colours()) + ", mean error " + error;
    warn(result.file, what + " per channel");
    result.outcome = {"quantized", what, palette.image_colours, texture.colours(),
                      palette.mean_error};
    ++result.counts.quantized;
  }
  result.changed.emplace(record.begin(), record.end());
  store_texture(*result.changed, texture, palette.texture);
  ++result.counts.replaced;
}

// The texture before and after as PNG files, for the changes page.
void show_change(const TextureRecord& texture, TextureImport& result) {
  encode_png(texture, result.before);
  if (!result.changed) return;
  Result<TextureRecord> changed = locate_texture(*result.changed, texture.bits_per_index);
  if (changed) encode_png(*changed, result.after);
}

void add_counts(Counts& to, const Counts& more) {
  to.replaced += more.replaced;
  to.quantized += more.quantized;
  to.unchanged += more.unchanged;
}

void import_texture(ImportRun& run, const Entry& entry) {
  std::string file = texture_file(run, entry);
  if (file.empty()) {
    ++run.counts.unchanged;
    return;
  }
  Result<Bytes> record = record_bytes(entry);
  if (!record) return refuse_file(run, entry, file, record.refusal, record.refusal);
  auto result = std::make_shared<TextureImport>();
  *result = {file, {}, run.frames.size() - 1, entry_key(entry), {}, 0, {}};
  std::size_t line = run.lines.size();  // its outcome is known when the job is reported
  if (keeps_lines(run.request)) run.lines.push_back({entry.name, file, {}});
  run.pool.submit(
      [&request = run.request, bytes = *record, texture = entry.texture, result](unsigned) {
        DiagnosticLog warnings;
        DiagnosticLog* outer = hold_diagnostics(&warnings);
        try {
          read_texture_image(request, bytes, texture, *result);
          if (request.gallery) show_change(texture, *result);
        } catch (const std::bad_alloc&) {
          refuse_file(*result, "not enough memory to read it");
        }
        hold_diagnostics(outer);
        for (const Diagnostic& warning : warnings) {
          std::string subject = warning.subject.empty() ? "" : warning.subject + ": ";
          result->warnings.push_back(subject + warning.text);
        }
        print_diagnostics(warnings);
        return true;
      },
      [&run, result, line] {
        if (keeps_lines(run.request)) {
          run.lines[line].outcome = result->outcome;
          run.lines[line].warnings = std::move(result->warnings);
          run.lines[line].before = std::move(result->before);
          run.lines[line].after = std::move(result->after);
        }
        add_counts(run.counts, result->counts);
        run.refused += result->refused;
        if (result->changed) {
          add_change(run, run.frames[result->frame], result->key, std::move(*result->changed),
                     result->file);
        }
      });
}

void import_raw(ImportRun& run, const Entry& entry) {
  std::string file = take(run, entry.name + std::string(bin_extension));
  if (file.empty()) return;
  std::uint64_t most = entry.container == ContainerKind::archive ? max_decoded_size : max_bin_size;
  Result<ByteBuffer> bytes = read_input(run.request, file, most);
  if (!bytes) return refuse_file(run, entry, file, bytes.refusal, "cannot be read");
  Bytes old = raw_bytes(entry);
  if (std::equal(bytes->begin(), bytes->end(), old.begin(), old.end())) {
    return tell(run, entry.name, file, {"unchanged", ""});
  }
  if (bytes->empty()) {
    return refuse_file(run, entry, file, "is empty; an entry must keep at least one byte",
                       "is empty");
  }
  tell(run, entry.name, file, {"replaced", "new bytes"});
  ++run.counts.raw;
  add_change(run, run.frames.back(), entry_key(entry), std::move(*bytes), file);
}

// A .bin named after an entry that is not a MOT record or an unrecognised entry.
void pass_over_bin(ImportRun& run, const Entry& entry) {
  std::string file = take(run, entry.name + std::string(bin_extension));
  if (!file.empty()) warn(file, "is not a MOT record or an unrecognised entry; not read");
}

void on_entry(ImportRun& run, const Entry& entry) {
  switch (entry.kind) {
    case EntryKind::tx4:
    case EntryKind::tx8:
      pass_over_bin(run, entry);
      return import_texture(run, entry);
    case EntryKind::mot:
    case EntryKind::other:
      return import_raw(run, entry);
    case EntryKind::package:
    case EntryKind::archive: {
      pass_over_bin(run, entry);
      std::size_t extent =
          static_cast<std::size_t>(std::min<std::uint64_t>(*entry.size, entry.bytes.size()));
      ContainerKind kind =
          entry.kind == EntryKind::package ? ContainerKind::package : ContainerKind::archive;
      run.frames.push_back({kind, entry.bytes.first(extent), {}, {}});
      return;
    }
    case EntryKind::damaged: {
      pass_over_bin(run, entry);
      std::string file = texture_file(run, entry);
      if (file.empty()) return;
      refuse_file(run, entry, file, "the entry is damaged: " + entry.damage,
                  "the entry is damaged");
      return;
    }
  }
}

// Rebuilds the frame's container; nothing (refused, naming `name`) when it cannot be.
std::optional<Rebuilt> rebuild(ImportRun& run, const Frame& frame, const std::string& name) {
  Result<Rebuilt> rebuilt = frame.kind == ContainerKind::package
                                ? rebuild_package(frame.bytes, frame.changes)
                                : rebuild_archive(frame.bytes, frame.changes);
  if (!rebuilt) {
    refuse(run, name, rebuilt.refusal);
    return std::nullopt;
  }
  run.counts.recoded += rebuilt->recoded;
  return std::move(*rebuilt);
}

void on_leave(ImportRun& run, const Entry& entry) {
  run.pool.wait_for_all();  // the frame's changes are all in
  Frame frame = std::move(run.frames.back());
  run.frames.pop_back();
  if (frame.changes.empty()) return;
  std::optional<Rebuilt> rebuilt = rebuild(run, frame, entry.name);
  if (rebuilt) {
    add_change(run, run.frames.back(), entry_key(entry),
               whole_bytes(frame.bytes, std::move(*rebuilt)), entry.name);
  }
}

// The folder's files whose names, in any case, begin with the source's name and "_" and end in an
// extension kelp reads; subfolders are named and passed over (in a disc's folder they are the
// disc's own, and pass silently).
std::map<std::string, std::vector<std::string>> candidate_files(const ImportRequest& request) {
  std::map<std::string, std::vector<std::string>> files;
  std::string prefix = ascii_lower(request.source_name) + "_";
  std::vector<std::string> names = platform::list_directory(request.images);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (platform::is_directory(in_images(request, name))) {
      if (request.part == nullptr) warn(in_images(request, name), "is a folder; not read");
      continue;
    }
    std::string lower = ascii_lower(name);
    bool ours = lower.starts_with(prefix) &&
                (lower.ends_with(png_extension) || lower.ends_with(bmp_extension) ||
                 lower.ends_with(bin_extension));
    if (ours) files[lower].push_back(name);
  }
  return files;
}

void add_rows(ImportRun& run, std::vector<ChangeRow>& rows) {
  for (Told& line : run.lines) {
    rows.push_back({line.entry, line.file, line.outcome.result, line.outcome.detail,
                    std::move(line.warnings), std::move(line.before), std::move(line.after)});
  }
}

// Writes the changes page, "<source name>-changes.html"; its path, or nothing (warned).
std::optional<std::string> write_changes(ImportRun& run) {
  const ImportRequest& request = run.request;
  if (!make_output_folder(request.output_folder)) return std::nullopt;
  std::vector<ChangeRow> rows;
  add_rows(run, rows);
  return write_page(changes_data(request.output_name + " changes", rows),
                    request.source_name + "-changes.html", request.output_folder);
}

std::string counted(std::size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string summary(const Counts& counts, const std::string& written) {
  return counted(counts.replaced, "texture", "textures") + " replaced (" +
         std::to_string(counts.quantized) + " quantized), " + std::to_string(counts.unchanged) +
         " unchanged, " + counted(counts.raw, "raw entry", "raw entries") + " replaced, " +
         counted(counts.recoded, "archive entry", "archive entries") + " re-coded; " + written;
}

}  // namespace

void write_rebuilt(OutputFile& out, Bytes source, const Rebuilt& rebuilt) {
  if (!rebuilt.in_place) return write_output(out, rebuilt.bytes);
  write_output(out, source);
  for (const Patch& patch : rebuilt.patches) {
    if (out.error == 0) out.error = platform::write_at(out.file, patch.offset, patch.bytes);
  }
}

int import_source(const ImportRequest& request, Bytes source) {
  WorkerPool pool(request.jobs);
  ImportRun run{request, pool, candidate_files(request), {}, {}, 0, {}, {}};
  run.frames.push_back({request.kind, source, {}, {}});
  Handler handler{[&](const Entry& e) { on_entry(run, e); },
                  [&](const Entry& e) { on_leave(run, e); }};
  // Images are read from the entries' own bytes: none may be decoded over while they are read.
  if (pool.workers() > 1) handler.reuse = [&](const WorkBuffer&) { pool.wait_for_all(); };
  bool whole =
      walk_source(request.kind, request.source_name, source, handler, limits_for(source.size()));
  pool.finish();
  if (!whole) refuse(run, request.output_name, "the walk stopped before the end of the source");
  for (const auto& [lower, names] : run.files) {
    if (run.used.count(lower)) continue;
    for (const std::string& file : names) {
      warn(in_images(run.request, file), "matches no entry; not read");
    }
  }
  if (request.dry_run) {
    for (const Told& line : run.lines) print_line(told(run, line.entry, line.file, line.outcome));
  }
  bool part = request.part != nullptr;
  if (part && request.gallery) add_rows(run, request.part->rows);
  std::optional<std::string> page;
  if (request.gallery && request.dry_run && !part) page = write_changes(run);
  std::optional<Rebuilt> rebuilt;
  bool unchanged = run.frames.front().changes.empty();
  if (run.refused == 0 && !unchanged)
    rebuilt = rebuild(run, run.frames.front(), request.output_name);
  std::size_t moved = rebuilt ? rebuilt->moved : 0;
  if (run.refused > 0 || (!unchanged && !rebuilt)) {
    if (part) return exit_incomplete;  // the caller says what was written
    note(page ? "nothing was written but the changes page " + *page : "nothing was written");
    return exit_incomplete;
  }
  if (moved > 0) {
    warn("warning: " + counted(moved, "entry", "entries") + " of " + request.output_name +
         " moved; a game that reads them at fixed offsets will not find them");
  }
  std::string wanted = in_folder(request.output_folder, request.output_name);
  if (part) {
    request.part->rebuilt = unchanged ? Rebuilt{.in_place = true} : std::move(*rebuilt);
    note(summary(run.counts, unchanged         ? "unchanged"
                             : request.dry_run ? "would be rebuilt"
                                               : "rebuilt"));
    return exit_success;
  }
  if (request.dry_run) {
    note(summary(run.counts,
                 "would write " + free_output_name(request.output_name, request.output_folder)));
    if (page) note("wrote the changes page " + *page);
    return request.gallery && !page ? exit_incomplete : exit_success;
  }
  if (!make_output_folder(request.output_folder)) return exit_incomplete;
  OutputFile out = create_output_or_warn(request.output_name, request.output_folder);
  if (!out.created) return exit_incomplete;
  if (out.name != wanted) warn(wanted + " exists; writing " + out.name);
  if (rebuilt) write_rebuilt(out, source, *rebuilt);
  if (!rebuilt) write_output(out, source);
  if (!finish_output(out)) return exit_incomplete;
  note(summary(run.counts, "wrote " + out.name));
  if (!request.gallery) return exit_success;
  page = write_changes(run);
  if (page) note("wrote the changes page " + *page);
  return page ? exit_success : exit_incomplete;
}

}  // namespace kelp
