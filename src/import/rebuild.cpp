#include "import/rebuild.h"

#include <algorithm>
#include <map>

#include "containers/archive.h"
#include "containers/lzss.h"
#include "containers/package.h"

namespace kelp {

namespace {

std::uint64_t key(const PackageSlot& slot) {
  return package_key(slot.start, slot.length);
}

// The changes by key; package entries padded to whole sectors.
std::map<std::uint64_t, ByteBuffer> by_key(const std::vector<EntryChange>& changes, bool pad) {
  std::map<std::uint64_t, ByteBuffer> map;
  for (const EntryChange& change : changes) {
    ByteBuffer& bytes = map[change.key] = change.bytes;
    if (pad) bytes.resize((bytes.size() + sector_size - 1) / sector_size * sector_size, 0);
  }
  return map;
}

bool same_sectors(const PackageTable& table, const std::map<std::uint64_t, ByteBuffer>& changed) {
  return std::all_of(table.slots.begin(), table.slots.end(), [&](const PackageSlot& slot) {
    auto change = changed.find(key(slot));
    return change == changed.end() || change->second.size() == slot.length * sector_size;
  });
}

Result<Rebuilt> rewrite_in_place(Bytes package, const PackageTable& table,
                                 const std::map<std::uint64_t, ByteBuffer>& changed) {
  Rebuilt rebuilt{.in_place = true};
  for (const PackageSlot& slot : table.slots) {
    auto change = changed.find(key(slot));
    if (change == changed.end()) continue;
    if (!fits(package, slot.first_byte(), change->second.size())) {
      return Refusal{"an entry lies past the end of the package"};
    }
    rebuilt.patches.push_back({slot.first_byte(), change->second});
  }
  return rebuilt;
}

// The distinct entries in the order of their start sectors, or why they cannot be moved.
Result<std::vector<PackageSlot>> movable_entries(Bytes package, const PackageTable& table) {
  std::vector<PackageSlot> entries = table.slots;
  std::sort(entries.begin(), entries.end(), [](const PackageSlot& a, const PackageSlot& b) {
    return a.start != b.start ? a.start < b.start : a.length < b.length;
  });
  entries.erase(
      std::unique(entries.begin(), entries.end(),
                  [](const PackageSlot& a, const PackageSlot& b) { return key(a) == key(b); }),
      entries.end());
  std::uint64_t table_end = (table.slots.size() + 1) * slot_size;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!fits(package, entries[i].first_byte(), entries[i].length * sector_size)) {
      return Refusal{"an entry lies past the end of the package, so its entries cannot move"};
    } else if (i + 1 < entries.size() && entries[i].end_sector() > entries[i + 1].start) {
      return Refusal{"entries of the package overlap, so they cannot move"};
    } else if (entries[i].first_byte() < table_end) {
      return Refusal{
          "an entry of the package overlaps its entry table, so its entries cannot move"};
    }
  }
  return entries;
}

Result<Rebuilt> lay_out_again(Bytes package, const PackageTable& table,
                              const std::map<std::uint64_t, ByteBuffer>& changed) {
  Result<std::vector<PackageSlot>> movable = movable_entries(package, table);
  if (!movable) return Refusal{movable.refusal};
  const std::vector<PackageSlot>& entries = *movable;
  std::uint64_t old_end = entries.back().end_sector();
  ByteBuffer out(package.begin(), package.begin() + entries.front().first_byte());
  std::map<std::uint64_t, PackageSlot> moved_to;
  std::uint64_t cursor = entries.front().start;
  for (const PackageSlot& entry : entries) {
    auto change = changed.find(key(entry));
    Bytes bytes = change != changed.end()
                      ? Bytes(change->second)
                      : package.subspan(entry.first_byte(), entry.length * sector_size);
    std::uint64_t length = bytes.size() / sector_size;
    if (cursor > max_sectors || length > max_sectors) {
      return Refusal{"the package would pass 65535 sectors"};
    }
    moved_to[key(entry)] = {static_cast<std::uint16_t>(cursor), static_cast<std::uint16_t>(length)};
    out.insert(out.end(), bytes.begin(), bytes.end());
    cursor += length;
  }
  out.insert(out.end(),
             package.begin() + std::min<std::uint64_t>(old_end * sector_size, package.size()),
             package.end());
  Rebuilt rebuilt;
  for (std::size_t i = 0; i < table.slots.size(); ++i) {
    PackageSlot now = moved_to[key(table.slots[i])];
    rebuilt.moved += now.start != table.slots[i].start;
    put_le<std::uint16_t>(out.data() + i * slot_size + slot_start_field, now.start);
    put_le<std::uint16_t>(out.data() + i * slot_size + slot_length_field, now.length);
  }
  if (table.ending_start == old_end) {
    if (cursor > max_sectors) return Refusal{"the package would pass 65535 sectors"};
    put_le<std::uint16_t>(out.data() + table.slots.size() * slot_size + slot_start_field,
                          static_cast<std::uint16_t>(cursor));
  }
  rebuilt.bytes = std::move(out);
  return rebuilt;
}

}  // namespace

