// Overlay compositing: a 32-bit bitmap (the overlay, named by /b) laid over the source bitmap
// (the base) at /x, /y, blended by the overlay's alpha on a scale where 128 is opaque.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/path.h"

namespace kelp {

constexpr std::string_view error_no_overlay = "\tError\tcan't found add bmp file\n";
constexpr std::string_view error_overlay_open = "\tError\tcan't open add bmp file\n";
constexpr std::string_view error_output_create = "\tError\tcan't create bmp file\n";
constexpr std::string_view error_offset_range = "\tError\toffset out of range\n";
constexpr std::string_view error_base_unusable = "\tError\tcan't use base bmp file\n";
constexpr std::string_view error_overlay_unusable = "\tError\tcan't use add bmp file\n";
constexpr std::string_view error_composed_size = "\tError\tcomposed bmp file too large\n";

// The offset after the first `option` ("/x" or "/y") in the command line: optional white space,
// an optional sign and decimal digits, as scanf's "%d" reads them. Absent, or without digits: 0.
// Nothing when the number does not fit 32 bits.
std::optional<std::int32_t> offset_option(std::string_view command_line, std::string_view option);

// The overlay path: what follows the first "/b", up to the last space after it (or to the end
// when no space follows), taken literally. Nothing when "/b" does not occur.
std::optional<std::string> overlay_option(std::string_view command_line);

// A 32-bit bitmap as the compositor reads it: pixel (x, y) at 4 * (y * width + x) in `pixels`,
// row 0 being the bottom row.
struct BitmapImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Bytes pixels;
  bool plain_header = false;  // the 54-byte form kelp writes, pixels right after it
};

// Reads an uncompressed (or standard bit-field) 32-bit bottom-up bitmap whose pixels lie wholly
// inside the file; nothing for anything else.
std::optional<BitmapImage> read_bitmap(Bytes file);

// One channel blended as the game does, in 16-bit arithmetic: (base * (128 - alpha) + overlay *
// alpha) >> 7, which wraps for alpha above 128.
constexpr std::uint8_t blend_channel(std::uint32_t base, std::uint32_t overlay,
                                     std::uint32_t alpha) {
  auto weight = static_cast<std::uint16_t>(128 - alpha);
  auto sum = static_cast<std::uint16_t>(base * weight + overlay * alpha);
  return static_cast<std::uint8_t>(sum >> 7);
}

struct OverlayRun {
  int exit_code = 0;
  std::string_view error_line;  // printed by the caller when not empty
};

// The composed bitmap is refused when it would pass 4 GiB, or the output budget for the two
// inputs' sizes (a small hostile pair cannot make kelp write gigabytes).
// Composes the base file `base` (the source, at `source_path`) with the overlay named in
// `command_line`, and writes "<source name>-<overlay name>.bmp" in `folder` (empty: the current
// folder).
OverlayRun compose_overlay(Bytes base, const std::string& source_path,
                           std::string_view command_line, CodePage code_page,
                           const std::string& folder = {});

}  // namespace kelp
