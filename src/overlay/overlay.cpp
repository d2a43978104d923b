#include "overlay/overlay.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/exit_codes.h"
#include "platform/platform.h"
#include "texture/bitmap.h"

namespace kelp {

namespace {

bool is_scanf_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Plain pixels, or bit-field masks that say the same: blue, green, red, and alpha or nothing.
bool standard_masks(const BitmapLayout& layout) {
  if (layout.header.compression == compression_none) return true;
  const ColourMasks& m = layout.masks;
  return layout.header.compression == compression_bit_fields && layout.masks_readable &&
         m.red == default_red_mask && m.green == default_green_mask &&
         m.blue == default_blue_mask && (m.alpha == default_alpha_mask || m.alpha == 0);
}

struct Placement {
  std::uint32_t x, y;  // the overlay's offsets, negative ones wrapped as unsigned
};

// Copies `count` base pixels with their alpha bytes cleared.
void copy_without_alpha(const std::uint8_t* from, std::uint8_t* to, std::uint32_t count) {
  const std::uint8_t colour_bytes[bytes_per_pixel] = {0xFF, 0xFF, 0xFF, 0x00};
  std::uint32_t mask;
  std::memcpy(&mask, colour_bytes, bytes_per_pixel);
  for (std::uint32_t x = 0; x < count; ++x) {
    std::uint32_t pixel;
    std::memcpy(&pixel, from + bytes_per_pixel * x, bytes_per_pixel);
    pixel &= mask;
    std::memcpy(to + bytes_per_pixel * x, &pixel, bytes_per_pixel);
  }
}

// Blends `count` overlay pixels into the row's pixels in place; each result's alpha is the
// overlay's. Four pixels at a time where the processor has SSE2, with the same 16-bit arithmetic.
void blend_pixels(const std::uint8_t* overlay, std::uint8_t* row, std::uint32_t count) {
  std::uint32_t x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), scale = _mm_set1_epi16(128),
                low_bytes = _mm_set1_epi16(0xFF);
  const __m128i alpha_bytes = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  auto blend_two = [&](__m128i base, __m128i over) {  // two pixels in 16-bit lanes
    __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(over, 0xFF), 0xFF);
    __m128i sum = _mm_add_epi16(_mm_mullo_epi16(base, _mm_sub_epi16(scale, alpha)),
                                _mm_mullo_epi16(over, alpha));
    return _mm_and_si128(_mm_srli_epi16(sum, 7), low_bytes);
  };
  constexpr std::uint32_t pixels_per_step = 4;  // 16 bytes: one SSE2 register
  for (; x + pixels_per_step <= count; x += pixels_per_step) {
    __m128i base = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + bytes_per_pixel * x));
    __m128i over = _mm_loadu_si128(reinterpret_cast<const __m128i*>(overlay + bytes_per_pixel * x));
    __m128i low = blend_two(_mm_unpacklo_epi8(base, zero), _mm_unpacklo_epi8(over, zero));
    __m128i high = blend_two(_mm_unpackhi_epi8(base, zero), _mm_unpackhi_epi8(over, zero));
    __m128i blended = _mm_packus_epi16(low, high);
    blended =
        _mm_or_si128(_mm_andnot_si128(alpha_bytes, blended), _mm_and_si128(alpha_bytes, over));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + bytes_per_pixel * x), blended);
  }
#endif
  for (; x < count; ++x) {
    const std::uint8_t* o = overlay + bytes_per_pixel * x;
    std::uint8_t* p = row + bytes_per_pixel * x;
    p[0] = blend_channel(p[0], o[0], o[3]);
    p[1] = blend_channel(p[1], o[1], o[3]);
    p[2] = blend_channel(p[2], o[2], o[3]);
    p[3] = o[3];
  }
}

// Row y of the composed image: the base where it reaches (alpha 0), black elsewhere, and the
// overlay blended over both where it reaches.
void compose_row(const BitmapImage& base, const BitmapImage& overlay, Placement at,
                 std::uint32_t width, std::uint32_t y, std::uint8_t* row) {
  std::uint32_t from_base = y < base.height ? std::min(base.width, width) : 0;
  copy_without_alpha(base.pixels.data() + std::uint64_t{bytes_per_pixel} * y * base.width, row,
                     from_base);
  std::memset(row + bytes_per_pixel * from_base, 0, bytes_per_pixel * (width - from_base));
  if (y < at.y || y - at.y >= overlay.height || at.x >= width) return;
  const std::uint8_t* overlay_row =
      overlay.pixels.data() + std::uint64_t{bytes_per_pixel} * (y - at.y) * overlay.width;
  auto end = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::uint64_t{at.x} + overlay.width, width));
  blend_pixels(overlay_row, row + bytes_per_pixel * at.x, end - at.x);
}

