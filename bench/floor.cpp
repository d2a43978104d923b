// The I/O floor of a conversion: the work any converter producing the same files must do.
//   floor files <reference-folder> <output-folder>
//     loads every file of the reference folder (untimed), then creates each in the output folder
//     with O_CREAT|O_EXCL and writes its bytes with one write;
//   floor overlay <base> <overlay> <output-file>
//     reads both inputs whole, then writes an output as large as the larger picture.
// Prints the timed part in seconds.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::vector<char> read_all(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> bytes(std::filesystem::file_size(path));
  std::size_t done = 0;
  while (fd >= 0 && done < bytes.size()) {
    ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return bytes;
}

bool write_new(const std::string& path, const char* bytes, std::size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool whole = ::write(fd, bytes, size) == static_cast<ssize_t>(size);
  return ::close(fd) == 0 && whole;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::uint32_t field(const std::vector<char>& file, std::size_t at) {
  std::uint32_t value = 0;
  if (file.size() >= at + 4) std::memcpy(&value, file.data() + at, 4);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "files" && argc == 4) {
    std::vector<std::pair<std::string, std::vector<char>>> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
      files.emplace_back(entry.path().filename().string(), read_all(entry.path().string()));
    }
    auto start = std::chrono::steady_clock::now();
    for (const auto& [name, bytes] : files) {
      if (!write_new(std::string(argv[3]) + "/" + name, bytes.data(), bytes.size())) return 1;
    }
    std::printf("%.4f\n", seconds_since(start));
    return 0;
  }
  if (mode == "overlay" && argc == 5) {
    auto start = std::chrono::steady_clock::now();
    std::vector<char> base = read_all(argv[2]), overlay = read_all(argv[3]);
    std::uint64_t width = std::max(field(base, 18), field(overlay, 18));
    std::uint64_t height = std::max(field(base, 22), field(overlay, 22));
    std::size_t size = 54 + 4 * width * height;
    if (base.size() < size) base.resize(size);  // bytes it already has, as far as they go
    if (!write_new(argv[4], base.data(), size)) return 1;
    std::printf("%.4f\n", seconds_since(start));
    return 0;
  }
  std::fprintf(
      stderr,
      "usage: floor files <reference> <output> | floor overlay <base> <overlay> <output>\n");
  return 2;
}
