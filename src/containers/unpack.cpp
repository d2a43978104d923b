#include "containers/unpack.h"

#include <algorithm>

#include "containers/archive.h"
#include "containers/package.h"
#include "platform/platform.h"
#include "texture/bitmap.h"
#include "texture/texture.h"

namespace kelp {

namespace {

// Ends the run after a limit was reached.
void stop(Unpack& run, const std::string& name, const std::string& why) {
  platform::warn(name, why + "; stopping");
  run.failed = run.stopped = true;
}

// Puts a container on the nesting path before it is walked; false, with a warning, when it is
// already on the path (it contains itself) or the path is at its deepest.
bool enter_container(Unpack& run, const std::string& name, Bytes container, EntryKind kind) {
  const std::uint8_t* first = container.data();
  if (std::find(run.nesting.begin(), run.nesting.end(), first) != run.nesting.end()) {
    platform::warn(name, "container contains itself; skipped");
    return false;
  }
  if (run.nesting.size() >= max_nesting) {
    platform::warn(name,
                   "containers nested more than " + std::to_string(max_nesting) + " deep; skipped");
    return false;
  }
  if (kind == EntryKind::archive && run.archives_open >= max_archive_nesting) {
    platform::warn(name, "archives nested more than " + std::to_string(max_archive_nesting) +
                             " deep; skipped");
    return false;
  }
  run.nesting.push_back(first);
  return true;
}

// Converts a texture record, within the output limit.
template <typename Convert>
void export_texture(Unpack& run, const std::string& name, Bytes entry, Convert convert) {
  run.texture_output.room = run.max_output - std::min(run.output_charged, run.max_output);
  switch (convert(name, entry, run.texture_output)) {
    case Outcome::written: {
      std::uint16_t side = read_le<std::uint16_t>(entry, record_side_field).value_or(0);
      run.output_charged += std::max(bitmap_file_size(side, side), min_file_charge);
      break;
    }
    case Outcome::failed:
      run.failed = true;
      break;
    case Outcome::too_large:
      stop(run, name,
           "output would pass " + std::to_string(run.max_output) +
               " bytes, the limit for this source");
      break;
    case Outcome::skipped:
      break;
  }
}

}  // namespace

Unpack start_unpack(std::uint64_t source_size) {
  Unpack run;
  run.max_output = output_budget(source_size);
  run.max_decoded = decode_allowance + allowance_per_input_byte * source_size;
  return run;
}

bool charge_decoded(Unpack& run, const std::string& name, std::uint64_t bytes) {
  run.decoded_charged += bytes;
  if (run.decoded_charged <= run.max_decoded) return true;
  stop(run, name,
       "decoding passed " + std::to_string(run.max_decoded) + " bytes, the limit for this source");
  return false;
}

void visit_entry(Unpack& run, const std::string& name, Bytes entry, ArchiveRule rule) {
  if (++run.entries_visited > run.max_entries) {
    stop(run, name, "more than " + std::to_string(run.max_entries) + " entries visited");
    return;
  }
  if (!fits(entry, 0, classification_size)) {
    platform::warn(name, "entry lies past the end of its container; skipped");
    return;
  }
  EntryKind kind = classify_entry(entry, rule);
  switch (kind) {
    case EntryKind::tx4:
      export_texture(run, name, entry, convert_tx4);
      break;
    case EntryKind::tx8:
      export_texture(run, name, entry, convert_tx8);
      break;
    case EntryKind::package:
    case EntryKind::archive:
      if (enter_container(run, name, entry, kind)) {
        kind == EntryKind::package ? walk_package(run, name, entry)
                                   : walk_archive(run, name, entry);
        run.nesting.pop_back();
      }
      break;
    case EntryKind::mot:
    case EntryKind::other:
      break;
  }
}

}  // namespace kelp
