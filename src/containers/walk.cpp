#include "containers/walk.h"

#include <algorithm>
#include <utility>

#include "common/diagnostics.h"
#include "common/output.h"
#include "containers/walker.h"
#include "texture/bitmap.h"

namespace kelp {

namespace {

// Ends the walk after a limit was reached. This line is never left out.
void stop(Walk& walk, const std::string& name, const std::string& why) {
  note(name + ": " + why + "; stopping");
  walk.stopped = true;
}

// Counts what a full unpack writes for the entry; false, ending the walk, past the limit.
bool charge_output(Walk& walk, const std::string& name, std::uint64_t bytes) {
  std::uint64_t room =
      walk.limits.max_output - std::min(walk.output_charged, walk.limits.max_output);
  if (bytes > room) {
    stop(walk, name,
         "output would pass " + std::to_string(walk.limits.max_output) +
             " bytes, the limit for this source");
    return false;
  }
  walk.output_charged += std::max(bytes, min_file_charge);
  return true;
}

// Why a container cannot be walked: it is already on the nesting path (it contains itself) or
// the path is at its deepest. Empty when it can.
std::string nesting_refusal(const Walk& walk, const Entry& entry) {
  const std::uint8_t* first = entry.bytes.data();
  if (std::find(walk.nesting.begin(), walk.nesting.end(), first) != walk.nesting.end()) {
    return "container contains itself; skipped";
  }
  if (walk.nesting.size() >= max_nesting) {
    return "containers nested more than " + std::to_string(max_nesting) + " deep; skipped";
  }
  if (entry.kind == EntryKind::archive && walk.archives_open >= max_archive_nesting) {
    return "archives nested more than " + std::to_string(max_archive_nesting) + " deep; skipped";
  }
  return {};
}

void visit_container(Walk& walk, Entry& entry) {
  std::string refusal = nesting_refusal(walk, entry);
  if (!refusal.empty()) return report_damaged(walk, std::move(entry), refusal);
  walk.handler.entry(entry);
  walk.nesting.push_back(entry.bytes.data());
  const WorkBuffer* outer = std::exchange(walk.holder, entry.holder);
  if (entry.kind == EntryKind::package) {
    walk_package(walk, entry.name, entry.bytes);
  } else {
    walk_archive(walk, entry.name, entry.bytes);
  }
  walk.holder = outer;
  walk.nesting.pop_back();
  if (walk.handler.leave) walk.handler.leave(entry);
}

void visit_texture(Walk& walk, Entry& entry) {
  unsigned bits = entry.kind == EntryKind::tx4 ? tx4_index_bits : tx8_index_bits;
  Result<TextureRecord> texture = locate_texture(entry.bytes, bits);
  if (!texture) return report_damaged(walk, std::move(entry), texture.refusal);
  entry.texture = *texture;
  std::uint32_t side = texture->side;
  if (side > 0 && !charge_output(walk, entry.name, bitmap_file_size(side, side))) return;
  walk.handler.entry(entry);
}

}  // namespace

WalkLimits limits_for(std::uint64_t source_size) {
  return {max_entries_visited, output_budget(source_size),
          decode_allowance + allowance_per_input_byte * source_size, false};
}

Bytes raw_bytes(const Entry& entry) {
  return entry.bytes.first(static_cast<std::size_t>(
      std::min<std::uint64_t>(entry.size.value_or(0), entry.bytes.size())));
}

bool walk_source(ContainerKind kind, const std::string& name, Bytes source, const Handler& handler,
                 const WalkLimits& limits) {
  Walk walk{handler, limits};
  walk.nesting.push_back(source.data());
  kind == ContainerKind::package ? walk_package(walk, name, source)
                                 : walk_archive(walk, name, source);
  if (handler.reuse) {
    for (const std::vector<WorkBuffer>& level : walk.work_buffers) {
      for (const WorkBuffer& work : level) handler.reuse(work);
    }
  }
  return !walk.stopped;
}

bool charge_decoded(Walk& walk, const std::string& name, std::uint64_t bytes) {
  walk.decoded_charged += bytes;
  if (walk.decoded_charged <= walk.limits.max_decoded) return true;
  stop(walk, name,
       "decoding passed " + std::to_string(walk.limits.max_decoded) +
           " bytes, the limit for this source");
  return false;
}

void visit_entry(Walk& walk, Entry entry, ArchiveRule rule) {
  if (++walk.entries_visited > walk.limits.max_entries) {
    return stop(walk, entry.name,
                "more than " + std::to_string(walk.limits.max_entries) + " entries visited");
  }
  entry.depth = static_cast<std::uint32_t>(walk.nesting.size() - 1);
  if (!fits(entry.bytes, 0, classification_size)) {
    return report_damaged(walk, std::move(entry),
                          "entry lies past the end of its container; skipped");
  }
  entry.kind = classify_entry(entry.bytes, rule);
  if (entry.kind == EntryKind::tx4 || entry.kind == EntryKind::tx8) {
    return visit_texture(walk, entry);
  }
  if (entry.kind == EntryKind::package || entry.kind == EntryKind::archive) {
    return visit_container(walk, entry);
  }
  // A MOT record or an unrecognised entry.
  if (walk.limits.charge_raw && !charge_output(walk, entry.name, raw_bytes(entry).size())) return;
  walk.handler.entry(entry);
}

void report_damaged(Walk& walk, Entry entry, const std::string& why) {
  warn(entry.name, why);
  entry.depth = static_cast<std::uint32_t>(walk.nesting.size() - 1);
  entry.kind = EntryKind::damaged;
  entry.damage = why;
  entry.bytes = {};
  walk.handler.entry(entry);
}

}  // namespace kelp
