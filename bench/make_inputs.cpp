// Writes the large deterministic inputs of the benchmark script into the folder named by the
// first argument: big.img, many.dat, huge.dat, few.dat, base.bmp and overlay.bmp, and big.rows,
// the PNG rows of big.img's textures for the PNG floor.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "builders.h"
#include "containers/lzss.h"
#include "containers/walk.h"
#include "texture/png.h"

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

// Four entries of a TX8 texture of side 2560 each, the rest of the entry zeros, so that each
// decodes to just under 32 MiB: the walk's serial decoding at its largest.
ByteVec few_dat() {
  constexpr std::size_t entry_size = (std::size_t{32} << 20) - 4096;
  std::vector<ByteVec> entries;
  for (int i = 0; i < 4; ++i) {
    entries.push_back(tx8_record(texture(2560, 256)));
    entries.back().resize(entry_size, 0);
  }
  return archive(entries);
}

void put(ByteVec& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The chunks a texture's indexed PNG must carry besides its pixels: signature, IHDR, PLTE,
// tRNS where some alpha is not opaque, the tEXt chunk that tells the alpha's scale, the IDAT
// chunk's frame and IEND.
std::uint32_t png_frame_bytes(const kelp::TextureRecord& texture) {
  kelp::Palette palette = kelp::palette_in_index_order(texture);
  std::size_t colours = texture.colours();
  bool console = std::all_of(palette.begin(), palette.begin() + colours,
                             [](const kelp::Colour& c) { return c.alpha <= 128; });
  std::size_t transparent = 0;
  for (std::size_t i = 0; i < colours; ++i) {
    std::uint8_t alpha = console ? kelp::alpha_to_file(palette[i].alpha) : palette[i].alpha;
    if (alpha != 255) transparent = i + 1;
  }
  constexpr std::size_t chunk = 12;  // length, type, CRC
  std::size_t text = kelp::alpha_keyword.size() + 1 + (console ? 6 : 3);
  return static_cast<std::uint32_t>(8 + (chunk + 13) + (chunk + 3 * colours) +
                                    (transparent ? chunk + transparent : 0) + (chunk + text) +
                                    chunk + chunk);
}

// Every texture of the package as the PNG floor takes it: its name, side, bits per pixel, the
// bytes of its PNG's other chunks, and its PNG rows (4-bit pixels first pixel high, each row
// starting on a byte), without filter bytes.
ByteVec png_rows(const ByteVec& img, const std::string& name) {
  ByteVec out;
  auto add = [&](const kelp::Entry& entry) {
    if ((entry.kind != kelp::EntryKind::tx4 && entry.kind != kelp::EntryKind::tx8) ||
        entry.texture.side == 0)
      return;
    const kelp::TextureRecord& t = entry.texture;
    std::uint32_t row_bytes = t.bits_per_index == 4 ? (t.side + 1) / 2 : t.side;
    ByteVec rows(std::size_t{row_bytes} * t.side, 0);
    for (std::uint64_t y = 0, k = 0; y < t.side; ++y) {
      for (std::uint32_t x = 0; x < t.side; ++x, ++k) {
        std::uint8_t& b = rows[y * row_bytes + x * t.bits_per_index / 8];
        b = t.bits_per_index == 8
                ? t.indices[k]
                : static_cast<std::uint8_t>(b | ((t.indices[k / 2] >> (k % 2 * 4)) & 15)
                                                    << (x % 2 ? 0 : 4));
      }
    }
    put(out, static_cast<std::uint32_t>(entry.name.size()));
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    put(out, t.side);
    put(out, t.bits_per_index);
    put(out, png_frame_bytes(t));
    put(out, static_cast<std::uint32_t>(rows.size()));
    out.insert(out.end(), rows.begin(), rows.end());
  };
  kelp::walk_source(kelp::ContainerKind::package, name, img, {add}, kelp::limits_for(img.size()));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_inputs <folder>\n");
    return 2;
  }
  std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  ByteVec big = big_img();
  write_file(folder / "big.img", big);
  write_file(folder / "big.rows", png_rows(big, "big"));
  write_file(folder / "many.dat", many_dat());
  write_file(folder / "huge.dat", huge_dat());
  write_file(folder / "few.dat", few_dat());
  write_file(folder / "base.bmp", bitmap_file(varied_image(4096, 4096, 1)));
  write_file(folder / "overlay.bmp", bitmap_file(varied_image(4096, 4096, 2)));
  return 0;
}
