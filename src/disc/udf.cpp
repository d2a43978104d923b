#include "disc/udf.h"

#include <cdio/bytesex.h>
#include <cdio/udf.h>

#include <array>
#include <memory>
#include <optional>
#include <set>

namespace kelp {

namespace {

// A descriptor's tag.
constexpr std::size_t tag_ident_field = 0;
constexpr std::size_t tag_checksum_field = 4;
constexpr std::size_t tag_crc_field = 8;
constexpr std::size_t tag_crc_length_field = 10;
constexpr std::size_t tag_size = 16;
constexpr std::uint16_t file_entry_ident = TAGID_FILE_ENTRY;
constexpr std::uint16_t extended_file_entry_ident = TAGID_EFE;

// A file entry, and an extended file entry where its fields lie elsewhere.
constexpr std::size_t icb_flags_field = 34;
constexpr std::size_t information_length_field = 56;
struct EntryLayout {
  std::size_t object_size_field;  // 0: the entry has none
  std::size_t blocks_recorded_field;
  std::size_t attributes_length_field;  // the allocation descriptors' length follows it
  std::size_t attributes_field;         // the allocation descriptors follow the attributes
};
constexpr EntryLayout file_entry_layout{0, 64, 168, 176};
constexpr EntryLayout extended_file_entry_layout{64, 72, 208, 216};

// An allocation descriptor: the extent's length, whose top two bits are its type, then its
// position in the partition.
constexpr std::uint32_t extent_length_mask = 0x3FFFFFFF;
constexpr std::size_t descriptor_position_field = 4;
constexpr std::size_t short_descriptor_size = 8;
constexpr std::size_t long_descriptor_size = 16;

using Block = std::array<std::uint8_t, disc_sector_size>;

std::optional<EntryLayout> layout_of(Bytes block) {
  std::optional<std::uint16_t> ident = read_le<std::uint16_t>(block, tag_ident_field);
  if (ident == file_entry_ident) return file_entry_layout;
  if (ident == extended_file_entry_ident) return extended_file_entry_layout;
  return std::nullopt;
}

// Where the entry's one allocation descriptor lies, or nothing when it records its file in any
// other way (several extents, or the data inside the entry).
std::optional<std::size_t> single_descriptor(Bytes block, const EntryLayout& layout) {
  auto flags = read_le<std::uint16_t>(block, icb_flags_field);
  auto attributes = read_le<std::uint32_t>(block, layout.attributes_length_field);
  auto descriptors = read_le<std::uint32_t>(block, layout.attributes_length_field + 4);
  if (!flags || !attributes || !descriptors) return std::nullopt;
  std::uint16_t type = *flags & ICBTAG_FLAG_AD_MASK;
  std::size_t size = type == ICBTAG_FLAG_AD_SHORT  ? short_descriptor_size
                     : type == ICBTAG_FLAG_AD_LONG ? long_descriptor_size
                                                   : 0;
  std::uint64_t at = layout.attributes_field + std::uint64_t{*attributes};
  if (size == 0 || *descriptors != size || !fits(block, at, size)) return std::nullopt;
  return static_cast<std::size_t>(at);
}

std::optional<Block> read_block(const Disc& disc, std::uint64_t sector) {
  Block block;
  int error = 0;
  if (sector >= disc.size / disc_sector_size ||
      platform::read_whole(*disc.file, block, error, sector * disc_sector_size) < block.size()) {
    return std::nullopt;
  }
  return block;
}

struct UdfWalk {
  const Disc& disc;
  std::vector<UdfFile> files{};
  std::set<std::uint64_t> folders{};
  std::string refusal{};
};

void walk_folder(UdfWalk& walk, udf_dirent_t* folder, std::size_t depth);

void add_entry(UdfWalk& walk, udf_dirent_t* entry, std::size_t depth) {
  std::uint64_t sector =
      std::uint64_t{entry->i_part_start} + uint32_from_le(entry->fid->icb.loc.lba);
  if (walk.files.size() + walk.folders.size() >= max_disc_files) {
    walk.refusal =
        "its UDF file system holds more than " + std::to_string(max_disc_files) + " files";
  } else if (udf_is_dir(entry)) {
    if (depth + 1 >= max_disc_folder_depth || !walk.folders.insert(sector).second ||
        udf_get_file_length(entry) > max_directory_size) {
      walk.refusal = "a folder of its UDF file system is too deep, too large or met twice";
    } else if (udf_dirent_t* sub = udf_opendir(entry); sub != nullptr) {
      walk_folder(walk, sub, depth + 1);
    } else {
      walk.refusal = "a folder of its UDF file system cannot be read";
    }
  } else {
    std::optional<Block> block = read_block(walk.disc, sector);
    std::optional<EntryLayout> layout = block ? layout_of(*block) : std::nullopt;
    if (!layout) {
      walk.refusal = "a file entry of its UDF file system cannot be read";
      return;
    }
    std::optional<std::size_t> at = single_descriptor(*block, *layout);
    if (!at) return;  // not a file kelp can rewrite; never matched with a change
    std::uint32_t position = *read_le<std::uint32_t>(*block, *at + descriptor_position_field);
    walk.files.push_back({sector, entry->i_part_start + position, udf_get_file_length(entry)});
  }
}

// Walks the folder's entries; libudf frees the folder when its entries end.
void walk_folder(UdfWalk& walk, udf_dirent_t* folder, std::size_t depth) {
  for (udf_dirent_t* entry = udf_readdir(folder); entry != nullptr; entry = udf_readdir(entry)) {
    if (!walk.refusal.empty()) {
      udf_dirent_free(entry);
      return;
    }
    if (entry->fid == nullptr || (entry->fid->file_characteristics & UDF_FILE_PARENT) != 0) {
      continue;
    }
    add_entry(walk, entry, depth);
  }
}

}  // namespace

Result<std::vector<UdfFile>> udf_files(const Disc& disc, const std::string& path) {
  std::unique_ptr<udf_t, decltype(&udf_close)> udf(udf_open(path.c_str()), udf_close);
  udf_dirent_t* root = udf ? udf_get_root(udf.get(), true, 0) : nullptr;
  if (root == nullptr) return Refusal{"its UDF file system cannot be read"};
  if (udf_get_file_length(root) > max_directory_size) {
    udf_dirent_free(root);
    return Refusal{"the root folder of its UDF file system is too large"};
  }
  UdfWalk walk{disc};
  walk_folder(walk, root, 0);
  if (!walk.refusal.empty()) return Refusal{walk.refusal};
  return std::move(walk.files);
}

std::uint16_t udf_crc(Bytes bytes) {
  constexpr std::uint16_t polynomial = 0x1021;
  std::uint16_t crc = 0;
  for (std::uint8_t byte : bytes) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ polynomial : crc << 1);
    }
  }
  return crc;
}

