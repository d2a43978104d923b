// Overlay compositing: the input holds a command line, the base file and the overlay file.
// The command line is drawn from the letters the options use, so it can name the overlay
// ("/bo.bmp") but no path outside the scratch directory's neighbourhood.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "overlay/overlay.h"
#include "scratch.h"

namespace {

constexpr char alphabet[] = " /xyb0123456789-+.ompt";

void write_overlay(kelp::Bytes bytes) {
  std::FILE* file = std::fopen("o.bmp", "wb");
  if (file == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelp::fuzz::enter_scratch_directory();
  return 0;
}

// Layout: command-line length (1 byte), base length (u32), command line, base, overlay.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelp::Bytes input(data, size);
  auto line_length = kelp::read_le<std::uint8_t>(input, 0);
  auto base_length = kelp::read_le<std::uint32_t>(input, 1);
  if (!line_length || !base_length || !kelp::fits(input, 5, *line_length)) return 0;
  std::string line;
  for (std::uint8_t byte : input.subspan(5, *line_length))
    line += alphabet[byte % (sizeof alphabet - 1)];
  kelp::Bytes rest = input.subspan(5 + *line_length);
  kelp::Bytes base = rest.first(std::min<std::size_t>(*base_length, rest.size()));
  write_overlay(rest.subspan(base.size()));
  kelp::compose_overlay(base, "base.bmp", line, kelp::CodePage::single_byte);
  kelp::fuzz::empty_scratch_directory();
  return 0;
}
