// Scratch directories, file helpers and a runner for the built kelp binary.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "builders.h"

namespace kelp::test {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, removed with everything in it.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  fs::path path;
};

// Makes `dir` the current directory for the lifetime of the object.
struct InDirectory {
  explicit InDirectory(const fs::path& dir);
  ~InDirectory();
  fs::path previous;
};

ByteVec read_file(const fs::path& path);

// Every regular file in `dir` (not below it), by name.
std::map<std::string, ByteVec> files_in(const fs::path& dir);

struct RunResult {
  int exit_code = -1;  // the process's exit status, 0 to 255, or 128 + the signal that ended it
  bool timed_out = false;
  std::string out;
  std::string err;
};

struct RunOptions {
  std::vector<std::string> environment;  // "NAME=value" entries added to or replacing ours
  bool unprivileged = false;             // when run as root, run kelp as user "nobody"
  long file_size_limit = 0;              // when set, writes past this many bytes fail
  int timeout_seconds = 120;             // kelp is killed after this long
  long address_space_limit = 0;          // when set, allocations past this many bytes fail
  long open_files_limit = 0;             // when set, opens past this many descriptors fail
};

// Runs the kelp binary in `dir` with `args` (argument 0 is the binary's own path) and waits.
RunResult run_kelp(const fs::path& dir, const std::vector<std::string>& args,
                   const RunOptions& options = {});

// Runs `program` (a path) the same way.
RunResult run_program(const std::string& program, const fs::path& dir,
                      const std::vector<std::string>& args, const RunOptions& options = {});

// The path of the built kelp binary.
std::string kelp_binary();

// The bytes kelp prints first on every run.
std::string banner_text();

}  // namespace kelp::test
