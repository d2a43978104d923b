// Writes the bundled sample files into the folder named by the first argument.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "builders.h"

using namespace kelp::test;

namespace {

std::uint8_t channel(double value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
}

// A 256-colour sunset gradient whose alpha fades out towards the top.
Picture sunset(std::uint16_t side) {
  std::vector<Rgba> palette;
  for (unsigned i = 0; i < 256; ++i) {
    double t = i / 255.0;
    palette.push_back({channel(255 * (1 - 0.3 * t)), channel(80 + 120 * t * t),
                       channel(40 + 200 * t), channel(128 * (0.25 + 0.75 * t))});
  }
  return make_picture(side, palette, [=](unsigned x, unsigned y) {
    double dx = x - side / 2.0, dy = y - side * 0.8;
    return std::min(255.0, std::sqrt(dx * dx + dy * dy) * 255.0 / side);
  });
}

// A 16-colour checkerboard of sea greens, fully opaque with a see-through border.
Picture tiles(std::uint16_t side) {
  std::vector<Rgba> palette;
  for (unsigned i = 0; i < 16; ++i) {
    palette.push_back({channel(20 + 8 * i), channel(120 + 8 * i), channel(110 + 4 * i),
                       static_cast<std::uint8_t>(i == 0 ? 0 : 128)});
  }
  return make_picture(side, palette, [=](unsigned x, unsigned y) {
    if (x == 0 || y == 0 || x + 1 == side || y + 1 == side) return 0u;
    return 1 + ((x / 4 + y / 4) % 2) * 7 + (x * y) % 7;
  });
}

// Rings of kelp-brown shades in 16 colours with graded alpha.
Picture rings(std::uint16_t side) {
  std::vector<Rgba> palette;
  for (unsigned i = 0; i < 16; ++i) {
    palette.push_back({channel(90 + 9 * i), channel(70 + 6 * i), channel(20 + 2 * i),
                       static_cast<std::uint8_t>(8 * i + 8)});
  }
  return make_picture(side, palette, [=](unsigned x, unsigned y) {
    double dx = x - side / 2.0, dy = y - side / 2.0;
    return static_cast<unsigned>(std::sqrt(dx * dx + dy * dy)) % 16;
  });
}

// A 256-colour plasma.
Picture plasma(std::uint16_t side) {
  std::vector<Rgba> palette;
  for (unsigned i = 0; i < 256; ++i) {
    double a = i * 6.2831853 / 256;
    palette.push_back({channel(128 + 127 * std::sin(a)), channel(128 + 127 * std::sin(a + 2.1)),
                       channel(128 + 127 * std::sin(a + 4.2)), 128});
  }
  return make_picture(side, palette, [=](unsigned x, unsigned y) {
    double v = std::sin(x / 5.0) + std::sin(y / 7.0) + std::sin((x + y) / 9.0);
    return static_cast<unsigned>((v + 3) / 6 * 255) & 0xFF;
  });
}

// A 128 x 96 sea: deep blue at the bottom row, lighter towards the top, with faint waves.
Image sea() {
  Image image{128, 96, {}};
  for (unsigned y = 0; y < image.height; ++y) {
    for (unsigned x = 0; x < image.width; ++x) {
      double wave = 12 * std::sin(x / 6.0 + y / 3.0);
      image.pixels.insert(image.pixels.end(), {channel(120 + y + wave), channel(60 + y + wave / 2),
                                               channel(10 + y / 3.0), 255});
    }
  }
  return image;
}

// A 48 x 48 sun whose alpha runs from 128 (opaque) at its centre to 0 at its rim.
Image sun() {
  Image image{48, 48, {}};
  for (unsigned y = 0; y < image.height; ++y) {
    for (unsigned x = 0; x < image.width; ++x) {
      double r = std::hypot(x - 23.5, y - 23.5) / 24;
      image.pixels.insert(image.pixels.end(), {channel(60 + 80 * r), channel(200 + 40 * r), 255,
                                               channel(128 * (1 - r))});
    }
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples <folder>\n");
    return 2;
  }
  std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  ByteVec junk = text_bytes("not a texture, passed over");
  ByteVec nested = package({tx4_record(rings(32)), tx8_record(plasma(64))});
  ByteVec nested_archive = archive({tx8_record(sunset(48)), tx4_record(tiles(16))});
  write_file(folder / "demo.img", package({tx8_record(sunset(64)), tx4_record(tiles(32)),
                                           mot_record(), nested, junk, nested_archive}));
  write_file(folder / "demo.dat", archive({mot_record(), package({tx8_record(plasma(128))}), junk,
                                           tx4_record(rings(64))}));
  write_file(folder / "base.bmp", bitmap_file(sea()));
  write_file(folder / "overlay.bmp", bitmap_file(sun()));
  return 0;
}
