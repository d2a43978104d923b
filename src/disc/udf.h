// The UDF side of a bridge disc: its file entries, and the fields of an entry
// that record its file's size. A file that keeps its sectors but changes its size gets that size
// in its UDF file entry too, so that a reader of either file system reads the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"
#include "disc/disc.h"

namespace kelp {

struct UdfFile {
  std::uint64_t entry_sector = 0;  // where its file entry lies in the image
  std::uint32_t data_sector = 0;   // where its data begins in the image
  std::uint64_t size = 0;          // its information length
};

// Every file of the image's UDF file system with its file entry, read from the anchor at sector
// 256 on; refused when the file system cannot be read whole: a folder or file identifier that
// lies outside the image or its folder, a folder met twice or nested too deep, too many files.
Result<std::vector<UdfFile>> udf_files(const Disc& disc);

// The file's entry, read from the image, with the file's size changed to `new_size` within the
// same sectors: information length, the one allocation descriptor's length and the blocks
// recorded, then the tag's checksum and CRC; refused when the entry records the file otherwise.
Result<std::vector<std::uint8_t>> resized_udf_entry(const Disc& disc, const UdfFile& file,
                                                    std::uint64_t new_size);

// The CRC of a UDF descriptor: CRC-16/CCITT with polynomial 0x1021, starting from 0.
std::uint16_t udf_crc(Bytes bytes);

}  // namespace kelp
