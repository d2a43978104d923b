// PNG export end to end: the files kelp writes with --png, read back with libspng.
#include <gtest/gtest.h>

#include "builders.h"
#include "files.h"
#include "png_files.h"

namespace kelp::test {
namespace {

std::uint8_t scaled(std::uint8_t alpha) {
  return static_cast<std::uint8_t>((alpha * 255 + 64) / 128);
}

struct Case {
  bool tx8;
  std::uint16_t side;
  std::vector<std::uint8_t> alphas;  // the first palette alphas; the rest are 128
  bool raw;                          // some alpha is above 128
  std::size_t transparency_entries;
};

Picture picture_for(const Case& c) {
  unsigned colours = c.tx8 ? 256 : 16;
  std::vector<Rgba> palette = varied_palette(colours, c.side);
  for (std::size_t i = 0; i < colours; ++i) palette[i].a = i < c.alphas.size() ? c.alphas[i] : 128;
  return make_picture(c.side, palette,
                      [=](unsigned x, unsigned y) { return (x * 7 + y * 3) % colours; });
}

// The pixel at (x, y) of a bitmap kelp wrote: bottom row first, blue, green, red, alpha.
Rgba bitmap_pixel(const ByteVec& bmp, std::uint32_t side, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = bmp.data() + 54 + 4 * ((side - 1 - y) * side + x);
  return {p[2], p[1], p[0], p[3]};
}

TEST(Png, IndexedWithTheRecordsPaletteAndIndices) {
  const std::vector<Case> cases{
      {false, 1, {0}, false, 1},           {false, 3, {0, 64, 127, 128}, false, 3},
      {false, 16, {}, false, 0},           {true, 2, {129, 255, 0}, true, 256},
      {true, 5, {128, 128, 64}, false, 3}, {true, 16, {}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.side) + (c.tx8 ? " TX8" : " TX4"));
    Picture picture = picture_for(c);
    TempDir dir;
    write_file(dir.path / "t.img", package({c.tx8 ? tx8_record(picture) : tx4_record(picture)}));
    RunResult run = run_kelp(dir.path, {kelp_binary(), "--png", "t.img"});
    EXPECT_EQ(run.out, banner_text());
    EXPECT_EQ(run.exit_code, 0);
    ASSERT_EQ(run_kelp(dir.path, {kelp_binary(), "t.img"}).exit_code, 0);
    DecodedPng png = decode_png(read_file(dir.path / "t_0000.png"));
    ByteVec bmp = read_file(dir.path / "t_0000.bmp");
    EXPECT_EQ(png.width, c.side);
    EXPECT_EQ(png.height, c.side);
    EXPECT_EQ(png.colour_type, 3u);
    EXPECT_EQ(png.bit_depth, c.tx8 ? 8u : 4u);
    EXPECT_EQ(png.interlace, 0u);
    EXPECT_EQ(png.transparency_entries, c.transparency_entries);
    ASSERT_EQ(png.palette.size(), picture.palette.size());
    for (std::size_t i = 0; i < png.palette.size(); ++i) {
      Rgba want = picture.palette[i];
      if (!c.raw) want.a = scaled(want.a);
      EXPECT_EQ(png.palette[i], want) << i;
    }
    std::vector<std::pair<std::string, std::string>> texts{
        {"kelp:alpha", c.raw ? "raw" : "scaled"}};
    EXPECT_EQ(png.texts, texts);
    EXPECT_EQ(png.indices, picture.indices);
    for (std::uint32_t y = 0; y < c.side; ++y) {
      for (std::uint32_t x = 0; x < c.side; ++x) {
        Rgba want = bitmap_pixel(bmp, c.side, x, y);
        if (!c.raw) want.a = scaled(want.a);
        EXPECT_EQ(png.pixels[y * c.side + x], want);
      }
    }
  }
}

TEST(Png, NamesFoldersAndDamagedRecordsAsForBitmaps) {
  TempDir dir;
  Picture picture = picture_for({false, 4, {}, false, 0});
  ByteVec damaged = tx4_record(picture);
  put_u32(damaged, 12, 0xFFFFFF00);
  ByteVec empty = tx4_record(picture);
  put_u16(empty, 4, 0);
  write_file(dir.path / "s.img", package({tx4_record(picture), damaged, empty}));
  fs::create_directory(dir.path / "out");
  write_file(dir.path / "out" / "s_0000.png", text_bytes("work"));
  RunResult run = run_kelp(dir.path, {kelp_binary(), "s.img", "--png", "-o", "out"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "kelp: s_0001: index data runs past the end of its container; skipped\n");
  auto files = files_in(dir.path / "out");
  EXPECT_EQ(files.size(), 2u);
  EXPECT_EQ(files["s_0000.png"], text_bytes("work"));
  EXPECT_EQ(decode_png(files["s_0000_0001.png"]).indices, picture.indices);
}

}  // namespace
}  // namespace kelp::test
