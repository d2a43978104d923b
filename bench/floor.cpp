// The I/O floor of a conversion: the work any converter producing the same files must do.
//   floor files <reference-folder> <output-folder> [--threads N]
//     loads every file of the reference folder (untimed), then creates each in the output folder
//     with O_CREAT|O_EXCL and writes its bytes with one write; with N threads, file i is
//     created and written by thread i mod N (the floor of a machine with N cores);
//   floor hot <reference-folder> <output-folder>
//     the same, but every file's bytes come from one buffer that stays in the processor's cache
//     (the contents differ, the cost of creating and filling the files does not);
//   floor overlay <base> <overlay> <output-file>
//     reads both inputs whole, then writes an output as large as the larger picture;
//   floor png <rows-file> <output-folder> [--threads N]
//     loads the PNG rows of every texture (untimed; bench/make_inputs.cpp writes them), then for
//     each lays out its scanlines with filter byte 0, deflates them with zlib at level 1 and
//     creates a file of the size a minimal indexed PNG of it would have, with one write; with
//     N threads, texture i is done by thread i mod N;
//   floor start
//     does nothing: the script times it to add the cost of starting a process to the floor;
//   floor warm <GiB>
//     touches that much memory once and frees it. In a virtual machine the host may back a
//     guest page only when it is first used, which makes whoever touches fresh memory first
//     (either program, by chance) several times slower; warming first makes the runs steady.
// Buffers are taken as kelp takes them, in large zero pages. Prints the timed part in seconds;
// files and png also print the processor time of the timed part, all threads', on standard
// error ("cpu <seconds>").
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
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

double processor_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](timeval time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void print_processor_time(double start) {
  std::fprintf(stderr, "cpu %.4f\n", processor_seconds() - start);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::uint32_t field(const Buffer& file, std::size_t at) {
  std::uint32_t value = 0;
  if (file.size >= at + 4) std::memcpy(&value, file.bytes + at, 4);
  return value;
}

// Runs work(i) for i in [0, count) on `threads` threads, i on thread i mod threads; false when
// any call failed.
template <typename Work>
bool on_threads(std::size_t count, unsigned threads, const Work& work) {
  std::vector<char> failed(threads, 0);
  std::vector<std::thread> running;
  for (unsigned t = 0; t < threads; ++t) {
    running.emplace_back([&, t] {
      for (std::size_t i = t; i < count; i += threads) failed[t] |= !work(i, t);
    });
  }
  for (std::thread& thread : running) thread.join();
  return std::count(failed.begin(), failed.end(), 0) == threads;
}

// Every file's bytes are loaded into one block, as kelp holds its source in one block: many
// small mappings would make the kernel compact memory for each and slow down every write.
int write_files(const std::string& reference, const std::string& output, bool hot,
                unsigned threads) {
  std::vector<std::pair<std::string, std::size_t>> files;
  std::vector<std::size_t> offsets;
  std::size_t total = 0, largest = 0;
  for (const auto& entry : std::filesystem::directory_iterator(reference)) {
    files.emplace_back(entry.path().filename().string(), entry.file_size());
    offsets.push_back(total);
    total += files.back().second;
    largest = std::max(largest, files.back().second);
  }
  Buffer all = allocate(total);
  for (std::size_t i = 0; i < files.size(); ++i)
    read_into(reference + "/" + files[i].first, all.bytes + offsets[i], files[i].second);
  Buffer shared = allocate(largest);
  std::memset(shared.bytes, 1, largest);
  double processor_start = processor_seconds();
  auto start = std::chrono::steady_clock::now();
  bool written = on_threads(files.size(), threads, [&](std::size_t i, unsigned) {
    const char* bytes = hot ? shared.bytes : all.bytes + offsets[i];
    return write_new(output + "/" + files[i].first, bytes, files[i].second);
  });
  if (!written) return 1;
  std::printf("%.4f\n", seconds_since(start));
  print_processor_time(processor_start);
  return 0;
}

std::uint32_t u32(const char*& at) {
  std::uint32_t value;
  std::memcpy(&value, at, 4);
  at += 4;
  return value;
}

struct Texture {
  std::string name;
  std::uint32_t side, bits, frame;
  const char* rows;
};

// Deflates one texture's scanlines at level 1 with the thread's own stream and buffers, and
// writes a file of a minimal indexed PNG's size; the bytes written, or 0 when that failed.
std::size_t write_png(const Texture& texture, const std::string& output, z_stream& stream,
                      std::vector<unsigned char>& lines, std::vector<unsigned char>& png) {
  std::size_t row_bytes = texture.bits == 4 ? (texture.side + 1) / 2 : texture.side;
  lines.resize((row_bytes + 1) * texture.side);
  for (std::uint32_t y = 0; y < texture.side; ++y) {
    lines[y * (row_bytes + 1)] = 0;
    std::memcpy(&lines[y * (row_bytes + 1) + 1], texture.rows + y * row_bytes, row_bytes);
  }
  deflateReset(&stream);
  png.resize(texture.frame + deflateBound(&stream, lines.size()));
  stream.next_in = lines.data();
  stream.avail_in = static_cast<uInt>(lines.size());
  stream.next_out = png.data() + texture.frame;
  stream.avail_out = static_cast<uInt>(png.size() - texture.frame);
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return 0;
  std::size_t size = texture.frame + stream.total_out;
  bool written =
      write_new(output + "/" + texture.name + ".png", reinterpret_cast<char*>(png.data()), size);
  return written ? size : 0;
}

int write_pngs(const std::string& rows_file, const std::string& output, unsigned threads) {
  Buffer rows = read_all(rows_file);
  std::vector<Texture> textures;
  for (const char* at = rows.bytes; at < rows.bytes + rows.size;) {
    std::string name(at + 4, u32(at));
    at += name.size();
    std::uint32_t side = u32(at), bits = u32(at), frame = u32(at), size = u32(at);
    textures.push_back({name, side, bits, frame, at});
    at += size;
  }
  // One deflate state and buffers per thread, reset for each texture.
  std::vector<z_stream> streams(threads);
  for (z_stream& stream : streams)
    if (deflateInit(&stream, 1) != Z_OK) return 1;
  std::vector<std::vector<unsigned char>> lines(threads), pngs(threads);
  std::vector<std::size_t> written(threads, 0);
  double processor_start = processor_seconds();
  auto start = std::chrono::steady_clock::now();
  bool whole = on_threads(textures.size(), threads, [&](std::size_t i, unsigned t) {
    std::size_t size = write_png(textures[i], output, streams[t], lines[t], pngs[t]);
    written[t] += size;
    return size > 0;
  });
  if (!whole) return 1;
  std::size_t total = 0;
  for (std::size_t size : written) total += size;
  std::printf("%.4f %zu\n", seconds_since(start), total);
  print_processor_time(processor_start);
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
  unsigned threads = 1;
  if (argc == 6 && std::string(argv[4]) == "--threads") {
    threads = static_cast<unsigned>(std::max(1, std::atoi(argv[5])));
    argc = 4;
  }
  if ((mode == "files" || mode == "hot") && argc == 4)
    return write_files(argv[2], argv[3], mode == "hot", threads);
  if (mode == "png" && argc == 4) return write_pngs(argv[2], argv[3], threads);
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
  std::fprintf(stderr,
               "usage: floor files|hot <reference> <output> [--threads N] | floor overlay <base> "
               "<overlay> <output> | floor png <rows> <output> [--threads N] | floor start | "
               "floor warm <GiB>\n");
  return 2;
}
