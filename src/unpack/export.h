// The unpack: every texture as a bitmap or PNG and, with --raw, every MOT record and unrecognised
// entry as its own bytes. The files are created in walk order, so that names, clash suffixes and
// failures are those of one thread: by the workers, or by the walk when the gallery needs each
// name at once. A worker converts, writes and closes each file.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/pool.h"
#include "containers/walk.h"
#include "gallery/page.h"
#include "texture/bitmap.h"

namespace kelp {

// Textures and raw entries of at most this many bytes that lie in a work buffer are copied for
// their job, so that the walk can decode into the buffer again at once; bigger ones keep the
// buffer until their job is done (copying them measured slower: the heap grows by the copies of
// every waiting job). The copies of all waiting jobs stay within max_jobs_waiting x
// max_copied_bytes, 8 MiB.
constexpr std::size_t max_copied_bytes = 32u << 10;

// A file for a worker to create: its name, and what creating it gave.
struct Creation {
  std::string name;
  OutputFile out{};
};

struct WorkerBuffers {
  WriteBuffer scratch;            // the bitmap being written
  std::vector<std::uint8_t> png;  // the PNG being written
};

struct Export {
  std::string folder;  // empty: the current folder
  bool raw = false;
  bool png = false;  // textures as indexed PNGs instead of bitmaps
  std::vector<WorkerBuffers> buffers{};
  // The ticket of the last job that reads each work buffer.
  std::map<const WorkBuffer*, std::uint64_t> readers{};
  Gallery* gallery = nullptr;  // when set, every texture is added to it
  std::string gallery_folder;  // the folder's path as seen from the gallery page
  bool failed = false;         // some file could not be created (named on standard error)
  // The files handed to the workers, by turn (the walk's count, `handed`, when it handed each
  // in), in a ring one longer than the jobs the pool holds; `created` counts those created (or
  // failed) so far, in order, by the one worker at a time that sets `creating`;
  // `creating_progress` changes with each file created and each time a worker stops creating, for
  // the workers that sleep until their file is created; `open` counts the created files not yet
  // closed. Workers sleep on `wakeup` until either changes.
  std::vector<Creation> creations{};
  std::uint64_t handed = 0;
  std::atomic<std::uint64_t> created = 0;
  std::atomic<bool> creating = false;
  std::atomic<std::uint32_t> creating_progress = 0;
  std::atomic<unsigned> open = 0;
  Wakeup wakeup{};
  WorkerPool pool;  // last, so that its workers are done before the buffers go
};

// The walk's handler for the unpack; the pool's workers write the files.
Handler export_handler(Export& job);

// Waits for every file; true when each one was written.
bool finish_export(Export& job);

}  // namespace kelp
