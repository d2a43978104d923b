#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "containers/archive.h"
#include "containers/package.h"
#include "containers/unpack.h"
#include "driver/path.h"
#include "overlay/overlay.h"
#include "platform/platform.h"

namespace kelp {

namespace {

void print(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

// The first argument that does not begin with "/" is the source; so is one that does but names
// an existing file, since here absolute paths begin with "/". With none, argument 0 is taken.
int choose_source(int argc, const char* const* argv) {
  for (int index = 1; index < argc; ++index) {
    if (argv[index][0] != '/' || platform::path_exists(argv[index])) return index;
  }
  return 0;
}

struct Source {
  platform::PageBlock buffer;
  Bytes bytes;
  bool complete = true;
};

Source read_source(platform::File file, const std::string& path) {
  std::uint64_t size = platform::file_size(file);
  Source source{platform::allocate_pages(size), {}, true};
  if (!source.buffer) throw std::bad_alloc();
  int error = 0;
  std::size_t got = platform::read_whole(file, {source.buffer.get(), size}, error);
  source.bytes = Bytes(source.buffer.get(), got);
  if (got < size) {
    std::string why = error != 0 ? platform::describe_error(error) : "the file ended early";
    platform::warn(
        path, "read " + std::to_string(got) + " of " + std::to_string(size) + " bytes: " + why);
    source.complete = false;
  }
  return source;
}

// Walks the source by `walk` (walk_package or walk_archive); false when some texture could not
// be written.
template <typename Walk>
bool unpack(const std::string& name, Bytes source, Walk walk) {
  Unpack run = start_unpack(source.size());
  run.nesting.push_back(source.data());
  walk(run, name, source);
  return !run.failed;
}

// Reads the source and runs the handler its extension names; the exit code.
int convert_source(platform::File file, int argc, const char* const* argv, int source_index,
                   CodePage code_page) {
  std::string path = argv[source_index];
  PathParts parts = split_path(path, code_page);
  std::string extension = ascii_lower(parts.extension);
  if (extension != ".img" && extension != ".dat" && extension != ".bmp") return exit_success;
  Source source = read_source(file, path);
  int exit_code = exit_success;
  if (extension == ".bmp") {
    OverlayRun run = compose_overlay(source.bytes, path,
                                     platform::command_line(argc, argv, source_index), code_page);
    print(run.error_line);
    exit_code = run.exit_code;
  } else {
    bool written = extension == ".img" ? unpack(parts.name, source.bytes, walk_package)
                                       : unpack(parts.name, source.bytes, walk_archive);
    exit_code = written ? exit_success : exit_incomplete;
  }
  return !source.complete && exit_code == exit_success ? exit_incomplete : exit_code;
}

}  // namespace

int run_kelp(int argc, const char* const* argv) {
  platform::prepare_process();
  print(banner);
  if (argc <= 1) {
    print(usage);
    return exit_success;
  }
  int source_index = choose_source(argc, argv);
  std::optional<platform::File> file = platform::open_unshared(argv[source_index]);
  if (!file) {
    print(error_source_not_found);
    return exit_error;
  }
  int exit_code = exit_incomplete;
  try {
    CodePage code_page = code_page_of(platform::locale_charset());
    exit_code = convert_source(*file, argc, argv, source_index, code_page);
  } catch (const std::bad_alloc&) {
    platform::warn(argv[source_index], "not enough memory; stopped");
  }
  platform::close_file(*file);
  return exit_code;
}

}  // namespace kelp
