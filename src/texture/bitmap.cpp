#include "texture/bitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

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

namespace {

std::string clash_candidate(const std::string& name, std::uint32_t number) {
  std::size_t dot = name.rfind('.');
  std::size_t insert_at = dot == std::string::npos ? name.size() : dot;
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "_%04X", static_cast<unsigned>(number));
  return name.substr(0, insert_at) + suffix + name.substr(insert_at);
}

OutputFile try_create(const std::string& name, platform::CreateStatus& status) {
  platform::Creation made = platform::create_new_file(name);
  status = made.status;
  return {made.file, name, made.error, made.status == platform::CreateStatus::created};
}

}  // namespace

OutputFile create_output_file(const std::string& name) {
  if (name.size() > max_output_name) return {{}, name, ENAMETOOLONG, false};
  platform::CreateStatus status;
  OutputFile out = try_create(name, status);
  for (std::uint32_t number = 1; status == platform::CreateStatus::exists; ++number) {
    if (number > last_clash_number) return {{}, name, EEXIST, false};
    out = try_create(clash_candidate(name, number), status);
  }
  return out;
}

void write_output(OutputFile& out, Bytes bytes) {
  if (out.error == 0) out.error = platform::write_all(out.file, bytes);
}

bool finish_output(OutputFile& out) {
  int closed = platform::close_file(out.file);
  if (out.error == 0) out.error = closed;
  if (out.error == 0) return true;
  platform::remove_file(out.name);
  platform::warn(out.name, "cannot write: " + platform::describe_error(out.error) +
                               "; the incomplete file was removed");
  return false;
}

}  // namespace kelp
