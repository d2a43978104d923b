#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "common/diagnostics.h"
#include "common/output.h"
#include "common/path.h"
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
WholeFile read_source(platform::File file, const std::string& path) {
  WholeFile source = read_whole_file(file);
  if (source.bytes.size() < source.size) {
    std::string why =
        source.error != 0 ? platform::describe_error(source.error) : "the file ended early";
    warn(path, "read " + std::to_string(source.bytes.size()) + " of " +
                   std::to_string(source.size) + " bytes: " + why);
  }
  return source;
}

// Reads the source and runs the job its extension names; the exit code.
int convert_source(platform::File file, int argc, const char* const* argv, const Options& options,
                   CodePage code_page) {
  std::string path = argv[options.source];
  PathParts parts = split_path(path, code_page);
  std::string extension = ascii_lower(parts.extension);
  if (extension != ".img" && extension != ".dat" && extension != ".bmp") return exit_success;
  WholeFile source = read_source(file, path);
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
      UnpackRequest request{
          options.output_folder, options.list, options.json,    options.raw,
          options.png,           options.jobs, options.gallery, parts.name + parts.extension};
      exit_code = unpack_source(request, kind, parts.name, source.bytes);
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