Result<std::vector<std::uint8_t>> resized_udf_entry(const Disc& disc, const UdfFile& file,
                                                    std::uint64_t new_size) {
  std::optional<Block> read = read_block(disc, file.entry_sector);
  if (!read) return Refusal{"its UDF file entry cannot be read"};
  Bytes block(*read);
  std::uint64_t old_size = file.size;
  std::optional<EntryLayout> layout = layout_of(block);
  std::optional<std::size_t> at = layout ? single_descriptor(block, *layout) : std::nullopt;
  auto crc_length = read_le<std::uint16_t>(block, tag_crc_length_field);
  auto length = at ? read_le<std::uint32_t>(block, *at) : std::nullopt;
  if (!at || !crc_length || !fits(block, tag_size, *crc_length) ||
      read_le<std::uint64_t>(block, information_length_field) != old_size ||
      (*length & extent_length_mask) != old_size) {
    return Refusal{"its UDF file entry records it in a way kelp cannot rewrite"};
  }
  std::vector<std::uint8_t> entry(block.begin(), block.end());
  put_le<std::uint64_t>(&entry[information_length_field], new_size);
  put_le<std::uint32_t>(&entry[*at],
                        static_cast<std::uint32_t>((*length & ~extent_length_mask) | new_size));
  // Blocks recorded, and an extended entry's object size, change only where they agreed with
  // the old size.
  auto blocks = [](std::uint64_t size) { return (size + disc_sector_size - 1) / disc_sector_size; };
  if (read_le<std::uint64_t>(block, layout->blocks_recorded_field) == blocks(old_size)) {
    put_le<std::uint64_t>(&entry[layout->blocks_recorded_field], blocks(new_size));
  }
  if (layout->object_size_field != 0 &&
      read_le<std::uint64_t>(block, layout->object_size_field) == old_size) {
    put_le<std::uint64_t>(&entry[layout->object_size_field], new_size);
  }
  put_le<std::uint16_t>(&entry[tag_crc_field],
                        udf_crc(Bytes(entry).subspan(tag_size, *crc_length)));
  std::uint8_t checksum = 0;
  for (std::size_t i = 0; i < tag_size; ++i) {
    if (i != tag_checksum_field) checksum = static_cast<std::uint8_t>(checksum + entry[i]);
  }
  entry[tag_checksum_field] = checksum;
  return entry;
}

}  // namespace kelp
