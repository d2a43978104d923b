#include "driver/export.h"

#include "common/diagnostics.h"
#include "common/output.h"
#include "texture/png.h"

namespace kelp {

namespace {

void export_raw(Export& job, const Entry& entry) {
  Bytes bytes = raw_bytes(entry);
  if (bytes.size() < entry.size.value_or(0)) {
    warn(entry.name, "sectors run past the end of its container; writing the " +
                         std::to_string(bytes.size()) + " bytes there");
  }
  if (!write_new_file(entry.name + ".bin", job.output.folder, bytes)) job.failed = true;
}

void export_png(Export& job, const Entry& entry) {
  if (entry.texture.side == 0) return;
  if (!encode_png(entry.texture, job.file)) {
    warn(entry.name, "cannot encode the PNG");
    job.failed = true;
  } else if (!write_new_file(entry.name + ".png", job.output.folder, job.file)) {
    job.failed = true;
  }
}

}  // namespace

void export_entry(Export& job, const Entry& entry) {
  switch (entry.kind) {
    case EntryKind::tx4:
    case EntryKind::tx8:
      if (job.png) {
        export_png(job, entry);
      } else if (write_texture_bitmap(entry.name, entry.texture, job.output) == Outcome::failed) {
        job.failed = true;
      }
      break;
    case EntryKind::mot:
    case EntryKind::other:
      if (job.raw) export_raw(job, entry);
      break;
    case EntryKind::package:
    case EntryKind::archive:
    case EntryKind::damaged:
      break;
  }
}

}  // namespace kelp
