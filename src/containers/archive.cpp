#include "containers/archive.h"

#include <algorithm>

#include "common/diagnostics.h"
#include "containers/lzss.h"
#include "containers/walker.h"

namespace kelp {

namespace {

// Decodes the entry at `entry.offset` into the work buffer and hands on what it decodes to.
void visit_coded_entry(Walk& walk, Entry entry, Bytes archive, WorkBuffer& work) {
  auto coded_length = read_le<std::uint32_t>(archive, *entry.offset);
  if (!coded_length) {
    return report_damaged(walk, std::move(entry),
                          "entry lies past the end of its container; skipped");
  }
  entry.coded_size = *coded_length;
  Bytes coded = tail(archive, *entry.offset + coded_length_size);
  if (coded.size() < *coded_length) {
    warn(entry.name, "coded data runs past the end of its container; decoding what is there");
  } else {
    coded = coded.first(*coded_length);
  }
  if (walk.handler.reuse) walk.handler.reuse(work);
  std::uint32_t decoded = lzss_decode(coded, work);
  if (!charge_decoded(walk, entry.name, decoded)) return;
  entry.size = decoded;
  entry.bytes = work.contents();
  entry.holder = &work;
  visit_entry(walk, std::move(entry), ArchiveRule::ignored);
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
  std::size_t alternating = walk.handler.reuse ? 2 : 1;
  buffers.reserve(alternating);
  for (std::uint32_t index = 0; index < *count && !walk.stopped; ++index) {
    Entry entry{entry_name(name, index)};
    entry.container = ContainerKind::archive;
    entry.index = index;
    std::optional<std::uint32_t> offset = archive_offset(archive, index);
    if (!offset) {
      report_damaged(walk, std::move(entry), "offset table runs past the end of its container");
      break;
    }
    entry.offset = *offset;
    if (buffers.size() < std::min<std::size_t>(alternating, index + 1)) {
      buffers.push_back(make_work_buffer());
    }
    visit_coded_entry(walk, std::move(entry), archive, buffers[index % buffers.size()]);
  }
  --walk.archives_open;
}

}  // namespace kelp
