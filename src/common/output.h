// Output files: created only when new, never overwriting, and removed when they cannot be
// written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "platform/platform.h"

namespace kelp {

// A name that cannot be created is retried with "_0001" to "_FFFF" inserted before its last ".".
constexpr std::size_t clash_suffix_size = 5;
constexpr std::uint32_t last_clash_number = 0xFFFF;
// Longest file name accepted, so that every suffixed candidate fits a 255-byte file name.
constexpr std::size_t max_output_name = 255 - clash_suffix_size;

// The most a run may write for `input_bytes` of input: 64 MiB, and 256 bytes more for each
// input byte, which bounds what a small hostile file can make kelp write.
constexpr std::uint64_t output_allowance = std::uint64_t{64} << 20;
constexpr std::uint64_t allowance_per_input_byte = 256;
constexpr std::uint64_t output_budget(std::uint64_t input_bytes) {
  return output_allowance + allowance_per_input_byte * input_bytes;
}

struct OutputFile {
  platform::File file;
  std::string name;  // the path the file was created under, folder and suffix included
  int error = 0;     // why creation failed, or the first write error
  bool created = false;
};

// Creates `name` in `folder` (empty: the current folder) as a new file, or the first free
// suffixed candidate when the name exists. An existing file is never opened. Any failure other
// than an existing name ends the search, since every candidate would fail the same way.
OutputFile create_output_file(const std::string& name, const std::string& folder = {});

// As create_output_file, with a warning naming the file when it cannot be created.
OutputFile create_output_or_warn(const std::string& name, const std::string& folder);

// The warning for a file that could not be created.
void warn_not_created(const OutputFile& out);

// `name` in `folder` (empty: the current folder).
std::string in_folder(const std::string& folder, const std::string& name);

// The path create_output_file would create now, without creating it.
std::string free_output_name(const std::string& name, const std::string& folder);

// Creates the output folder when it is missing; false, with a warning, when it cannot be.
bool make_output_folder(const std::string& folder);

// Prints a line of data on standard output.
void print_line(std::string_view line);

// Appends bytes to the file; after the first failure further writes are dropped.
void write_output(OutputFile& out, Bytes bytes);

// Closes the file. When anything failed, the partial file is removed and the reason is named on
// standard error. Returns true when the file is complete.
bool finish_output(OutputFile& out);

// A file read whole into zero pages (see platform::allocate_pages). Throws bad_alloc when the
// memory cannot be had.
struct WholeFile {
  platform::PageBlock buffer;
  Bytes bytes;             // what was read
  std::uint64_t size = 0;  // what the file's size said
  int error = 0;           // why the read stopped early, if a read failed
};
// With `both_halves`, a file of 64 MiB or more is read as two halves at once, on this thread and
// one more: most of a read into fresh memory is the kernel zeroing its pages, which two cores do
// in half the time.
WholeFile read_whole_file(platform::File file, bool both_halves = false);

}  // namespace kelp
