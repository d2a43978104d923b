// A preloaded library that makes file operations of the kelp binary fail, for the end-to-end
// fault tests. Environment:
//   KELP_FAULT_CREATE_FROM=N    creating the N-th new file and every later one fails
//   KELP_FAULT_CREATE_ERRNO=E   with this error (default ENOSPC)
//   KELP_FAULT_WRITE_AFTER=B    writes to files stop after B bytes in all: the write that
//                               crosses B is cut short, later ones fail with ENOSPC
//   KELP_FAULT_READ_AFTER=B     reads stop after B bytes in all, then fail with EIO
//   KELP_FAULT_COPY_ERRNO=E     copy_file_range fails with this error, as between file systems
//   KELP_FAULT_SENDFILE_ERRNO=E sendfile fails with this error
// With a write limit, a write to a created file waits until every file created before it is
// closed, so that the limit falls where it falls in a one-thread run whatever the workers do.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace {

long setting(const char* name, long otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atol(value) : otherwise;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// Counted by every thread that writes or reads.
std::atomic<long> creates = 0;
std::atomic<long> written = 0;
std::atomic<long> read_so_far = 0;

bool create_fails() {
  long from = setting("KELP_FAULT_CREATE_FROM", 0);
  return from > 0 && ++creates >= from;
}

// How many of `count` bytes may pass before the limit `name`, counted in `so_far`.
long allowance(const char* name, long so_far, size_t count) {
  long limit = setting(name, -1);
  if (limit < 0) return static_cast<long>(count);
  long left = limit > so_far ? limit - so_far : 0;
  return static_cast<long>(count) < left ? static_cast<long>(count) : left;
}

std::mutex order_mutex;
std::condition_variable order_changed;
std::deque<int> open_created;  // created files not yet closed, in creation order

bool writes_limited() {
  return setting("KELP_FAULT_WRITE_AFTER", -1) >= 0;
}

void wait_for_earlier_files(int fd) {
  std::unique_lock lock(order_mutex);
  if (std::find(open_created.begin(), open_created.end(), fd) == open_created.end()) return;
  order_changed.wait(lock, [fd] { return open_created.front() == fd; });
}

int open_with(const char* which, const char* path, int flags, va_list rest) {
  mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(rest, int)) : 0;
  if ((flags & O_CREAT) && create_fails()) {
    errno = static_cast<int>(setting("KELP_FAULT_CREATE_ERRNO", ENOSPC));
    return -1;
  }
  int fd = next<int (*)(const char*, int, ...)>(which)(path, flags, mode);
  if (fd >= 0 && (flags & O_CREAT) && writes_limited()) {
    std::lock_guard lock(order_mutex);
    open_created.push_back(fd);
  }
  return fd;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  int fd = open_with("open", path, flags, rest);
  va_end(rest);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  int fd = open_with("open64", path, flags, rest);
  va_end(rest);
  return fd;
}

ssize_t write(int fd, const void* bytes, size_t count) {
  auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd <= 2) return real(fd, bytes, count);
  wait_for_earlier_files(fd);
  long allowed = allowance("KELP_FAULT_WRITE_AFTER", written, count);
  if (allowed == 0 && count > 0) {
    errno = ENOSPC;
    return -1;
  }
  ssize_t put = real(fd, bytes, static_cast<size_t>(allowed));
  if (put > 0) written += put;
  return put;
}

int close(int fd) {
  {
    std::lock_guard lock(order_mutex);
    auto created = std::find(open_created.begin(), open_created.end(), fd);
    if (created != open_created.end()) open_created.erase(created);
  }
  order_changed.notify_all();
  return next<int (*)(int)>("close")(fd);
}

ssize_t pread(int fd, void* into, size_t count, off_t offset) {
  auto real = next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  long allowed = allowance("KELP_FAULT_READ_AFTER", read_so_far, count);
  if (allowed == 0 && count > 0) {
    errno = EIO;
    return -1;
  }
  ssize_t got = real(fd, into, static_cast<size_t>(allowed), offset);
  if (got > 0) read_so_far += got;
  return got;
}

ssize_t pread64(int fd, void* into, size_t count, off_t offset) {
  return pread(fd, into, count, offset);
}

ssize_t copy_file_range(int in, off64_t* in_at, int out, off64_t* out_at, size_t count,
                        unsigned flags) {
  if (long error = setting("KELP_FAULT_COPY_ERRNO", 0); error != 0) {
    errno = static_cast<int>(error);
    return -1;
  }
  auto real = next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
  return real(in, in_at, out, out_at, count, flags);
}

ssize_t sendfile(int out, int in, off_t* at, size_t count) {
  if (long error = setting("KELP_FAULT_SENDFILE_ERRNO", 0); error != 0) {
    errno = static_cast<int>(error);
    return -1;
  }
  return next<ssize_t (*)(int, int, off_t*, size_t)>("sendfile")(out, in, at, count);
}

}  // extern "C"
