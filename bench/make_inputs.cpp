// Writes the large deterministic inputs of the benchmark script into the folder named by the
// first argument: big.img, many.dat, huge.dat, base.bmp and overlay.bmp.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "builders.h"
#include "containers/lzss.h"

using namespace kelp::test;

namespace {

std::uint32_t state = 12345;
unsigned next_random(unsigned below) {
  state = state * 1664525u + 1013904223u;
  return (state >> 8) % below;
}

// A texture-like picture: smooth gradients with some noise and tiles, as game textures are.
Picture texture(unsigned side, unsigned colours) {
  unsigned seed = next_random(1000);
  return make_picture(static_cast<std::uint16_t>(side), varied_palette(colours, seed),
                      [=](unsigned x, unsigned y) {
                        unsigned smooth = (x * 3 + y * 5) / (1 + side / 64);
                        unsigned tile = ((x / 8) ^ (y / 8)) & 3;
                        return (smooth + tile * 7 + ((x * y + seed) % 3)) % colours;
                      });
}

ByteVec random_texture_record(unsigned min_side_log2, unsigned max_side_log2) {
  unsigned side = 1u << (min_side_log2 + next_random(max_side_log2 - min_side_log2 + 1));
  return next_random(2) ? tx8_record(texture(side, 256)) : tx4_record(texture(side, 16));
}

// Records of sides 16 to 512 until about `bytes` of them, every twentieth entry a "MOT" record.
std::vector<ByteVec> texture_entries(std::size_t bytes) {
  std::vector<ByteVec> entries;
  for (std::size_t total = 0; total < bytes;) {
    entries.push_back(entries.size() % 20 == 19 ? mot_record() : random_texture_record(4, 9));
    total += (entries.back().size() + 2047) / 2048 * 2048;
  }
  return entries;
}

// About 250 MiB: 56 MiB of textures, then nested packages of 64 and 124 MiB. Every entry starts
// below the 128 MiB that a slot's 16-bit sector field reaches.
ByteVec big_img() {
  std::vector<ByteVec> entries = texture_entries(std::size_t{56} << 20);
  entries.push_back(package(texture_entries(std::size_t{64} << 20)));
  entries.push_back(package(texture_entries(std::size_t{124} << 20)));
  return package(entries);
}

ByteVec many_dat() {
  std::vector<ByteVec> entries;
  for (int i = 0; i < 4000; ++i) entries.push_back(random_texture_record(4, 6));
  return archive(entries);
}

// Entries that decode to nearly 32 MiB: TX8 textures of side 5700, and packages of textures.
ByteVec huge_dat() {
  std::vector<ByteVec> entries;
  entries.push_back(tx8_record(texture(5700, 256)));
  entries.push_back(package(texture_entries(std::size_t{31} << 20)));
  entries.push_back(tx8_record(texture(5600, 256)));
  entries.push_back(package(texture_entries(std::size_t{31} << 20)));
  return archive(entries);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_inputs <folder>\n");
    return 2;
  }
  std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  write_file(folder / "big.img", big_img());
  write_file(folder / "many.dat", many_dat());
  write_file(folder / "huge.dat", huge_dat());
  write_file(folder / "base.bmp", bitmap_file(varied_image(4096, 4096, 1)));
  write_file(folder / "overlay.bmp", bitmap_file(varied_image(4096, 4096, 2)));
  return 0;
}
