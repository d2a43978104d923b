#include "texture/bitmap.h"

#include <algorithm>
#include <bit>
#include <string>

namespace kelp {

void put_bitmap_header(std::span<std::uint8_t, bitmap_header_size> header, std::uint32_t width,
                       std::uint32_t height) {
  std::uint8_t* h = header.data();
  std::fill(header.begin(), header.end(), std::uint8_t{0});
  put_le<std::uint16_t>(h + bmp_signature_field, bmp_signature);
  put_le<std::uint32_t>(h + bmp_file_size_field,
                        static_cast<std::uint32_t>(bitmap_file_size(width, height)));
  put_le<std::uint32_t>(h + bmp_pixel_offset_field, bitmap_header_size);
  put_le<std::uint32_t>(h + bmp_info_size_field, info_header_size);
  put_le<std::uint32_t>(h + bmp_width_field, width);
  put_le<std::uint32_t>(h + bmp_height_field, height);
  put_le<std::uint16_t>(h + bmp_planes_field, 1);
  put_le<std::uint16_t>(h + bmp_bit_count_field, bmp_bits_per_pixel);
}

std::optional<BitmapHeader> read_bitmap_header(Bytes file) {
  if (!fits(file, 0, bitmap_header_size) ||
      read_le<std::uint16_t>(file, bmp_signature_field) != bmp_signature) {
    return std::nullopt;
  }
  BitmapHeader header{*read_le<std::uint32_t>(file, bmp_pixel_offset_field),
                      *read_le<std::uint32_t>(file, bmp_info_size_field),
                      *read_le<std::uint32_t>(file, bmp_width_field),
                      *read_le<std::uint32_t>(file, bmp_height_field),
                      *read_le<std::uint16_t>(file, bmp_bit_count_field),
                      *read_le<std::uint32_t>(file, bmp_compression_field)};
  if (header.info_size < info_header_size) return std::nullopt;
  return header;
}

namespace {

constexpr unsigned byte_bits = 8;
constexpr unsigned row_alignment_bits = 32;
constexpr std::uint8_t full_channel = 255;

bool contiguous(std::uint32_t mask) {
  if (mask == 0) return true;
  std::uint32_t low = mask >> std::countr_zero(mask);
  return (low & (low + 1)) == 0;
}

// A masked channel scaled to 0..255; 0 for no mask.
std::uint8_t masked(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  unsigned shift = std::countr_zero(mask);
  std::uint64_t most = mask >> shift, value = (pixel & mask) >> shift;
  return static_cast<std::uint8_t>((value * full_channel + most / 2) / most);
}

bool has_bit_fields(const BitmapHeader& header) {
  return header.compression == compression_bit_fields ||
         header.compression == compression_alpha_bit_fields;
}

// The masks in effect: the default ones, or those after (or inside) the header; the alpha mask
// only from headers of 56 bytes or more. Nothing when they cannot be read or are not contiguous.
std::optional<ColourMasks> read_masks(Bytes file, const BitmapHeader& header) {
  ColourMasks masks;
  if (has_bit_fields(header)) {
    auto red = read_le<std::uint32_t>(file, bmp_red_mask_field);
    auto green = read_le<std::uint32_t>(file, bmp_green_mask_field);
    auto blue = read_le<std::uint32_t>(file, bmp_blue_mask_field);
    if (!red || !green || !blue) return std::nullopt;
    masks = {*red, *green, *blue, 0};
  }
  if (header.info_size >= info_size_with_alpha_mask ||
      header.compression == compression_alpha_bit_fields) {
    auto alpha = read_le<std::uint32_t>(file, bmp_alpha_mask_field);
    if (!alpha) return std::nullopt;
    masks.alpha = *alpha;
  }
  for (std::uint32_t mask : {masks.red, masks.green, masks.blue, masks.alpha}) {
    if (!contiguous(mask)) return std::nullopt;
  }
  return masks;
}

std::uint64_t row_stride(const BitmapHeader& header) {
  return (std::uint64_t{header.bits} * header.width + row_alignment_bits - 1) / row_alignment_bits *
         (row_alignment_bits / byte_bits);
}

// Why bitmaps of this kind are not read, or nothing.
std::optional<std::string> unsupported(const BitmapHeader& header) {
  if (header.compression == compression_rle8 || header.compression == compression_rle4) {
    return "compressed (RLE) bitmaps are not supported; save it uncompressed";
  }
  bool colours = header.bits == bmp_bits_per_pixel &&
                 (header.compression == compression_none || has_bit_fields(header));
  bool indexed = std::find(std::begin(bmp_index_bits), std::end(bmp_index_bits), header.bits) !=
                 std::end(bmp_index_bits);
  bool others = (header.bits == bmp_rgb_bits || indexed) && header.compression == compression_none;
  if (colours || others) return std::nullopt;
  return std::to_string(header.bits) + "-bit bitmaps with compression " +
         std::to_string(header.compression) + " are not supported";
}

Result<Bytes> colour_table(Bytes file, const BitmapHeader& header) {
  std::uint64_t most = std::uint64_t{1} << header.bits;
  std::uint64_t count = read_le<std::uint32_t>(file, bmp_colours_used_field).value_or(0);
  if (count == 0 || count > most) count = most;
  std::uint64_t at = file_header_size + std::uint64_t{header.info_size};
  if (!fits(file, at, count * colour_table_entry_size)) {
    return Refusal{"the palette runs past the end of the file"};
  }
  return file.subspan(at, count * colour_table_entry_size);
}

// Index x of a row of 1-, 4- or 8-bit indices, packed from each byte's high bits.
unsigned index_at(Bytes row, std::uint32_t x, unsigned bits) {
  std::size_t bit = std::size_t{x} * bits;
  return row[bit / byte_bits] >> (byte_bits - bits - bit % byte_bits) & ((1u << bits) - 1);
}

}  // namespace

Result<BitmapLayout> read_bitmap_layout(Bytes file) {
  std::optional<BitmapHeader> header = read_bitmap_header(file);
  if (!header || static_cast<std::int32_t>(header->width) < 0) {
    return Refusal{"not a bitmap kelp can read (its header is cut short or too old)"};
  }
  if (std::optional<std::string> why = unsupported(*header)) return Refusal{*why};
  std::int64_t height = static_cast<std::int32_t>(header->height);
  BitmapLayout layout{*header,
                      header->width,
                      static_cast<std::uint32_t>(height < 0 ? -height : height),
                      height < 0,
                      {},
                      true,
                      {}};
  if (!fits(file, header->pixel_offset, row_stride(*header) * layout.height)) {
    return Refusal{"its pixels run past the end of the file"};
  }
  if (header->bits == bmp_bits_per_pixel) {
    std::optional<ColourMasks> masks = read_masks(file, *header);
    layout.masks = masks.value_or(ColourMasks{});
    layout.masks_readable = masks.has_value();
    return layout;
  }
  layout.masks.alpha = 0;
  if (header->bits == bmp_rgb_bits) return layout;
  Result<Bytes> table = colour_table(file, *header);
  if (!table) return Refusal{table.refusal};
  layout.colour_table = *table;
  return layout;
}

Bytes bitmap_row(Bytes file, const BitmapLayout& layout, std::uint32_t y) {
  std::uint32_t stored = layout.top_row_first ? y : layout.height - 1 - y;
  std::uint64_t stride = row_stride(layout.header);
  return file.subspan(layout.header.pixel_offset + stored * stride, stride);
}

Result<std::vector<Colour>> bitmap_colours(Bytes file, const BitmapLayout& layout) {
  constexpr std::size_t rgb_size = 3;
  const ColourMasks& m = layout.masks;
  if (!layout.masks_readable) return Refusal{"unreadable bit-field masks"};
  std::size_t table_entries = layout.colour_table.size() / colour_table_entry_size;
  std::vector<Colour> pixels;
  pixels.reserve(std::size_t{layout.width} * layout.height);
  for (std::uint32_t y = 0; y < layout.height; ++y) {
    Bytes row = bitmap_row(file, layout, y);
    for (std::uint32_t x = 0; x < layout.width; ++x) {
      if (layout.header.bits == bmp_bits_per_pixel) {
        std::uint32_t p = *read_le<std::uint32_t>(row, std::size_t{bytes_per_pixel} * x);
        pixels.push_back(
            {masked(p, m.red), masked(p, m.green), masked(p, m.blue), masked(p, m.alpha)});
      } else if (layout.header.bits == bmp_rgb_bits) {
        const std::uint8_t* bgr = row.data() + rgb_size * x;
        pixels.push_back({bgr[2], bgr[1], bgr[0], 0});
      } else {
        unsigned index = index_at(row, x, layout.header.bits);
        if (index >= table_entries) {
          return Refusal{"pixel index " + std::to_string(index) + " lies past its palette"};
        }
        const std::uint8_t* bgr = layout.colour_table.data() + index * colour_table_entry_size;
        pixels.push_back({bgr[2], bgr[1], bgr[0], 0});
      }
    }
  }
  return pixels;
}

}  // namespace kelp
