#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "common/diagnostics.h"
#include "common/output.h"
#include "common/path.h"
#include "disc/disc.h"
#include "disc/files.h"
#include "disc/patch.h"
#include "driver/help.h"
#include "driver/options.h"
#include "import/import.h"
#include "overlay/overlay.h"
#include "platform/platform.h"
#include "unpack/unpack.h"

namespace kelp {

namespace {

constexpr std::string_view version_text =
    "kelp " KELP_VERSION
    "\nLicence GPL-3.0-or-later: GNU General Public License, version 3 or "
    "later; there is NO WARRANTY.\n";

void print(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

// Reads the source whole; a warning names it when it could not be read whole.
WholeFile read_source(platform::File file, const std::string& path, unsigned jobs) {
  WholeFile source = read_whole_file(file, jobs > 1);
  if (source.bytes.size() < source.size) {
    std::string why =
        source.error != 0 ? platform::describe_error(source.error) : "the file ended early";
    warn(path, "read " + std::to_string(source.bytes.size()) + " of " +
                   std::to_string(source.size) + " bytes: " + why);
  }
  return source;
}

UnpackRequest unpack_request(const Options& options, const std::string& title) {
  return {options.output_folder, options.list, options.json,    options.raw,
          options.png,           options.jobs, options.gallery, title};
}

// Reads the source and runs the job its extension names; the exit code.
int convert_source(platform::File file, int argc, const char* const* argv, const Options& options,
                   CodePage code_page) {
  std::string path = argv[options.source];
  PathParts parts = split_path(path, code_page);
  std::string extension = ascii_lower(parts.extension);
  if (extension == ".iso")
    note(path + ": a disc image is unpacked with -o DIR or listed with --list");
  if (extension != ".img" && extension != ".dat" && extension != ".bmp") return exit_success;
  WholeFile source = read_source(file, path, options.jobs);
  int exit_code = exit_success;
  if (extension == ".bmp") {
    if (!make_output_folder(options.output_folder)) return exit_incomplete;
    OverlayRun run = compose_overlay(source.bytes, path,
                                     platform::overlay_search_text(argc, argv, options.roles),
                                     code_page, options.output_folder);
    print(run.error_line);
    exit_code = run.exit_code;
  } else {
    ContainerKind kind = extension == ".img" ? ContainerKind::package : ContainerKind::archive;
    bool writes = !options.list && options.import_folder.empty();
    if (writes && !make_output_folder(options.output_folder)) {
      exit_code = exit_incomplete;
    } else if (options.import_folder.empty()) {
      exit_code = unpack_source(unpack_request(options, parts.name + parts.extension), kind,
                                parts.name, source.bytes);
    } else {
      ImportRequest request{options.import_folder, parts.name,   parts.name + parts.extension,
                            options.output_folder, kind,         options.dither,
                            options.jobs,          options.list, options.json,
                            options.gallery};
      exit_code = import_source(request, source.bytes);
    }
  }
  bool complete = source.bytes.size() == source.size;
  return !complete && exit_code == exit_success ? exit_incomplete : exit_code;
}

// A raw CD image begins with a sector's sync pattern: 00, ten FF, 00.
bool is_raw_cd_image(const std::string& path) {
  constexpr std::array<std::uint8_t, 12> sync{0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  std::optional<platform::File> file = platform::open_unshared(path);
  if (!file) return false;
  std::array<std::uint8_t, sync.size()> head{};
  int error = 0;
  bool raw = platform::read_whole(*file, head, error) == head.size() && head == sync;
  platform::close_file(*file);
  return raw;
}

// A disc image or a folder given with kelp's options: each .img and .dat file in it as a source.
int convert_disc_or_folder(const Options& options, const std::string& path, bool folder,
                           CodePage code_page) {
  PathParts parts = split_path(path, code_page);
  UnpackRequest request = unpack_request(options, parts.name + parts.extension);
  if (!options.import_folder.empty() && !is_raw_cd_image(path)) {
    ImportRequest import{options.import_folder, parts.name,   parts.name + parts.extension,
                         options.output_folder, {},           options.dither,
                         options.jobs,          options.list, options.json,
                         options.gallery};
    return folder ? import_folder(import, path, code_page)
                  : import_disc(import, path, platform::size_of(path).value_or(0), code_page);
  }
  if (!options.list && options.import_folder.empty() &&
      !make_output_folder(options.output_folder)) {
    return exit_incomplete;
  }
  if (folder) return unpack_folder(request, path, code_page);
  if (is_raw_cd_image(path)) {
    warn(path, "is a raw CD image of " + std::to_string(raw_sector_size) +
                   "-byte sectors; kelp reads disc images of " + std::to_string(disc_sector_size) +
                   "-byte sectors (.iso)");
    return exit_incomplete;
  }
  return unpack_disc(request, path, platform::size_of(path).value_or(0), code_page);
}

int run_source(int argc, const char* const* argv, const Options& options, CodePage code_page);

int run(int argc, const char* const* argv, CodePage code_page) {
  CommandLine line = parse_command_line(argc, argv, code_page);
  const Options& options = line.options;
  if (!line.usage_error.empty()) {
    note(line.usage_error);
    return exit_usage;
  }
  if (options.help) {
    print(help_text);
    return exit_success;
  }
  if (options.version) {
    print(version_text);
    return exit_success;
  }
  if (!options.list) print(banner);
  // After a .bmp source, later file arguments are part of the overlay options' text.
  bool overlay = ascii_lower(split_path(argv[options.source], code_page).extension) == ".bmp";
  std::vector<int> sources{options.source};
  if (!overlay && options.any_option) {
    sources.insert(sources.end(), options.more_sources.begin(), options.more_sources.end());
  } else if (!overlay && !options.more_sources.empty()) {
    std::string ignored;
    for (int index : options.more_sources)
      ignored += std::string(ignored.empty() ? "" : " ") + argv[index];
    note("only the first source is converted without kelp's options; ignored: " + ignored);
  }
  int exit_code = exit_success;
  for (int source : sources) {
    Options one = options;
    one.source = source;
    exit_code = worst_exit(exit_code, run_source(argc, argv, one, code_page));
  }
  return exit_code;
}

// Converts the source `options.source`; the exit code.
int run_source(int argc, const char* const* argv, const Options& options, CodePage code_page) {
  std::string source = argv[options.source];
  bool disc = ascii_lower(split_path(source, code_page).extension) == ".iso";
  bool folder = platform::is_directory(source);
  if (options.any_option && (folder || (disc && platform::path_exists(source)))) {
    try {
      return convert_disc_or_folder(options, source, folder, code_page);
    } catch (const std::bad_alloc&) {
      warn(source, "not enough memory; stopped");
      return exit_incomplete;
    }
  }
  std::optional<platform::File> file = platform::open_unshared(argv[options.source]);
  if (!file) {
    print(error_source_not_found);
    return exit_error;
  }
  int exit_code = exit_incomplete;
  try {
    exit_code = convert_source(*file, argc, argv, options, code_page);
  } catch (const std::bad_alloc&) {
    warn(argv[options.source], "not enough memory; stopped");
  }
  platform::close_file(*file);
  return exit_code;
}

}  // namespace

int run_kelp(int argc, const char* const* argv) {
  platform::prepare_process();
  if (argc <= 1) {
    print(banner);
    print(usage);
    return exit_success;
  }
  int exit_code = run(argc, argv, code_page_of(platform::locale_charset()));
  report_left_out_warnings();
  return exit_code;
}

}  // namespace kelp
