#include "import/rebuild.h"

#include <algorithm>
#include <map>

#include "containers/archive.h"
#include "containers/lzss.h"
#include "containers/package.h"

namespace kelp {

namespace {

constexpr std::uint32_t max_sectors = 0xFFFF;

struct Slot {
  std::uint16_t start = 0;
  std::uint16_t length = 0;
  std::uint64_t key() const { return package_key(start, length); }
  std::uint64_t first_byte() const { return std::uint64_t{start} * sector_size; }
  std::uint64_t end_sector() const { return std::uint64_t{start} + length; }
};

struct Table {
  std::vector<Slot> slots;
  std::uint16_t ending_start = 0;  // the start field of the slot of length 0
  bool whole = false;
};

Table read_table(Bytes package) {
  Table table;
  for (std::uint64_t at = 0;; at += slot_size) {
    auto start = read_le<std::uint16_t>(package, at + slot_start_field);
    auto length = read_le<std::uint16_t>(package, at + slot_length_field);
    if (!start || !length) return table;
    if (*length == 0) {
      table.ending_start = *start;
      table.whole = true;
      return table;
    }
    table.slots.push_back({*start, *length});
  }
}

Rebuilt refused(std::string why) {
  return {std::nullopt, std::move(why), 0, 0};
}

ByteBuffer padded_to_sectors(const ByteBuffer& bytes) {
  ByteBuffer padded = bytes;
  padded.resize((bytes.size() + sector_size - 1) / sector_size * sector_size, 0);
  return padded;
}

std::map<std::uint64_t, ByteBuffer> by_key(const std::vector<EntryChange>& changes, bool pad) {
  std::map<std::uint64_t, ByteBuffer> map;
  for (const EntryChange& change : changes) {
    map[change.key] = pad ? padded_to_sectors(change.bytes) : change.bytes;
  }
  return map;
}

bool same_sectors(const Table& table, const std::map<std::uint64_t, ByteBuffer>& changed) {
  return std::all_of(table.slots.begin(), table.slots.end(), [&](const Slot& slot) {
    auto change = changed.find(slot.key());
    return change == changed.end() || change->second.size() == slot.length * sector_size;
  });
}

Rebuilt rewrite_in_place(Bytes package, const Table& table,
                         const std::map<std::uint64_t, ByteBuffer>& changed) {
  ByteBuffer out(package.begin(), package.end());
  for (const Slot& slot : table.slots) {
    auto change = changed.find(slot.key());
    if (change == changed.end()) continue;
    if (!fits(package, slot.first_byte(), change->second.size())) {
      return refused("an entry lies past the end of the package");
    }
    std::copy(change->second.begin(), change->second.end(), out.begin() + slot.first_byte());
  }
  return {std::move(out), {}, 0, 0};
}

// The distinct entries in the order of their start sectors, or why they cannot be moved.
std::vector<Slot> movable_entries(Bytes package, const Table& table, std::string& why) {
  std::vector<Slot> entries = table.slots;
  std::sort(entries.begin(), entries.end(), [](const Slot& a, const Slot& b) {
    return a.start != b.start ? a.start < b.start : a.length < b.length;
  });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const Slot& a, const Slot& b) { return a.key() == b.key(); }),
                entries.end());
  std::uint64_t table_end = (table.slots.size() + 1) * slot_size;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!fits(package, entries[i].first_byte(), entries[i].length * sector_size)) {
      why = "an entry lies past the end of the package, so its entries cannot move";
    } else if (i + 1 < entries.size() && entries[i].end_sector() > entries[i + 1].start) {
      why = "entries of the package overlap, so they cannot move";
    } else if (entries[i].first_byte() < table_end) {
      why = "an entry of the package overlaps its entry table, so its entries cannot move";
    }
    if (!why.empty()) return {};
  }
  return entries;
}

