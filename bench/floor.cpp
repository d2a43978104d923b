// The I/O floor of a conversion: the work any converter producing the same files must do.
//   floor files <reference-folder> <output-folder>
//     loads every file of the reference folder (untimed), then creates each in the output folder
//     with O_CREAT|O_EXCL and writes its bytes with one write;
//   floor hot <reference-folder> <output-folder>
//     the same, but every file's bytes come from one buffer that stays in the processor's cache
//     (the contents differ, the cost of creating and filling the files does not);
//   floor overlay <base> <overlay> <output-file>
//     reads both inputs whole, then writes an output as large as the larger picture;
//   floor png <rows-file> <output-folder>
//     loads the PNG rows of every texture (untimed; bench/make_inputs.cpp writes them), then for
//     each lays out its scanlines with filter byte 0, deflates them with zlib at level 1 and
//     creates a file of the size a minimal indexed PNG of it would have, with one write;
//   floor start
//     does nothing: the script times it to add the cost of starting a process to the floor;
//   floor warm <GiB>
//     touches that much memory once and frees it. In a virtual machine the host may back a
//     guest page only when it is first used, which makes whoever touches fresh memory first
//     (either program, by chance) several times slower; warming first makes the runs steady.
// Buffers are taken as kelp takes them, in large zero pages. Prints the timed part in seconds.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

struct Buffer {
  char* bytes = nullptr;
  std::size_t size = 0;
};

Buffer allocate(std::size_t size) {
  void* block = ::mmap(nullptr, std::max<std::size_t>(size, 1), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) std::exit(1);
  ::madvise(block, std::max<std::size_t>(size, 1), MADV_HUGEPAGE);
  return {static_cast<char*>(block), size};
}

// Reads `path` whole into `into`; the bytes read.
std::size_t read_into(const std::string& path, char* into, std::size_t size) {
  int fd = ::open(path.c_str(), O_RDONLY);
  std::size_t done = 0;
  while (fd >= 0 && done < size) {
    ssize_t got = ::read(fd, into + done, size - done);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return done;
}

Buffer read_all(const std::string& path) {
  Buffer buffer = allocate(std::filesystem::file_size(path));
  buffer.size = read_into(path, buffer.bytes, buffer.size);
  return buffer;
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

std::uint32_t field(const Buffer& file, std::size_t at) {
  std::uint32_t value = 0;
  if (file.size >= at + 4) std::memcpy(&value, file.bytes + at, 4);
  return value;
}

// Every file's bytes are loaded into one block, as kelp holds its source in one block: many
// small mappings would make the kernel compact memory for each and slow down every write.
int write_files(const std::string& reference, const std::string& output, bool hot) {
  std::vector<std::pair<std::string, std::size_t>> files;
  std::size_t total = 0, largest = 0;
  for (const auto& entry : std::filesystem::directory_iterator(reference)) {
    files.emplace_back(entry.path().filename().string(), entry.file_size());
    total += files.back().second;
    largest = std::max(largest, files.back().second);
  }
  Buffer all = allocate(total);
  std::size_t at = 0;
  for (const auto& [name, size] : files)
    at += read_into(reference + "/" + name, all.bytes + at, size);
  Buffer shared = allocate(largest);
  std::memset(shared.bytes, 1, largest);
  auto start = std::chrono::steady_clock::now();
  at = 0;
  for (const auto& [name, size] : files) {
    if (!write_new(output + "/" + name, hot ? shared.bytes : all.bytes + at, size)) return 1;
    at += size;
  }
  std::printf("%.4f\n", seconds_since(start));
  return 0;
}

std::uint32_t u32(const char*& at) {
  std::uint32_t value;
  std::memcpy(&value, at, 4);
  at += 4;
  return value;
}

int write_pngs(const std::string& rows_file, const std::string& output) {
  Buffer rows = read_all(rows_file);
  std::vector<unsigned char> lines, png;
  std::size_t written = 0;
  z_stream stream{};
  if (deflateInit(&stream, 1) != Z_OK) return 1;  // one deflate state, reset for each texture
  auto start = std::chrono::steady_clock::now();
  for (const char* at = rows.bytes; at < rows.bytes + rows.size;) {
    std::string name(at + 4, u32(at));
    at += name.size();
    std::uint32_t side = u32(at), bits = u32(at), frame = u32(at), size = u32(at);
    std::size_t row_bytes = bits == 4 ? (side + 1) / 2 : side;
    lines.resize((row_bytes + 1) * side);
    for (std::uint32_t y = 0; y < side; ++y) {
      lines[y * (row_bytes + 1)] = 0;
      std::memcpy(&lines[y * (row_bytes + 1) + 1], at + y * row_bytes, row_bytes);
    }
    at += size;
    deflateReset(&stream);
    png.resize(frame + deflateBound(&stream, lines.size()));
    stream.next_in = lines.data();
    stream.avail_in = static_cast<uInt>(lines.size());
    stream.next_out = png.data() + frame;
    stream.avail_out = static_cast<uInt>(png.size() - frame);
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return 1;
    std::size_t deflated = stream.total_out;
    if (!write_new(output + "/" + name + ".png", reinterpret_cast<char*>(png.data()),
                   frame + deflated))
      return 1;
    written += frame + deflated;
  }
  std::printf("%.4f %zu\n", seconds_since(start), written);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "start") return 0;
  if (mode == "warm" && argc == 3) {
    Buffer block = allocate(std::stoull(argv[2]) << 30);
    for (std::size_t at = 0; at < block.size; at += 4096) block.bytes[at] = 1;
    return 0;
  }
  if ((mode == "files" || mode == "hot") && argc == 4)
    return write_files(argv[2], argv[3], mode == "hot");
  if (mode == "png" && argc == 4) return write_pngs(argv[2], argv[3]);
  if (mode == "overlay" && argc == 5) {
    auto start = std::chrono::steady_clock::now();
    Buffer base = read_all(argv[2]), overlay = read_all(argv[3]);
    std::uint64_t width = std::max(field(base, 18), field(overlay, 18));
    std::uint64_t height = std::max(field(base, 22), field(overlay, 22));
    std::size_t size = 54 + 4 * width * height;
    Buffer output = size <= base.size ? base : allocate(size);  // bytes it already has
    if (!write_new(argv[4], output.bytes, size)) return 1;
    std::printf("%.4f\n", seconds_since(start));
    return 0;
  }
  std::fprintf(
      stderr,
      "usage: floor files|hot <reference> <output> | floor overlay <base> <overlay> <output> | "
      "floor png <rows> <output> | floor start | floor warm <GiB>\n");
  return 2;
}
