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
  WorkBuffer work = make_work_buffer();
  for (std::uint32_t index = 0; index < *count; ++index) {
    std::string entry = entry_name(name, index);
    auto offset = read_le<std::uint32_t>(
        archive, archive_table_field + std::uint64_t{index} * archive_offset_size);
    if (!offset) {
      platform::warn(entry, "offset table runs past the end of its container");
      return;
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
    lzss_decode(coded, work);
    visit_entry(run, entry, work.contents(), ArchiveRule::ignored);
  }
}

}  // namespace kelp
