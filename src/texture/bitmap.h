// The 32-bit bitmaps kelp writes, and the creation of their files without overwriting.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "common/bytes.h"
#include "common/output.h"
#include "common/result.h"
#include "platform/platform.h"
#include "texture/record.h"

namespace kelp {

// File header (14 bytes) followed by the information header (40 bytes).
constexpr std::size_t file_header_size = 14;
constexpr std::size_t info_header_size = 40;
constexpr std::size_t bitmap_header_size = file_header_size + info_header_size;

constexpr std::size_t bmp_signature_field = 0;      // "BM"
constexpr std::size_t bmp_file_size_field = 2;      // u32
constexpr std::size_t bmp_pixel_offset_field = 10;  // u32
constexpr std::size_t bmp_info_size_field = 14;     // u32
constexpr std::size_t bmp_width_field = 18;         // s32
constexpr std::size_t bmp_height_field = 22;        // s32, positive: bottom row first
constexpr std::size_t bmp_planes_field = 26;        // u16
constexpr std::size_t bmp_bit_count_field = 28;     // u16
constexpr std::size_t bmp_compression_field = 30;   // u32
constexpr std::uint16_t bmp_signature = 0x4D42;     // "BM" read as a little-endian u16
constexpr std::uint16_t bmp_bits_per_pixel = 32;
constexpr std::uint32_t compression_none = 0;
constexpr std::uint32_t compression_rle8 = 1;
constexpr std::uint32_t compression_rle4 = 2;
constexpr std::uint32_t compression_bit_fields = 3;
constexpr std::uint32_t compression_alpha_bit_fields = 6;
// Bit-field masks follow a 40-byte header, or lie inside a larger one, at the same offsets; the
// alpha mask only in headers of 56 bytes or more.
constexpr std::size_t bmp_red_mask_field = 54;
constexpr std::size_t bmp_green_mask_field = 58;
constexpr std::size_t bmp_blue_mask_field = 62;
constexpr std::size_t bmp_alpha_mask_field = 66;
constexpr std::uint32_t info_size_with_alpha_mask = 56;

// The header fields a reader of bitmaps checks, as the file holds them.
struct BitmapHeader {
  std::uint32_t pixel_offset, info_size, width, height;  // height: negative top row first
  std::uint16_t bits;
  std::uint32_t compression;
};

// The file's header fields; nothing when the file is no "BM" bitmap or its headers are cut short
// or older than the 40-byte information header.
std::optional<BitmapHeader> read_bitmap_header(Bytes file);
constexpr std::size_t bytes_per_pixel = 4;  // blue, green, red, alpha

// Reading bitmaps that editors write: 1-, 4-, 8-, 24- and 32-bit pixels, 32-bit ones also with
// bit-field masks, headers of 40 bytes (kelp's own) or larger (V4, V5), either row order.
constexpr std::size_t bmp_colours_used_field = 46;     // u32, 0: all 2^bits
constexpr std::size_t colour_table_entry_size = 4;     // blue, green, red, unused
constexpr std::uint16_t bmp_rgb_bits = 24;             // blue, green, red
constexpr std::uint16_t bmp_index_bits[] = {8, 4, 1};  // into the colour table
constexpr std::uint32_t default_red_mask = 0x00FF0000;
constexpr std::uint32_t default_green_mask = 0x0000FF00;
constexpr std::uint32_t default_blue_mask = 0x000000FF;
constexpr std::uint32_t default_alpha_mask = 0xFF000000;

struct ColourMasks {
  std::uint32_t red = default_red_mask, green = default_green_mask, blue = default_blue_mask;
  std::uint32_t alpha = default_alpha_mask;  // 0: the pixels carry no alpha
};

// Where a bitmap's pixels lie; every row, and the colour table, inside the file.
struct BitmapLayout {
  BitmapHeader header{};
  std::uint32_t width = 0, height = 0;  // the height without its sign
  bool top_row_first = false;
  ColourMasks masks;           // 32-bit pixels
  bool masks_readable = true;  // false: the masks are cut short or not contiguous
  Bytes colour_table;          // 1-, 4- and 8-bit pixels
};

// The layout of a bitmap of a kind listed above, or why it cannot be read.
Result<BitmapLayout> read_bitmap_layout(Bytes file);

// Row y of the picture (0: the top row) as the file stores it.
Bytes bitmap_row(Bytes file, const BitmapLayout& layout, std::uint32_t y);

// The picture's pixels, top row first, each channel on 0..255 (alpha as the masks give it, 0
// without an alpha mask); refused when an index lies past the colour table or the masks cannot
// be read.
Result<std::vector<Colour>> bitmap_colours(Bytes file, const BitmapLayout& layout);

// Byte size of a bitmap file of the given dimensions.
constexpr std::uint64_t bitmap_file_size(std::uint64_t width, std::uint64_t height) {
  return bitmap_header_size + bytes_per_pixel * width * height;
}

// Fills the 54-byte header of an uncompressed 32-bit bitmap, rows stored bottom row first.
void put_bitmap_header(std::span<std::uint8_t, bitmap_header_size> header, std::uint32_t width,
                       std::uint32_t height);

// Big bitmaps are written in pieces of about this size rather than built whole.
constexpr std::size_t max_write_chunk = 2u << 20;

// The buffer write_bitmap needs for a bitmap of `rows` rows of `row_size` bytes.
constexpr std::size_t bitmap_buffer_size(std::uint32_t rows, std::size_t row_size) {
  std::uint64_t total = bitmap_header_size + std::uint64_t{row_size} * rows;
  return static_cast<std::size_t>(
      std::max<std::uint64_t>(std::min<std::uint64_t>(total, max_write_chunk), row_size));
}

// The buffer bitmaps are built in before they are written: zero pages from the system, in large
// pages where it has them, so it is neither cleared nor faulted in page by page. Kept from one
// bitmap to the next.
struct WriteBuffer {
  platform::PageBlock block;
  std::size_t size = 0;
};

// Grows `scratch` for write_bitmap. Done before the file is created, so that running out of
// memory cannot leave a partial file behind.
inline void prepare_bitmap_buffer(WriteBuffer& scratch, std::uint32_t rows, std::size_t row_size) {
  std::size_t capacity = bitmap_buffer_size(rows, row_size);
  if (scratch.size >= capacity) return;
  scratch.block = platform::allocate_pages(capacity);
  if (!scratch.block) throw std::bad_alloc();
  scratch.size = capacity;
}

// Writes a 54-byte header and then `rows` rows of `row_size` bytes, in file order, each made by
// fill_row(file_row, destination), with as few writes as the pieces allow, through `scratch`
// (see prepare_bitmap_buffer).
template <typename FillRow>
void write_bitmap(OutputFile& out, std::span<const std::uint8_t, bitmap_header_size> header,
                  std::uint32_t rows, std::size_t row_size, FillRow fill_row,
                  WriteBuffer& scratch) {
  if (row_size == 0) rows = 0;  // an empty picture: the header alone
  prepare_bitmap_buffer(scratch, rows, row_size);
  std::size_t capacity = bitmap_buffer_size(rows, row_size);
  std::uint8_t* buffer = scratch.block.get();
  std::copy(header.begin(), header.end(), buffer);
  std::size_t used = bitmap_header_size;
  for (std::uint32_t row = 0; row < rows && out.error == 0; ++row) {
    if (used + row_size > capacity) {
      write_output(out, Bytes(buffer, used));
      used = 0;
    }
    fill_row(row, buffer + used);
    used += row_size;
  }
  write_output(out, Bytes(buffer, used));
}

}  // namespace kelp
