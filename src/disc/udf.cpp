#include "disc/udf.h"

#include <cdio/ecma_167.h>

#include <array>
#include <cstddef>
#include <optional>
#include <set>

namespace kelp {

namespace {

// The structures are libcdio's own definitions; kelp reads them through its bounded reader
// rather than libudf's walk, which takes offsets and lengths from the image unchecked.
constexpr std::uint64_t anchor_sector = 256;
constexpr std::size_t tag_ident_field = offsetof(udf_tag_t, id);
constexpr std::size_t tag_checksum_field = offsetof(udf_tag_t, cksum);
constexpr std::size_t tag_crc_field = offsetof(udf_tag_t, desc_CRC);
constexpr std::size_t tag_crc_length_field = offsetof(udf_tag_t, desc_CRC_len);
constexpr std::size_t tag_size = sizeof(udf_tag_t);
constexpr std::size_t sequence_field = offsetof(anchor_vol_desc_ptr_t, main_vol_desc_seq_ext);
constexpr std::size_t partition_start_field = offsetof(partition_desc_t, start_loc);
constexpr std::size_t file_set_field = offsetof(logical_vol_desc_t, lvd_use.fsd_loc);
constexpr std::size_t root_field = offsetof(udf_fsd_t, root_icb);
constexpr std::size_t long_ad_block_field = offsetof(udf_long_ad_t, loc);
constexpr std::size_t identifier_characteristics_field =
    offsetof(udf_fileid_desc_t, file_characteristics);
constexpr std::size_t identifier_name_length_field = offsetof(udf_fileid_desc_t, i_file_id);
constexpr std::size_t identifier_entry_field = offsetof(udf_fileid_desc_t, icb);
constexpr std::size_t identifier_use_length_field = offsetof(udf_fileid_desc_t, u);
constexpr std::size_t identifier_size = sizeof(udf_fileid_desc_t);
constexpr std::uint64_t max_sequence_sectors = 64;

// A file entry, and an extended file entry where its fields lie elsewhere.
constexpr std::size_t icb_flags_field = offsetof(udf_file_entry_t, icb_tag.flags);
constexpr std::size_t information_length_field = offsetof(udf_file_entry_t, info_len);
struct EntryLayout {
  std::size_t object_size_field;  // 0: the entry has none
  std::size_t blocks_recorded_field;
  std::size_t attributes_length_field;
  std::size_t descriptors_length_field;
  std::size_t attributes_field;  // the allocation descriptors follow the attributes
};
constexpr EntryLayout file_entry_layout{
    0, offsetof(udf_file_entry_t, logblks_recorded), offsetof(udf_file_entry_t, i_extended_attr),
    offsetof(udf_file_entry_t, i_alloc_descs), offsetof(udf_file_entry_t, u)};
constexpr EntryLayout extended_file_entry_layout{
    offsetof(extended_file_entry, object_size), offsetof(extended_file_entry, logblks_recorded),
    offsetof(extended_file_entry, length_extended_attr),
    offsetof(extended_file_entry, length_alloc_descs), offsetof(extended_file_entry, u)};

// An allocation descriptor: the extent's length, whose top two bits are its type, then where
// it lies in the partition.
constexpr std::uint32_t extent_length_mask = UDF_LENGTH_MASK;
constexpr std::size_t descriptor_position_field = offsetof(udf_short_ad_t, pos);
static_assert(offsetof(udf_long_ad_t, loc) == offsetof(udf_short_ad_t, pos));

using Block = std::array<std::uint8_t, disc_sector_size>;

std::optional<Block> read_block(const Disc& disc, std::uint64_t sector) {
  Block block;
  int error = 0;
  if (sector >= disc.size / disc_sector_size ||
      platform::read_whole(*disc.file, block, error, sector * disc_sector_size) < block.size()) {
    return std::nullopt;
  }
  return block;
}

bool has_tag(Bytes block, std::uint16_t ident) {
  return read_le<std::uint16_t>(block, tag_ident_field) == ident;
}

std::optional<EntryLayout> layout_of(Bytes block) {
  if (has_tag(block, TAGID_FILE_ENTRY)) return file_entry_layout;
  if (has_tag(block, TAGID_EFE)) return extended_file_entry_layout;
  return std::nullopt;
}

// Where the entry's one allocation descriptor lies, or nothing when it records its file in any
// other way (several extents, or the data inside the entry).
std::optional<std::size_t> single_descriptor(Bytes block, const EntryLayout& layout) {
  auto flags = read_le<std::uint16_t>(block, icb_flags_field);
  auto attributes = read_le<std::uint32_t>(block, layout.attributes_length_field);
  auto descriptors = read_le<std::uint32_t>(block, layout.descriptors_length_field);
  if (!flags || !attributes || !descriptors) return std::nullopt;
  std::uint16_t type = *flags & ICBTAG_FLAG_AD_MASK;
  std::size_t size = type == ICBTAG_FLAG_AD_SHORT  ? sizeof(udf_short_ad_t)
                     : type == ICBTAG_FLAG_AD_LONG ? sizeof(udf_long_ad_t)
                                                   : 0;
  std::uint64_t at = layout.attributes_field + std::uint64_t{*attributes};
  if (size == 0 || *descriptors != size || !fits(block, at, size)) return std::nullopt;
  return static_cast<std::size_t>(at);
}

struct Extent {
  std::uint64_t sector = 0;  // in the image
  std::uint32_t length = 0;
};

// The one extent a file entry records, in the image.
std::optional<Extent> extent_of(Bytes block, std::uint64_t partition_start) {
  std::optional<EntryLayout> layout = layout_of(block);
  std::optional<std::size_t> at = layout ? single_descriptor(block, *layout) : std::nullopt;
  if (!at) return std::nullopt;
  std::uint32_t length = *read_le<std::uint32_t>(block, *at) & extent_length_mask;
  return Extent{partition_start + *read_le<std::uint32_t>(block, *at + descriptor_position_field),
                length};
}

struct Volume {
  std::uint64_t partition_start = 0;
  std::uint64_t root_entry = 0;  // the root folder's file entry, in the image
};

// The partition and the root folder, from the anchor through the volume descriptors and the
// file set descriptor.
std::optional<Volume> find_volume(const Disc& disc) {
  std::optional<Block> anchor = read_block(disc, anchor_sector);
  if (!anchor || !has_tag(*anchor, TAGID_ANCHOR)) return std::nullopt;
  std::uint64_t length = read_le<std::uint32_t>(*anchor, sequence_field).value_or(0);
  std::uint64_t first = read_le<std::uint32_t>(*anchor, sequence_field + 4).value_or(0);
  std::optional<std::uint64_t> partition_start, file_set;
  for (std::uint64_t sector = first;
       sector < first + std::min(length / disc_sector_size, max_sequence_sectors); ++sector) {
    std::optional<Block> block = read_block(disc, sector);
    if (!block || has_tag(*block, TAGID_TERM)) break;
    if (has_tag(*block, TAGID_PARTITION) && !partition_start) {
      partition_start = read_le<std::uint32_t>(*block, partition_start_field);
    } else if (has_tag(*block, TAGID_LOGVOL) && !file_set) {
      file_set = read_le<std::uint32_t>(*block, file_set_field + long_ad_block_field);
    }
  }
  if (!partition_start || !file_set) return std::nullopt;
  std::optional<Block> set = read_block(disc, *partition_start + *file_set);
  if (!set || !has_tag(*set, TAGID_FSD)) return std::nullopt;
  auto root = read_le<std::uint32_t>(*set, root_field + long_ad_block_field);
  return Volume{*partition_start, *partition_start + *root};
}

struct UdfWalk {
  const Disc& disc;
  Volume volume;
  std::vector<UdfFile> files{};
  std::set<std::uint64_t> folders{};
  std::string refusal{};
};

void walk_folder(UdfWalk& walk, std::uint64_t entry_sector, std::size_t depth);

void add_file(UdfWalk& walk, std::uint64_t entry_sector) {
  std::optional<Block> block = read_block(walk.disc, entry_sector);
  if (!block || !layout_of(*block)) {
    walk.refusal = "a file entry of its UDF file system cannot be read";
    return;
  }
  std::optional<Extent> extent = extent_of(*block, walk.volume.partition_start);
  std::uint64_t size = read_le<std::uint64_t>(*block, information_length_field).value_or(0);
  // Files recorded otherwise are never matched with a change.
  if (extent && extent->sector <= UINT32_MAX) {
    walk.files.push_back({entry_sector, static_cast<std::uint32_t>(extent->sector), size});
  }
}

// Each file identifier of the folder's data: its files and folders, the parent passed over.
void walk_identifiers(UdfWalk& walk, Bytes data, std::size_t depth) {
  for (std::uint64_t at = 0; at < data.size() && walk.refusal.empty();) {
    auto name_length = read_le<std::uint8_t>(data, at + identifier_name_length_field);
    auto use_length = read_le<std::uint16_t>(data, at + identifier_use_length_field);
    if (!has_tag(data.subspan(at), TAGID_FID) || !name_length || !use_length ||
        !fits(data, at, identifier_size + *use_length + *name_length)) {
      walk.refusal = "a folder of its UDF file system holds a damaged file identifier";
      return;
    }
    std::uint8_t characteristics = data[at + identifier_characteristics_field];
    std::uint64_t entry =
        walk.volume.partition_start +
        *read_le<std::uint32_t>(data, at + identifier_entry_field + long_ad_block_field);
    if ((characteristics & (UDF_FILE_PARENT | UDF_FILE_DELETED)) == 0) {
      if (walk.files.size() + walk.folders.size() >= max_disc_files) {
        walk.refusal =
            "its UDF file system holds more than " + std::to_string(max_disc_files) + " files";
      } else if ((characteristics & UDF_FILE_DIRECTORY) != 0) {
        walk_folder(walk, entry, depth + 1);
      } else {
        add_file(walk, entry);
      }
    }
    at += (identifier_size + *use_length + *name_length + 3) / 4 * 4;  // padded to 4 bytes
  }
}

void walk_folder(UdfWalk& walk, std::uint64_t entry_sector, std::size_t depth) {
  if (depth >= max_disc_folder_depth || !walk.folders.insert(entry_sector).second) {
    walk.refusal = "a folder of its UDF file system is nested too deep or met twice";
    return;
  }
  std::optional<Block> block = read_block(walk.disc, entry_sector);
  std::optional<Extent> extent =
      block ? extent_of(*block, walk.volume.partition_start) : std::nullopt;
  std::uint64_t size =
      block ? read_le<std::uint64_t>(*block, information_length_field).value_or(0) : 0;
  if (!extent || size > extent->length || size > max_directory_size ||
      extent->sector * disc_sector_size + size > walk.disc.size) {
    walk.refusal = "a folder of its UDF file system cannot be read";
    return;
  }
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  int error = 0;
  if (platform::read_whole(*walk.disc.file, data, error, extent->sector * disc_sector_size) <
      data.size()) {
    walk.refusal = "a folder of its UDF file system cannot be read";
    return;
  }
  walk_identifiers(walk, data, depth);
}

}  // namespace

Result<std::vector<UdfFile>> udf_files(const Disc& disc) {
  std::optional<Volume> volume = find_volume(disc);
  if (!volume) return Refusal{"its UDF file system cannot be read"};
  UdfWalk walk{disc, *volume};
  walk_folder(walk, volume->root_entry, 0);
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
