#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <string>

#include "containers/archive.h"
#include "containers/package.h"
#include "containers/unpack.h"
#include "driver/path.h"
#include "platform/platform.h"

namespace kelp {

namespace {

void print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
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
  std::unique_ptr<std::uint8_t[]> buffer;
  Bytes bytes;
  bool complete = true;
};

Source read_source(platform::File file, const std::string& path) {
  std::uint64_t size = platform::file_size(file);
  Source source{std::make_unique_for_overwrite<std::uint8_t[]>(size), {}, true};
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
  Unpack run;
  run.nesting.push_back(source.data());
  walk(run, name, source);
  return !run.failed;
}

}  // namespace

int run_kelp(int argc, const char* const* argv) {
  platform::prepare_process();
  print(banner);
  if (argc <= 1) {
    print(usage);
    return exit_success;
  }
  std::string path = argv[choose_source(argc, argv)];
  std::optional<platform::File> file = platform::open_unshared(path);
  if (!file) {
    print(error_source_not_found);
    return exit_error;
  }
  PathParts parts = split_path(path, code_page_of(platform::locale_charset()));
  std::string extension = ascii_lower(parts.extension);
  bool complete = true;
  if (extension == ".img" || extension == ".dat") {
    Source source = read_source(*file, path);
    complete = extension == ".img" ? unpack(parts.name, source.bytes, walk_package)
                                   : unpack(parts.name, source.bytes, walk_archive);
    complete = complete && source.complete;
  }
  platform::close_file(*file);
  return complete ? exit_success : exit_incomplete;
}

}  // namespace kelp
