#include "texture/bitmap.h"

#include <algorithm>

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

}  // namespace kelp