// The output's header: the base's own when it is the plain 54-byte form, with size, width and
// height replaced; otherwise the plain header kelp writes for textures.
std::array<std::uint8_t, bitmap_header_size> composed_header(Bytes base_file,
                                                             const BitmapImage& base,
                                                             std::uint32_t width,
                                                             std::uint32_t height) {
  std::array<std::uint8_t, bitmap_header_size> header;
  put_bitmap_header(header, width, height);
  if (base.plain_header) {
    std::copy(base_file.begin(), base_file.begin() + bitmap_header_size, header.begin());
    put_le<std::uint32_t>(header.data() + bmp_file_size_field,
                          static_cast<std::uint32_t>(bitmap_file_size(width, height)));
    put_le<std::uint32_t>(header.data() + bmp_width_field, width);
    put_le<std::uint32_t>(header.data() + bmp_height_field, height);
  }
  return header;
}

}  // namespace

std::optional<std::int32_t> offset_option(std::string_view command_line, std::string_view option) {
  std::size_t at = command_line.find(option);
  if (at == std::string_view::npos) return 0;
  std::string_view rest = command_line.substr(at + option.size());
  std::size_t i = 0;
  while (i < rest.size() && is_scanf_space(rest[i])) ++i;
  bool negative = i < rest.size() && rest[i] == '-';
  if (i < rest.size() && (rest[i] == '-' || rest[i] == '+')) ++i;
  if (i == rest.size() || !is_digit(rest[i])) return 0;
  constexpr std::int64_t most = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; i < rest.size() && is_digit(rest[i]); ++i) {
    value = value * 10 + (rest[i] - '0');
    if (value > most) return std::nullopt;
  }
  if (!negative && value == most) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -value : value);
}

std::optional<std::string> overlay_option(std::string_view command_line) {
  std::size_t at = command_line.find("/b");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view value = command_line.substr(at + 2);
  std::size_t last_space = value.rfind(' ');
  return std::string(last_space == std::string_view::npos ? value : value.substr(0, last_space));
}

std::optional<BitmapImage> read_bitmap(Bytes file) {
  Result<BitmapLayout> layout = read_bitmap_layout(file);
  if (!layout || layout->header.bits != bmp_bits_per_pixel || layout->top_row_first ||
      !standard_masks(*layout)) {
    return std::nullopt;
  }
  const BitmapHeader& h = layout->header;
  std::uint64_t pixel_bytes = std::uint64_t{bytes_per_pixel} * h.width * h.height;
  bool plain_header = h.compression == compression_none && h.info_size == info_header_size &&
                      h.pixel_offset == bitmap_header_size;
  return BitmapImage{h.width, h.height, file.subspan(h.pixel_offset, pixel_bytes), plain_header};
}

OverlayRun compose_overlay(Bytes base_file, const std::string& source_path,
                           std::string_view command_line, CodePage code_page,
                           const std::string& folder) {
  std::string source_name = split_path(source_path, code_page).name;
  std::optional<std::int32_t> x = offset_option(command_line, "/x");
  std::optional<std::int32_t> y = offset_option(command_line, "/y");
  if (!x || !y) return {exit_error, error_offset_range};
  std::optional<std::string> overlay_path = overlay_option(command_line);
  if (!overlay_path) return {exit_error, error_no_overlay};
  PathParts overlay_parts = split_path(*overlay_path, code_page);
  if (overlay_parts.extension != ".bmp" && overlay_parts.extension != ".BMP") {
    return {exit_error, error_no_overlay};
  }
  std::optional<platform::File> opened = platform::open_unshared(*overlay_path);
  if (!opened) return {exit_error, error_overlay_open};
  WholeFile overlay_file = read_whole_file(*opened);
  platform::close_file(*opened);
  std::optional<BitmapImage> base = read_bitmap(base_file);
  if (!base) return {exit_error, error_base_unusable};
  std::optional<BitmapImage> overlay = read_bitmap(overlay_file.bytes);
  if (!overlay) return {exit_error, error_overlay_unusable};
  std::uint32_t width = std::max(base->width, overlay->width);
  std::uint32_t height = std::max(base->height, overlay->height);
  std::uint64_t output_size = bitmap_file_size(width, height);
  if (output_size > std::numeric_limits<std::uint32_t>::max() ||
      output_size > output_budget(base_file.size() + overlay_file.bytes.size())) {
    return {exit_error, error_composed_size};
  }
  WriteBuffer scratch;
  prepare_bitmap_buffer(scratch, height, std::size_t{bytes_per_pixel} * width);
  OutputFile out = create_output_file(source_name + "-" + overlay_parts.name + ".bmp", folder);
  if (!out.created) return {exit_error, error_output_create};
  Placement at{static_cast<std::uint32_t>(*x), static_cast<std::uint32_t>(*y)};
  auto fill_row = [&](std::uint32_t row, std::uint8_t* pixels) {
    compose_row(*base, *overlay, at, width, row, pixels);
  };
  write_bitmap(out, composed_header(base_file, *base, width, height), height,
               std::size_t{bytes_per_pixel} * width, fill_row, scratch);
  return {finish_output(out) ? exit_success : exit_incomplete, {}};
}

}  // namespace kelp