Rebuilt lay_out_again(Bytes package, const Table& table,
                      const std::map<std::uint64_t, ByteBuffer>& changed) {
  std::string why;
  std::vector<Slot> entries = movable_entries(package, table, why);
  if (!why.empty()) return refused(why);
  std::uint64_t old_end = entries.back().end_sector();
  ByteBuffer out(package.begin(), package.begin() + entries.front().first_byte());
  std::map<std::uint64_t, Slot> moved_to;
  std::uint64_t cursor = entries.front().start;
  for (const Slot& entry : entries) {
    auto change = changed.find(entry.key());
    Bytes bytes = change != changed.end()
                      ? Bytes(change->second)
                      : package.subspan(entry.first_byte(), entry.length * sector_size);
    std::uint64_t length = bytes.size() / sector_size;
    if (cursor > max_sectors || length > max_sectors) {
      return refused("the package would pass 65535 sectors");
    }
    moved_to[entry.key()] = {static_cast<std::uint16_t>(cursor),
                             static_cast<std::uint16_t>(length)};
    out.insert(out.end(), bytes.begin(), bytes.end());
    cursor += length;
  }
  out.insert(out.end(),
             package.begin() + std::min<std::uint64_t>(old_end * sector_size, package.size()),
             package.end());
  Rebuilt rebuilt{{}, {}, 0, 0};
  for (std::size_t i = 0; i < table.slots.size(); ++i) {
    Slot now = moved_to[table.slots[i].key()];
    rebuilt.moved += now.start != table.slots[i].start;
    put_le<std::uint16_t>(out.data() + i * slot_size + slot_start_field, now.start);
    put_le<std::uint16_t>(out.data() + i * slot_size + slot_length_field, now.length);
  }
  if (table.ending_start == old_end) {
    if (cursor > max_sectors) return refused("the package would pass 65535 sectors");
    put_le<std::uint16_t>(out.data() + table.slots.size() * slot_size + slot_start_field,
                          static_cast<std::uint16_t>(cursor));
  }
  rebuilt.bytes = std::move(out);
  return rebuilt;
}

}  // namespace

Rebuilt rebuild_package(Bytes package, const std::vector<EntryChange>& changes) {
  Table table = read_table(package);
  if (!table.whole) return refused("the entry table runs past the end of the package");
  std::map<std::uint64_t, ByteBuffer> changed = by_key(changes, true);
  for (const auto& [key, bytes] : changed) {
    if (bytes.empty()) return refused("an entry of no sectors would end the entry table");
  }
  if (changed.empty() || table.slots.empty())
    return {ByteBuffer(package.begin(), package.end()), {}, 0, 0};
  return same_sectors(table, changed) ? rewrite_in_place(package, table, changed)
                                      : lay_out_again(package, table, changed);
}

Rebuilt rebuild_archive(Bytes archive, const std::vector<EntryChange>& changes) {
  std::map<std::uint64_t, ByteBuffer> changed = by_key(changes, false);
  auto count = read_le<std::uint32_t>(archive, archive_count_field);
  std::uint64_t table_end =
      archive_table_field + std::uint64_t{count.value_or(0)} * archive_offset_size;
  if (!count || !fits(archive, 0, table_end))
    return refused("the offset table runs past the end of the archive");
  std::uint64_t header_size =
      table_end + archive_offset_size;  // four unused bytes follow the table
  ByteBuffer out(header_size, 0);
  std::copy(archive.begin(), archive.begin() + std::min<std::uint64_t>(header_size, archive.size()),
            out.begin());
  std::map<std::uint32_t, std::uint32_t> placed;  // old offset -> new
  Rebuilt rebuilt{{}, {}, 0, 0};
  for (std::uint32_t index = 0; index < *count; ++index) {
    std::uint32_t offset = *read_le<std::uint32_t>(
        archive, archive_table_field + std::uint64_t{index} * archive_offset_size);
    if (!placed.count(offset)) {
      if (out.size() > UINT32_MAX) return refused("the archive would pass 4 GiB");
      placed[offset] = static_cast<std::uint32_t>(out.size());
      ByteBuffer coded;
      auto change = changed.find(offset);
      if (change != changed.end()) {
        if (change->second.size() > max_decoded_size)
          return refused("a decoded entry would pass 32 MiB");
        coded = lzss_encode(change->second);
        ++rebuilt.recoded;
      } else {
        auto length = read_le<std::uint32_t>(archive, offset);
        if (!length || !fits(archive, std::uint64_t{offset} + coded_length_size, *length)) {
          return refused("an entry runs past the end of the archive");
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
