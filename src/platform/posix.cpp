#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace kelp::platform {

const int error_name_too_long = ENAMETOOLONG;
const int error_exists = EEXIST;
const int error_no_memory = ENOMEM;
const int error_too_many_files = EMFILE;

namespace {

int fd(File file) {
  return static_cast<int>(file.descriptor);
}

}  // namespace

void prepare_process() {
  std::signal(SIGXFSZ, SIG_IGN);
  // Blocks of a few MiB (a PNG's deflate state and rows, one per file) stay on the heap for
  // the next file: mapped afresh, every page of them would be faulted in and cleared again.
  constexpr int mapped_from = 64 << 20, trimmed_from = 128 << 20;
  ::mallopt(M_MMAP_THRESHOLD, mapped_from);
  ::mallopt(M_TRIM_THRESHOLD, trimmed_from);
}

std::optional<File> open_unshared(const std::string& path, bool other_readers) {
  // O_NONBLOCK keeps a FIFO from stalling the open; such files are refused below anyway.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                ::flock(fd, (other_readers ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0;
  if (!usable) {
    ::close(fd);
    return std::nullopt;
  }
  return File{fd};
}

std::uint64_t file_size(File file) {
  struct stat info {};
  if (::fstat(fd(file), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

std::size_t read_whole(File file, std::span<std::uint8_t> into, int& error, std::uint64_t from) {
  std::size_t done = 0;
  error = 0;
  while (done < into.size()) {
    ssize_t got =
        ::pread(fd(file), into.data() + done, into.size() - done, static_cast<off_t>(from + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = errno;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

Creation create_new_file(const std::string& name) {
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) return {CreateStatus::created, File{fd}, 0};
  int error = errno;
  return {error == EEXIST ? CreateStatus::exists : CreateStatus::failed, File{}, error};
}

int write_all(File file, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = ::write(fd(file), bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return EIO;
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

int write_at(File file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = ::pwrite(fd(file), bytes.data() + done, bytes.size() - done,
                           static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return EIO;
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

// Copies through a buffer, from where copy_file_range left off.
int copy_through_buffer(File from, File to, std::uint64_t done, std::uint64_t size) {
  constexpr std::size_t piece_size = std::size_t{1} << 20;
  std::vector<std::uint8_t> piece(
      static_cast<std::size_t>(std::min<std::uint64_t>(size - done, piece_size)));
  while (done < size) {
    int error = 0;
    std::span<std::uint8_t> into(
        piece.data(), static_cast<std::size_t>(std::min<std::uint64_t>(size - done, piece.size())));
    std::size_t got = read_whole(from, into, error, done);
    if (got == 0) return error != 0 ? error : EIO;
    if (int failed = write_at(to, done, into.first(got)); failed != 0) return failed;
    done += got;
  }
  return 0;
}

// sendfile copies inside the kernel too, between any two files, from the page cache; where it
// is refused, a buffer serves.
int copy_by_sendfile(File from, File to, std::uint64_t done, std::uint64_t size) {
  off_t read_at = static_cast<off_t>(done);
  if (::lseek(fd(to), read_at, SEEK_SET) < 0) return errno;
  while (done < size) {
    ssize_t copied = ::sendfile(fd(to), fd(from), &read_at, static_cast<std::size_t>(size - done));
    if (copied < 0 && errno == EINTR) continue;
    bool unsupported = copied < 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP);
    if (unsupported) return copy_through_buffer(from, to, done, size);
    if (copied < 0) return errno;
    if (copied == 0) return EIO;
    done += static_cast<std::uint64_t>(copied);
  }
  return 0;
}

int copy_contents(File from, File to, std::uint64_t size) {
  // copy_file_range shares the blocks where the file system can (a reflink) and otherwise
  // copies inside the kernel; between file systems some kernels refuse it, and sendfile serves.
  loff_t read_at = 0, write_at = 0;
  for (std::uint64_t done = 0; done < size;) {
    ssize_t copied = ::copy_file_range(fd(from), &read_at, fd(to), &write_at,
                                       static_cast<std::size_t>(size - done), 0);
    if (copied < 0 && errno == EINTR) continue;
    bool unsupported =
        copied < 0 && (errno == EXDEV || errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL);
    if (unsupported) return copy_by_sendfile(from, to, done, size);
    if (copied < 0) return errno;
    if (copied == 0) return EIO;
    done += static_cast<std::uint64_t>(copied);
  }
  return 0;
}

int close_file(File file) {
  return ::close(fd(file)) == 0 ? 0 : errno;
}

void remove_file(const std::string& name) {
  ::unlink(name.c_str());
}

bool path_exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool is_directory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_link(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::optional<std::uint64_t> size_of(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

std::vector<std::string> list_directory(const std::string& path) {
  std::vector<std::string> names;
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return names;
  while (const dirent* entry = ::readdir(folder)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(folder);
  return names;
}

int make_directory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

bool slash_argument_is_path(const std::string& argument) {
  return path_exists(argument);
}

std::string overlay_search_text(int argc, const char* const* argv,
                                std::span<const ArgumentRole> roles) {
  std::string text;
  for (int index = 1; index < argc; ++index) {
    ArgumentRole role = roles[static_cast<std::size_t>(index)];
    if (role != ArgumentRole::file && role != ArgumentRole::slash_option) continue;
    if (!text.empty()) text += ' ';
    text += argv[index];
  }
  return text;
}

PageBlock allocate_pages(std::size_t size) {
  std::size_t mapped = size == 0 ? 1 : size;
  void* block = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (block == MAP_FAILED) return PageBlock(nullptr, PageRelease{0});
  // Large pages cut the page faults of filling big buffers five-hundredfold.
  ::madvise(block, mapped, MADV_HUGEPAGE);
  return PageBlock(static_cast<std::uint8_t*>(block), PageRelease{mapped});
}

void PageRelease::operator()(std::uint8_t* block) const {
  ::munmap(block, size);
}

std::string locale_charset() {
  if (std::setlocale(LC_CTYPE, "") == nullptr) return "";
  std::string charset = ::nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, "C");
  return charset;
}

std::string name_in_utf8(const std::string& name) {
  return name;
}

std::string describe_error(int error) {
  return std::strerror(error);
}

void error_line(std::string_view line) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

}  // namespace kelp::platform
