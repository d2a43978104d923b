// Writes seed inputs for each fuzz target, made with the test byte-builders, into
// <folder>/<target>/.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "builders.h"
#include "containers/lzss.h"
#include "image_builders.h"

using namespace kelp::test;

namespace {

std::filesystem::path folder;

void seed(const std::string& target, const std::string& name, const ByteVec& bytes) {
  std::filesystem::create_directories(folder / target);
  std::ofstream out(folder / target / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) std::exit(1);
}

ByteVec prefixed(std::uint8_t first, const ByteVec& bytes) {
  ByteVec out{first};
  append(out, bytes);
  return out;
}

// An overlay input: command line drawn from " /xyb0123456789-+.ompt", then base and overlay.
ByteVec overlay_input(const std::string& line, const ByteVec& base, const ByteVec& overlay) {
  const std::string alphabet = " /xyb0123456789-+.ompt";
  ByteVec out{static_cast<std::uint8_t>(line.size()), 0, 0, 0, 0};
  put_u32(out, 1, static_cast<std::uint32_t>(base.size()));
  for (char c : line) out.push_back(static_cast<std::uint8_t>(alphabet.find(c)));
  append(out, base);
  append(out, overlay);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  folder = argv[1];
  Picture small4 =
      make_picture(4, varied_palette(16, 1), [](unsigned x, unsigned y) { return x + y; });
  Picture odd4 =
      make_picture(5, varied_palette(16, 2), [](unsigned x, unsigned y) { return x * y; });
  Picture small8 =
      make_picture(8, varied_palette(256, 3), [](unsigned x, unsigned y) { return x * 8 + y; });
  ByteVec tx4 = tx4_record(small4), tx8 = tx8_record(small8);
  ByteVec nested = package({tx8, mot_record(), tx4_record(odd4)});
  ByteVec dat = archive({tx4, package({tx8}), mot_record(), archive({tx4})});

  seed("package", "textures", package({tx4, tx8, mot_record()}));
  seed("package", "nested", package({mot_record(), nested, tx4}));
  seed("package", "with-archive", package({dat, tx8}));
  seed("package", "literal-archive", package({archive({tx8, tx4}, Coding::literals)}));

  seed("archive", "mixed", dat);
  seed("archive", "literals", archive({tx4, nested}, Coding::literals));
  seed("archive", "package-with-archive", archive({package({tx4, archive({tx8})})}));

  seed("lzss", "texture", kelp::lzss_encode(tx8));
  seed("lzss", "package", kelp::lzss_encode(nested));
  seed("lzss", "literals", literal_coded(tx4));
  seed("lzss", "worked",
       {0xFF, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x0F, 'Q', 'R', 'S', 'T', 0x00, 0x02});

  seed("texture", "tx4", prefixed(0, tx4));
  seed("texture", "tx4-odd", prefixed(0, tx4_record(odd4)));
  seed("texture", "tx8", prefixed(1, tx8));

  ByteVec base = bitmap_file(varied_image(6, 5, 1)), over = bitmap_file(varied_image(3, 4, 2));
  seed("overlay", "plain", overlay_input("/x2 /y1 /bo.bmp", base, over));
  seed("overlay", "v5", overlay_input("/bo.bmp /y-1", v5_bitmap_file(varied_image(4, 4, 3)), over));
  seed("overlay", "wide", overlay_input("/x 9 /bo.bmp", base, bitmap_file(varied_image(12, 2, 4))));

  std::vector<Rgba> pixels(16, Rgba{10, 20, 30, 255});
  pixels[3] = {200, 0, 0, 0};
  seed("image", "rgba-png", prefixed(3, rgba_png(4, pixels)));
  seed("image", "indexed-png",
       prefixed(64 + 3,
                png_file({4, 4, 3, 4, ByteVec(8, 0x12), {{1, 2, 3, 4}, {5, 6, 7, 8}}, "raw"})));
  seed("image", "bmp", prefixed(3, bitmap_file(varied_image(4, 4, 5))));
  seed("image", "v5-bmp", prefixed(128 + 3, v5_bitmap_file(varied_image(4, 4, 6))));

  seed("rebuild", "package", prefixed(1, package({tx4, mot_record(), tx8})));
  seed("rebuild", "package-slot-1", prefixed(3, package({tx4, nested})));
  seed("rebuild", "archive", prefixed(0, dat));
  return 0;
}
