#include "files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace kelp::test {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "kelp-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
}

InDirectory::InDirectory(const fs::path& dir) : previous(fs::current_path()) {
  fs::current_path(dir);
}

InDirectory::~InDirectory() {
  fs::current_path(previous);
}

ByteVec read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return ByteVec(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, ByteVec> files_in(const fs::path& dir) {
  std::map<std::string, ByteVec> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files[entry.path().filename().string()] = read_file(entry.path());
  }
  return files;
}

namespace {

std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) entries.emplace_back(*e);
  for (const std::string& entry : extra) {
    std::string key = entry.substr(0, entry.find('=') + 1);
    std::erase_if(entries, [&](const std::string& e) { return e.starts_with(key); });
    entries.push_back(entry);
  }
  return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the child: redirect, change directory, drop privileges if asked, and start the program.
[[noreturn]] void start_program(const std::string& program, const fs::path& dir,
                                const fs::path& out, const fs::path& err, const RunOptions& options,
                                char** argv, char** envp) {
  int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (out_fd < 0 || err_fd < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) ::_exit(126);
  ::close_range(3, ~0u, 0);  // the program starts with the three standard descriptors alone
  if (::chdir(dir.c_str()) != 0) ::_exit(126);
  constexpr uid_t nobody = 65534;
  if (options.unprivileged && ::geteuid() == 0 &&
      (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
    ::_exit(126);
  }
  for (auto [resource, value] : {std::pair{RLIMIT_FSIZE, options.file_size_limit},
                                 {RLIMIT_AS, options.address_space_limit},
                                 {RLIMIT_NOFILE, options.open_files_limit}}) {
    rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    if (value > 0 && ::setrlimit(resource, &limit) != 0) ::_exit(126);
  }
  ::execve(program.c_str(), argv, envp);
  ::_exit(127);
}

}  // namespace

RunResult run_kelp(const fs::path& dir, const std::vector<std::string>& args,
                   const RunOptions& options) {
  return run_program(KELP_BINARY, dir, args, options);
}

RunResult run_program(const std::string& program, const fs::path& dir,
                      const std::vector<std::string>& args, const RunOptions& options) {
  TempDir capture;
  fs::permissions(capture.path, fs::perms::all);  // writable by an unprivileged child too
  fs::path out_path = capture.path / "out", err_path = capture.path / "err";
  std::string runnable = program;
  if (options.unprivileged && ::geteuid() == 0) {
    // The checkout may lie where the unprivileged user cannot reach (root's home): run a copy.
    runnable = (capture.path / fs::path(program).filename()).string();
    fs::copy_file(program, runnable);
  }
  std::vector<std::string> arg_texts = args;
  std::vector<std::string> env_texts = environment_with(options.environment);
  std::vector<char*> argv = pointers_to(arg_texts), envp = pointers_to(env_texts);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("cannot start " + program);
  if (pid == 0) start_program(runnable, dir, out_path, err_path, options, argv.data(), envp.data());
  RunResult result;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ByteVec out = read_file(out_path), err = read_file(err_path);
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  return result;
}

std::string kelp_binary() {
  return KELP_BINARY;
}

std::string banner_text() {
  return "PS2 Orrery Converter\n\t\tkelp, by the kelp developers\n\n";
}

}  // namespace kelp::test
