#include "containers/archive.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "common/diagnostics.h"
#include "containers/lzss.h"
#include "containers/walker.h"

namespace kelp {

namespace {

// An entry coded in at least this many bytes is decoded on a thread of its own while the walk
// visits the entry before it; a smaller one decodes in less time than a thread takes to start.
constexpr std::uint32_t decode_ahead_size = 256 << 10;
// Work buffers per archive level when the handler's jobs read them after the walk: one read,
// one visited, one decoded into ahead.
constexpr std::size_t buffers_with_readers = 3;

// An entry's coded bytes, found on the walk's thread before they are decoded.
struct Coded {
  Entry entry;
  Bytes bytes;
  bool found = false;  // false: the entry lies past the end of its container
  bool cut = false;    // the coded bytes run past the end of the container
};

Coded find_coded(Entry entry, Bytes archive) {
  Coded coded{std::move(entry), {}};
  auto length = read_le<std::uint32_t>(archive, *coded.entry.offset);
  if (!length) return coded;
  coded.found = true;
  coded.entry.coded_size = *length;
  coded.bytes = tail(archive, *coded.entry.offset + coded_length_size);
  coded.cut = coded.bytes.size() < *length;
  if (!coded.cut) coded.bytes = coded.bytes.first(*length);
  return coded;
}

// The next entry, decoding on a thread of its own into its work buffer.
struct Ahead {
  std::uint32_t index = 0;
  Coded coded;
  std::uint32_t decoded = 0;
  std::jthread thread{};
};

// Visits the entry decoded into the work buffer (`decoded` bytes), or reports why it cannot be.
void visit_decoded(Walk& walk, Coded coded, WorkBuffer& work, std::uint32_t decoded) {
  Entry& entry = coded.entry;
  if (!coded.found) {
    return report_damaged(walk, std::move(entry),
                          "entry lies past the end of its container; skipped");
  }
  if (coded.cut) {
    warn(entry.name, "coded data runs past the end of its container; decoding what is there");
  }
  if (!charge_decoded(walk, entry.name, decoded)) return;
  entry.size = decoded;
  entry.bytes = work.contents();
  entry.holder = &work;
  visit_entry(walk, std::move(entry), ArchiveRule::ignored);
}

std::uint32_t decode_into(Walk& walk, const Coded& coded, WorkBuffer& work) {
  if (!coded.found) return 0;
  if (walk.handler.reuse) walk.handler.reuse(work);
  return lzss_decode(coded.bytes, work);
}

// The archive's entry `index`, or nothing (reported) when the offset table ends before it.
std::optional<Coded> coded_entry(Walk& walk, const std::string& name, Bytes archive,
                                 std::uint32_t index) {
  Entry entry{entry_name(name, index)};
  entry.container = ContainerKind::archive;
  entry.index = index;
  std::optional<std::uint32_t> offset = archive_offset(archive, index);
  if (!offset) {
    report_damaged(walk, std::move(entry), "offset table runs past the end of its container");
    return std::nullopt;
  }
  entry.offset = *offset;
  return find_coded(std::move(entry), archive);
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
  // Every buffer is made before a thread decodes into one, and the level's buffers never move:
  // the handler's jobs know them by their address.
  std::size_t turning = walk.handler.reuse ? buffers_with_readers : 1;
  buffers.reserve(turning);
  while (buffers.size() < std::min<std::size_t>(turning, *count))
    buffers.push_back(make_work_buffer());
  std::optional<Ahead> ahead;
  for (std::uint32_t index = 0; index < *count && !walk.stopped; ++index) {
    WorkBuffer& work = buffers[index % buffers.size()];
    std::optional<Coded> coded;
    std::uint32_t decoded = 0;
    if (ahead && ahead->index == index) {
      ahead->thread.join();
      coded = std::move(ahead->coded);
      decoded = ahead->decoded;
      ahead.reset();
    } else {
      coded = coded_entry(walk, name, archive, index);
      if (!coded) break;
      decoded = decode_into(walk, *coded, work);
    }
    // The next entry, when large, decodes while this one is visited.
    std::optional<Coded> next;
    if (turning > 1 && index + 1 < *count && archive_offset(archive, index + 1)) {
      next = coded_entry(walk, name, archive, index + 1);
    }
    if (next && next->found && next->bytes.size() >= decode_ahead_size) {
      WorkBuffer& next_work = buffers[(index + 1) % buffers.size()];
      walk.handler.reuse(next_work);
      ahead.emplace(Ahead{index + 1, std::move(*next)});
      ahead->thread = std::jthread(
          [&next_work, &a = *ahead] { a.decoded = lzss_decode(a.coded.bytes, next_work); });
    }
    visit_decoded(walk, std::move(*coded), work, decoded);
  }
  if (ahead) ahead->thread.join();
  --walk.archives_open;
}

}  // namespace kelp
