#include "containers/archive.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <thread>

#include "common/diagnostics.h"
#include "containers/lzss.h"
#include "containers/walker.h"

namespace kelp {

namespace {

// When the handler's jobs read work buffers after the walk, two entries coded in at least this
// many bytes each are decoded at once, one on a thread of its own; a smaller entry decodes in
// less time than a thread takes to start.
constexpr std::uint32_t decode_beside_size = 256 << 10;
// Work buffers per archive level then: the walk decodes into one while the jobs read the other,
// or into both at once when the jobs are done with them.
constexpr std::size_t buffers_with_readers = 2;

// An entry's coded bytes, found before they are decoded; what is wrong with them is reported
// when the entry is visited, in walk order.
struct Coded {
  Entry entry;
  Bytes bytes{};
  bool listed = false;  // false: the offset table ends before the entry
  bool found = false;   // false: the entry lies past the end of its container
  bool cut = false;     // the coded bytes run past the end of the container
};

Coded find_coded(const std::string& name, Bytes archive, std::uint32_t index) {
  Coded coded{Entry{entry_name(name, index)}};
  coded.entry.container = ContainerKind::archive;
  coded.entry.index = index;
  std::optional<std::uint32_t> offset = archive_offset(archive, index);
  if (!offset) return coded;
  coded.listed = true;
  coded.entry.offset = *offset;
  auto length = read_le<std::uint32_t>(archive, *offset);
  if (!length) return coded;
  coded.found = true;
  coded.entry.coded_size = *length;
  coded.bytes = tail(archive, *offset + coded_length_size);
  coded.cut = coded.bytes.size() < *length;
  if (!coded.cut) coded.bytes = coded.bytes.first(*length);
  return coded;
}

// Hands on the entry decoded into the work buffer (`decoded` bytes).
void visit_decoded(Walk& walk, Coded coded, WorkBuffer& work, std::uint32_t decoded) {
  Entry& entry = coded.entry;
  if (coded.cut) {
    warn(entry.name, "coded data runs past the end of its container; decoding what is there");
  }
  if (!charge_decoded(walk, entry.name, decoded)) return;
  entry.size = decoded;
  entry.bytes = work.contents();
  entry.holder = &work;
  visit_entry(walk, std::move(entry), ArchiveRule::ignored);
}

// Decodes into the level's next work buffer, once the jobs that read it are done.
WorkBuffer& next_buffer(Walk& walk, std::vector<WorkBuffer>& buffers, std::size_t& turn) {
  WorkBuffer& work = buffers[turn++ % buffers.size()];
  if (walk.handler.reuse) walk.handler.reuse(work);
  return work;
}

bool worth_a_thread(const Coded& coded) {
  return coded.found && coded.bytes.size() >= decode_beside_size;
}

// When the entry after `first` is worth a thread too, decodes the two at once, the second on a
// thread of its own, and visits them in order; false when it is not.
bool visit_two_at_once(Walk& walk, Coded& first, WorkBuffer& first_work, Coded second,
                       std::vector<WorkBuffer>& buffers, std::size_t& turn) {
  if (!worth_a_thread(second)) return false;
  WorkBuffer& second_work = next_buffer(walk, buffers, turn);
  std::uint32_t first_decoded = 0;
  std::uint32_t second_decoded = 0;
  std::thread beside;
  try {
    beside = std::thread([&] { second_decoded = lzss_decode(second.bytes, second_work); });
  } catch (const std::system_error&) {
    second_decoded = lzss_decode(second.bytes, second_work);
  }
  first_decoded = lzss_decode(first.bytes, first_work);
  if (beside.joinable()) beside.join();
  visit_decoded(walk, std::move(first), first_work, first_decoded);
  if (!walk.stopped) visit_decoded(walk, std::move(second), second_work, second_decoded);
  return true;
}

}  // namespace

std::optional<std::uint32_t> archive_count(Bytes archive) {
  return read_le<std::uint32_t>(archive, archive_count_field);
}

std::optional<std::uint32_t> archive_offset(Bytes archive, std::uint32_t index) {
  return read_le<std::uint32_t>(archive,
                                archive_table_field + std::uint64_t{index} * archive_offset_size);
}

void walk_archive(Walk& walk, const std::string& name, Bytes archive) {
  std::optional<std::uint32_t> count = archive_count(archive);
  if (!count) {
    warn(name, "archive header runs past the end of its container");
    return;
  }
  std::size_t level = walk.archives_open++;
  if (level == walk.work_buffers.size()) walk.work_buffers.emplace_back();
  std::vector<WorkBuffer>& buffers = walk.work_buffers[level];
  // The level's buffers are all made before any is decoded into, and never move: the handler's
  // jobs know them by their address.
  std::size_t turning = walk.handler.reuse ? buffers_with_readers : 1;
  buffers.reserve(turning);
  while (buffers.size() < std::min<std::size_t>(turning, *count))
    buffers.push_back(make_work_buffer());
  std::size_t turn = 0;
  for (std::uint32_t index = 0; index < *count && !walk.stopped; ++index) {
    Coded first = find_coded(name, archive, index);
    if (!first.listed) {
      report_damaged(walk, std::move(first.entry),
                     "offset table runs past the end of its container");
      break;
    }
    if (!first.found) {
      report_damaged(walk, std::move(first.entry),
                     "entry lies past the end of its container; skipped");
      continue;
    }
    WorkBuffer& work = next_buffer(walk, buffers, turn);
    if (turning > 1 && worth_a_thread(first) && index + 1 < *count &&
        visit_two_at_once(walk, first, work, find_coded(name, archive, index + 1), buffers, turn)) {
      ++index;
      continue;
    }
    std::uint32_t decoded = lzss_decode(first.bytes, work);
    visit_decoded(walk, std::move(first), work, decoded);
  }
  --walk.archives_open;
}

}  // namespace kelp
