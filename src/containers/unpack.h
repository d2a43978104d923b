// One unpacking run: the depth-first walk of a container and everything nested in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "containers/bytes.h"
#include "containers/classify.h"
#include "containers/lzss.h"
#include "texture/texture.h"

namespace kelp {

// Limits against small hostile files; files from the game's discs stay far below them.
// Containers nest two or three deep. The nesting bound stops self-referencing or endlessly
// nested files and keeps entry names (five characters longer per level) short; each archive on
// the path holds a 32 MiB work buffer, so archives have a bound of their own.
constexpr std::size_t max_nesting = 32;
constexpr std::size_t max_archive_nesting = 8;
// A package lists at most 65535 sectors' worth of entries; a file whose levels each list the
// same package twice would otherwise be walked 2^32 times.
constexpr std::uint64_t max_entries_visited = std::uint64_t{1} << 22;
// Decoding expands at most nine times, texture export eight (TX4); real files stay well within
// 256 times their size (see output_budget). Each file counts as at least one 4 KiB block, so a
// tiny file cannot scatter millions of little bitmaps.
constexpr std::uint64_t decode_allowance = std::uint64_t{1} << 30;
constexpr std::uint64_t min_file_charge = 4096;

struct Unpack {
  std::uint64_t max_entries = max_entries_visited;
  std::uint64_t max_output = 0;   // bytes the run may write
  std::uint64_t max_decoded = 0;  // bytes the run may decode
  std::uint64_t entries_visited = 0;
  std::uint64_t output_charged = 0;
  std::uint64_t decoded_charged = 0;
  std::vector<const std::uint8_t*> nesting;  // first byte of each container on the current path
  std::size_t archives_open = 0;             // archives on the current path
  std::deque<WorkBuffer> work_buffers;       // one per archive level, kept for the next archive
  TextureOutput texture_output;              // the texture writers' buffer and room
  bool failed = false;   // something could not be written, or a limit was reached
  bool stopped = false;  // a limit was reached: the walk ends
};

// A run over a source of `source_size` bytes, with its limits.
Unpack start_unpack(std::uint64_t source_size);

// Counts `bytes` decoded by the entry `name`; false, ending the run, past the limit.
bool charge_decoded(Unpack& run, const std::string& name, std::uint64_t bytes);

// Classifies the entry at the start of `entry` (which runs to the end of the block holding it)
// and hands it on: textures to the converters, nested containers to their walkers.
void visit_entry(Unpack& run, const std::string& name, Bytes entry, ArchiveRule rule);

}  // namespace kelp
