// The operating-system services kelp relies on. This is the only code that touches the OS;
// posix.cpp implements it on POSIX systems, windows.cpp on the Windows file functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelp::platform {

// An open file: a descriptor, or a Windows handle. Error codes are the platform's own (errno,
// or Windows' system error codes); 0 means success.
struct File {
  std::intptr_t descriptor = -1;
};

// The platform's codes for a name too long to create, for a name that exists, for memory that
// cannot be had and for a process that has as many files open as it may.
extern const int error_name_too_long;
extern const int error_exists;
extern const int error_no_memory;
extern const int error_too_many_files;

// Prepares the process: a write past a file-size limit must fail with an error, which kelp
// reports, rather than end the process with a partial file left behind.
void prepare_process();

// Opens an existing regular file for reading and holds it unshared: while it stays open, a
// second open_unshared of the same file fails, from this process or another. Directories and
// other non-regular files are refused. With `other_readers`, other opens of that kind may read
// it too (the disc library reads an image through a handle of its own), but not an open that
// holds it alone.
std::optional<File> open_unshared(const std::string& path, bool other_readers = false);

// The file's full size in bytes.
std::uint64_t file_size(File file);

// Reads from `from` (the file's start by default) until `into` is full, the file ends or a read
// fails. Returns the number of bytes read; `error` is set when a read failed.
std::size_t read_whole(File file, std::span<std::uint8_t> into, int& error, std::uint64_t from = 0);

enum class CreateStatus { created, exists, failed };

struct Creation {
  CreateStatus status = CreateStatus::failed;
  File file;
  int error = 0;
};

// Creates a new, empty file for writing. Testing for an existing name and creating the file
// are one step, so an existing file (or a link) is never opened, truncated or followed.
Creation create_new_file(const std::string& name);

// Writes all of `bytes`, retrying partial writes. Returns 0 or the error code.
int write_all(File file, std::span<const std::uint8_t> bytes);

// Writes all of `bytes` at `offset` of the file, leaving its position where it was not used
// again. Returns 0 or the error code.
int write_at(File file, std::uint64_t offset, std::span<const std::uint8_t> bytes);

// Copies `size` bytes from the start of `from` (open for reading) into `to` (new and empty): by
// reference (a reflink) or inside the kernel where the file system can. Returns 0 or the error.
int copy_contents(File from, File to, std::uint64_t size);

// Closes the file. Returns 0 or the error code (a delayed write error may show here).
int close_file(File file);

void remove_file(const std::string& name);

// True when something exists under this path.
bool path_exists(const std::string& path);

bool is_directory(const std::string& path);

// True when the path is a symbolic link (on Windows, a reparse point such as a junction).
bool is_link(const std::string& path);

// The size of the file at `path`; nothing when it cannot be had.
std::optional<std::uint64_t> size_of(const std::string& path);

// The names in a folder ("." and ".." left out); empty when it cannot be read.
std::vector<std::string> list_directory(const std::string& path);

// Creates one folder level. Returns 0 or the error code.
int make_directory(const std::string& path);

// What each argument of the command line is to the driver.
enum class ArgumentRole { invocation, source, file, slash_option, kelp_option };

// Whether an argument that begins with "/" is a path rather than an option. On POSIX absolute
// paths begin with "/", so one that names an existing file is a path; on Windows never.
bool slash_argument_is_path(const std::string& argument);

// The text in which the overlay options are searched, kelp's own options and their values left
// out. Windows gives the raw command line, invocation and source included. On POSIX it is the
// arguments that are files or "/" options, joined with single spaces: the invocation and the
// source, whose paths are full of "/", are left out.
std::string overlay_search_text(int argc, const char* const* argv,
                                std::span<const ArgumentRole> roles);

// A block of `size` zero bytes whose pages cost no memory until they are written, in large
// pages where the system has them; empty when the memory cannot be had.
struct PageRelease {
  std::size_t size = 0;
  void operator()(std::uint8_t* block) const;
};
using PageBlock = std::unique_ptr<std::uint8_t, PageRelease>;
PageBlock allocate_pages(std::size_t size);

// The user's character set, as the locale names it (for example "UTF-8" or "SHIFT_JIS"), or
// on Windows the ANSI code page ("cp932").
std::string locale_charset();

// A file name in UTF-8, as a browser's file:// URL names it and libcdio opens it on Windows: there
// converted from the ANSI code page, elsewhere the name's own bytes.
std::string name_in_utf8(const std::string& name);

std::string describe_error(int error);

// Writes `line` and a line feed on standard error.
void error_line(std::string_view line);

}  // namespace kelp::platform
