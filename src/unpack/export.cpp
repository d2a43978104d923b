#include "unpack/export.h"

#include <algorithm>
#include <array>
#include <new>

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

// Creates a job's file. The files of waiting jobs are open too, so when the process may open no
// more, the waiting jobs are finished first: a run with workers creates what one thread does.
OutputFile create_for_job(Export& job, const std::string& name) {
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

// Hands the file's job to the workers. Should that fail for want of memory, the empty file goes.
template <typename Work>
void hand_in(Export& job, const Entry& entry, bool copied, const OutputFile& out, Work work) {
  std::uint64_t ticket = 0;
  try {
    ticket = job.pool.submit(std::move(work));
  } catch (const std::bad_alloc&) {
    platform::close_file(out.file);
    platform::remove_file(out.name);
    throw;
  }
  if (entry.holder != nullptr && !copied) job.readers[entry.holder] = ticket;
}

// Returns the name of the file created, without its folder; empty when there is none.
std::string export_texture(Export& job, const Entry& entry) {
  if (entry.texture.side == 0) return "";
  TextureRecord texture = entry.texture;
  std::vector<std::uint8_t> copy;
  bool copied = keep_for_job<2>(entry, {&texture.palette, &texture.indices}, copy);
  OutputFile out = create_for_job(job, entry.name + (job.png ? ".png" : ".bmp"));
  if (!out.created) return "";
  hand_in(job, entry, copied, out,
          [&job, out, texture, name = entry.name, copy = std::move(copy)](unsigned worker) mutable {
            WorkerBuffers& buffers = job.buffers[worker];
            return job.png ? write_png_file(out, name, texture, buffers.png)
                           : write_texture_file(out, texture, buffers.scratch);
          });
  return out.name.substr(in_folder(job.folder, "").size());
}

void export_raw(Export& job, const Entry& entry) {
  Bytes bytes = raw_bytes(entry);
  if (bytes.size() < entry.size.value_or(0)) {
    warn(entry.name, "sectors run past the end of its container; writing the " +
                         std::to_string(bytes.size()) + " bytes there");
  }
  std::vector<std::uint8_t> copy;
  bool copied = keep_for_job<1>(entry, {&bytes}, copy);
  OutputFile out = create_for_job(job, entry.name + ".bin");
  if (!out.created) return;
  hand_in(job, entry, copied, out, [out, bytes, copy = std::move(copy)](unsigned) mutable {
    write_output(out, bytes);
    return finish_output(out);
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
