// Byte builders for the game's formats, shared by the tests and the sample generator. They are
// written from the format's description, independently of the code under test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelp::test {

using ByteVec = std::vector<std::uint8_t>;

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};

// A paletted square picture: palette in index order, indices row by row from the top row.
struct Picture {
  std::uint16_t side = 0;
  std::vector<Rgba> palette;
  std::vector<std::uint8_t> indices;
};

// Writes the bytes as a file; throws when it cannot.
void write_file(const std::filesystem::path& path, const ByteVec& bytes);

void put_u16(ByteVec& bytes, std::size_t at, std::uint16_t value);
void put_u32(ByteVec& bytes, std::size_t at, std::uint32_t value);
void append(ByteVec& bytes, const ByteVec& more);
ByteVec text_bytes(const std::string& text);

// Texture records: 16-byte header, palette at 16, index data right after the palette.
ByteVec tx4_record(const Picture& picture);
ByteVec tx8_record(const Picture& picture);

// The bitmap kelp must write for a picture: 54-byte header, rows bottom row first, BGRA pixels.
ByteVec expected_bitmap(const Picture& picture);
ByteVec bitmap_header(std::uint32_t width, std::uint32_t height);
// `bytes` with the u32 at `at` replaced by `value`.
ByteVec patched(ByteVec bytes, std::size_t at, std::uint32_t value);

// A package of the given entries: the slot table, then each entry from a sector boundary.
// The ending slot's start is the next free sector, as the game's packages have it.
ByteVec package(const std::vector<ByteVec>& entries);

// How archive entries are coded: by kelp's encoder, or as literals only (flag 0xFF before each
// eight bytes), which needs no encoder at all.
enum class Coding { encoder, literals };

ByteVec literal_coded(const ByteVec& bytes);

// A 32-bit bitmap: width x height pixels of 4 bytes (blue, green, red, alpha), bottom row
// first, after the plain 54-byte header, or after the 124-byte V5 header with bit-field masks
// that image editors write (pixel data at 138).
struct Image {
  std::uint32_t width = 0, height = 0;
  ByteVec pixels;
};
ByteVec bitmap_file(const Image& image);
ByteVec v5_bitmap_file(const Image& image);
// A 24-bit bitmap of the image's blue, green, red samples (bottom row first), rows padded.
ByteVec bitmap24_file(const Image& image);
// An image of varied colours and alphas (0 to 255).
Image varied_image(std::uint32_t width, std::uint32_t height, unsigned seed);

// A compressed archive: the count, the offset table, four unused bytes, then each entry as its
// coded length and coded data. The first entry starts at 8 + 4 * count.
ByteVec archive(const std::vector<ByteVec>& entries, Coding coding = Coding::encoder);

// A "MOT" record, which kelp passes over.
ByteVec mot_record();

// A package whose every level lists the next level twice (slots 0 and 2, with a "MOT" record
// between them so that the package signature holds), `levels` deep, around `inner`.
ByteVec fan_out(int levels, const ByteVec& inner);

// A picture of `side` with a palette of `colours` entries and indices from `pattern(x, y)`.
template <typename Pattern>
Picture make_picture(std::uint16_t side, std::vector<Rgba> palette, Pattern pattern) {
  Picture picture{side, std::move(palette), {}};
  picture.indices.reserve(std::size_t{side} * side);
  for (unsigned y = 0; y < side; ++y) {
    for (unsigned x = 0; x < side; ++x) {
      picture.indices.push_back(static_cast<std::uint8_t>(pattern(x, y)));
    }
  }
  return picture;
}

// A deterministic palette of `count` varied colours and alphas.
std::vector<Rgba> varied_palette(unsigned count, unsigned seed);

}  // namespace kelp::test
