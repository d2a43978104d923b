#include "containers/archive.h"

#include "containers/lzss.h"
#include "platform/platform.h"

namespace kelp {

void walk_archive(Unpack& run, const std::string& name, Bytes archive) {
  auto count = read_le<std::uint32_t>(archive, archive_count_field);
  if (!count) {
    platform::warn(name, "archive header runs past the end of its container");
    return;
  }
  std::size_t level = run.archives_open++;
  if (level == run.work_buffers.size()) run.work_buffers.push_back(make_work_buffer());
  WorkBuffer& work = run.work_buffers[level];
  for (std::uint32_t index = 0; index < *count && !run.stopped; ++index) {
    std::string entry = entry_name(name, index);
    auto offset = read_le<std::uint32_t>(
        archive, archive_table_field + std::uint64_t{index} * archive_offset_size);
    if (!offset) {
      platform::warn(entry, "offset table runs past the end of its container");
      break;
    }
    auto coded_length = read_le<std::uint32_t>(archive, *offset);
    if (!coded_length) {
      platform::warn(entry, "entry lies past the end of its container; skipped");
      continue;
    }
    Bytes coded = tail(archive, std::uint64_t{*offset} + coded_length_size);
    if (coded.size() < *coded_length) {
      platform::warn(entry,
                     "coded data runs past the end of its container; decoding what is there");
    } else {
      coded = coded.first(*coded_length);
    }
    std::uint32_t decoded = lzss_decode(coded, work);
    if (charge_decoded(run, entry, decoded))
      visit_entry(run, entry, work.contents(), ArchiveRule::ignored);
  }
  --run.archives_open;
}

}  // namespace kelp
