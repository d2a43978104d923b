#include "unpack/export.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <new>
#include <optional>

#include "common/diagnostics.h"
#include "common/output.h"
#include "texture/png.h"
#include "texture/texture.h"

namespace kelp {

namespace {

// The bytes a job reads, as `parts` of the entry's bytes: copied into `copy` when they are few
// and lie in a work buffer (true); otherwise the job is to be noted as the buffer's reader once
// it is handed in (see hand_in).
template <std::size_t count>
bool keep_for_job(const Entry& entry, std::array<Bytes*, count> parts,
                  std::vector<std::uint8_t>& copy) {
  std::size_t total = 0;
  for (const Bytes* part : parts) total += part->size();
  if (entry.holder == nullptr || total > max_copied_bytes) return false;
  copy.reserve(total);
  for (Bytes* part : parts) {
    std::size_t at = copy.size();
    copy.insert(copy.end(), part->begin(), part->end());
    *part = Bytes(copy.data() + at, part->size());
  }
  return true;
}

bool write_png_file(OutputFile& out, const std::string& entry_name, const TextureRecord& texture,
                    std::vector<std::uint8_t>& png) {
  bool encoded = false;
  try {
    encoded = encode_png(texture, png);
  } catch (const std::bad_alloc&) {
    out.error = platform::error_no_memory;
  }
  if (!encoded && out.error == 0) {
    platform::close_file(out.file);
    platform::remove_file(out.name);
    warn(entry_name, "cannot encode the PNG");
    return false;
  }
  write_output(out, png);
  return finish_output(out);
}

// Creates a file on the walk's thread. The files of waiting jobs are open too, so when the
// process may open no more, the waiting jobs are finished first: a run with workers creates what
// one thread does.
OutputFile create_on_walk(Export& job, const std::string& name) {
  OutputFile out = create_output_file(name, job.folder);
  if (!out.created && out.error == platform::error_too_many_files) {
    job.pool.wait_for_all();
    out = create_output_file(name, job.folder);
  }
  if (!out.created) {
    warn_not_created(out);
    job.failed = true;
  }
  return out;
}

// Wakes the workers waiting for their files.
void signal_progress(Export& job) {
  job.creating_progress.fetch_add(1);
  job.wakeup.notify();
}

// Creates the files of every turn up to `turn` not yet created, in order; the caller is the
// one creating. Only files of earlier turns can be open meanwhile, so when the process may open
// no more, it waits until they are closed, as they are when one thread creates the file.
void create_through(Export& job, std::uint64_t turn) {
  for (std::uint64_t next = job.created.load(); next <= turn; next = job.created.load()) {
    Creation& file = job.creations[next % job.creations.size()];
    try {
      file.out = create_output_file(file.name, job.folder);
      if (!file.out.created && file.out.error == platform::error_too_many_files) {
        job.wakeup.wait_until([&job] { return job.open.load() == 0; });
        file.out = create_output_file(file.name, job.folder);
      }
    } catch (const std::bad_alloc&) {
      file.out = {{}, file.name, platform::error_no_memory, false};
    }
    if (file.out.created) job.open.fetch_add(1);
    job.created.store(next + 1, std::memory_order_release);
    signal_progress(job);
  }
}

// The file of the turn, created in walk order. Whichever worker finds the files up to its own
// not all created creates them, so that no worker waits for another to be scheduled, only for
// one that is creating files: it watches for that one to end as a worker watches for jobs, then
// sleeps.
OutputFile created_in_turn(Export& job, std::uint64_t turn) {
  auto sleep_after = std::chrono::steady_clock::now() + watch_before_sleeping;
  while (job.created.load(std::memory_order_acquire) <= turn) {
    std::uint32_t seen = job.creating_progress.load();
    if (!job.creating.exchange(true)) {
      create_through(job, turn);
      job.creating.store(false);
      signal_progress(job);
    } else if (std::chrono::steady_clock::now() < sleep_after) {
      pause_while_spinning();
    } else {
      // The one creating signals after `seen` was read.
      job.wakeup.wait_until([&job, seen] { return job.creating_progress.load() != seen; });
    }
  }
  OutputFile out = job.creations[turn % job.creations.size()].out;
  if (!out.created) warn_not_created(out);
  return out;
}

// Hands on the job that writes the file `name`: created by the walk when the gallery needs the
// name at once (`out`, which goes should handing in fail for want of memory), otherwise by the
// workers in walk order. `write` writes and closes it.
template <typename Write>
void hand_in(Export& job, const Entry& entry, bool copied, const std::string& name,
             std::optional<OutputFile> out, Write write) {
  std::uint64_t ticket = 0;
  try {
    if (out) {
      ticket = job.pool.submit([out = *out, write = std::move(write)](unsigned worker) mutable {
        return write(out, worker);
      });
    } else {
      std::uint64_t turn = job.handed;
      job.creations[turn % job.creations.size()] = {name};
      ticket = job.pool.submit([&job, turn, write = std::move(write)](unsigned worker) mutable {
        OutputFile made = created_in_turn(job, turn);
        if (!made.created) return false;
        struct Closed {
          Export& job;
          ~Closed() {
            job.open.fetch_sub(1);
            job.wakeup.notify();
          }
        } closed{job};
        return write(made, worker);
      });
      ++job.handed;
    }
  } catch (const std::bad_alloc&) {
    if (out) {
      platform::close_file(out->file);
      platform::remove_file(out->name);
    }
    throw;
  }
  if (entry.holder != nullptr && !copied) job.readers[entry.holder] = ticket;
}

// The file the walk creates for a job, with a gallery; without, nothing to create yet. False when
// the walk could not create it.
bool file_on_walk(Export& job, const std::string& name, std::optional<OutputFile>& out) {
  if (job.gallery == nullptr) return true;
  out = create_on_walk(job, name);
  return out->created;
}

// Returns the name of the file created, without its folder, when the gallery needs it; empty
// otherwise and when there is none.
std::string export_texture(Export& job, const Entry& entry) {
  if (entry.texture.side == 0) return "";
  TextureRecord texture = entry.texture;
  std::vector<std::uint8_t> copy;
  bool copied = keep_for_job<2>(entry, {&texture.palette, &texture.indices}, copy);
  std::string name = entry.name + (job.png ? ".png" : ".bmp");
  std::optional<OutputFile> out;
  if (!file_on_walk(job, name, out)) return "";
  hand_in(job, entry, copied, name, out,
          [&job, texture, name = entry.name, copy = std::move(copy)](OutputFile& file,
                                                                     unsigned worker) {
            WorkerBuffers& buffers = job.buffers[worker];
            return job.png ? write_png_file(file, name, texture, buffers.png)
                           : write_texture_file(file, texture, buffers.scratch);
          });
  return out ? out->name.substr(in_folder(job.folder, "").size()) : "";
}

void export_raw(Export& job, const Entry& entry) {
  Bytes bytes = raw_bytes(entry);
  if (bytes.size() < entry.size.value_or(0)) {
    warn(entry.name, "sectors run past the end of its container; writing the " +
                         std::to_string(bytes.size()) + " bytes there");
  }
  std::vector<std::uint8_t> copy;
  bool copied = keep_for_job<1>(entry, {&bytes}, copy);
  std::string name = entry.name + ".bin";
  std::optional<OutputFile> out;
  if (!file_on_walk(job, name, out)) return;
  hand_in(job, entry, copied, name, out,
          [bytes, copy = std::move(copy)](OutputFile& file, unsigned) {
            write_output(file, bytes);
            return finish_output(file);
          });
}

void export_entry(Export& job, const Entry& entry) {
  job.pool.settle();
  switch (entry.kind) {
    case EntryKind::tx4:
    case EntryKind::tx8: {
      std::string file = export_texture(job, entry);
      if (job.gallery != nullptr && !file.empty()) file = job.gallery_folder + file;
      if (job.gallery != nullptr) add_to_gallery(*job.gallery, entry, file);
      return;
    }
    case EntryKind::mot:
    case EntryKind::other:
      if (job.raw) export_raw(job, entry);
      return;
    case EntryKind::package:
    case EntryKind::archive:
    case EntryKind::damaged:
      if (job.gallery != nullptr) add_to_gallery(*job.gallery, entry, "");
      return;
  }
}

// Before the walk decodes into a work buffer again, the jobs that read it must be done.
void wait_for_readers(Export& job, const WorkBuffer& work) {
  auto reader = job.readers.find(&work);
  if (reader != job.readers.end()) job.pool.wait_for(reader->second);
}

}  // namespace

Handler export_handler(Export& job) {
  job.buffers.resize(job.pool.workers());
  job.creations.resize(job.pool.most_waiting() + 1);
  // Every bitmap buffer at its largest before any file is created, so that running out of
  // memory cannot leave a partial file behind.
  for (WorkerBuffers& buffers : job.buffers) {
    prepare_bitmap_buffer(buffers.scratch, 1, max_write_chunk);
  }
  Handler handler{[&job](const Entry& entry) { export_entry(job, entry); }};
  if (job.pool.workers() > 1) {
    handler.reuse = [&job](const WorkBuffer& work) { wait_for_readers(job, work); };
  }
  return handler;
}

bool finish_export(Export& job) {
  return job.pool.finish() && !job.failed;
}

}  // namespace kelp