ByteBuffer whole_bytes(Bytes old, Rebuilt rebuilt) {
  if (!rebuilt.in_place) return std::move(rebuilt.bytes);
  ByteBuffer bytes(old.begin(), old.end());
  for (const Patch& patch : rebuilt.patches) {
    std::copy(patch.bytes.begin(), patch.bytes.end(), bytes.begin() + patch.offset);
  }
  return bytes;
}

Result<Rebuilt> rebuild_package(Bytes package, const std::vector<EntryChange>& changes) {
  PackageTable table = read_package_table(package);
  if (!table.whole) return Refusal{"the entry table runs past the end of the package"};
  std::map<std::uint64_t, ByteBuffer> changed = by_key(changes, true);
  for (const auto& [key, bytes] : changed) {
    if (bytes.empty()) return Refusal{"an entry of no sectors would end the entry table"};
  }
  if (changed.empty() || table.slots.empty()) return Rebuilt{.in_place = true};
  return same_sectors(table, changed) ? rewrite_in_place(package, table, changed)
                                      : lay_out_again(package, table, changed);
}

Result<Rebuilt> rebuild_archive(Bytes archive, const std::vector<EntryChange>& changes) {
  std::map<std::uint64_t, ByteBuffer> changed = by_key(changes, false);
  std::optional<std::uint32_t> count = archive_count(archive);
  std::uint64_t table_end =
      archive_table_field + std::uint64_t{count.value_or(0)} * archive_offset_size;
  if (!count || !fits(archive, 0, table_end))
    return Refusal{"the offset table runs past the end of the archive"};
  std::uint64_t header_size =
      table_end + archive_offset_size;  // four unused bytes follow the table
  ByteBuffer out(header_size, 0);
  std::copy(archive.begin(), archive.begin() + std::min<std::uint64_t>(header_size, archive.size()),
            out.begin());
  std::map<std::uint32_t, std::uint32_t> placed;  // old offset -> new
  Rebuilt rebuilt;
  for (std::uint32_t index = 0; index < *count; ++index) {
    std::uint32_t offset = *archive_offset(archive, index);
    if (!placed.count(offset)) {
      if (out.size() > UINT32_MAX) return Refusal{"the archive would pass 4 GiB"};
      placed[offset] = static_cast<std::uint32_t>(out.size());
      ByteBuffer coded;
      auto change = changed.find(offset);
      if (change != changed.end()) {
        if (change->second.size() > max_decoded_size)
          return Refusal{"a decoded entry would pass 32 MiB"};
        coded = lzss_encode(change->second);
        ++rebuilt.recoded;
      } else {
        auto length = read_le<std::uint32_t>(archive, offset);
        if (!length || !fits(archive, std::uint64_t{offset} + coded_length_size, *length)) {
          return Refusal{"an entry runs past the end of the archive"};
        }
        Bytes old = archive.subspan(offset + coded_length_size, *length);
        coded.assign(old.begin(), old.end());
      }
      ByteBuffer field(coded_length_size);
      put_le<std::uint32_t>(field.data(), static_cast<std::uint32_t>(coded.size()));
      out.insert(out.end(), field.begin(), field.end());
      out.insert(out.end(), coded.begin(), coded.end());
    }
    rebuilt.moved += placed[offset] != offset;
    put_le<std::uint32_t>(
        out.data() + archive_table_field + std::uint64_t{index} * archive_offset_size,
        placed[offset]);
  }
  rebuilt.bytes = std::move(out);
  return rebuilt;
}

}  // namespace kelp
