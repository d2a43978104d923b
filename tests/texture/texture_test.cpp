#include "texture/texture.h"

#include <gtest/gtest.h>

#include <array>

#include "builders.h"
#include "files.h"

namespace kelp {
namespace {

using test::ByteVec;
using test::Picture;
using test::Rgba;

TEST(ReorderPalette, PutsStoredBlocksIntoIndexOrderAndSwapsRedAndBlue) {
  std::array<std::uint8_t, tx8_palette_size> palette{};
  for (unsigned position = 0; position < 256; ++position) {
    palette[4 * position + 0] = static_cast<std::uint8_t>(position);  // red: where it was stored
    palette[4 * position + 1] = 0x11;
    palette[4 * position + 2] = 0x22;
    palette[4 * position + 3] = static_cast<std::uint8_t>(~position);
  }
  const auto stored = palette;
  reorder_palette(palette);
  auto stored_position_of = [&](unsigned index) {
    EXPECT_EQ(palette[4 * index + 0], 0x22);  // blue first
    EXPECT_EQ(palette[4 * index + 1], 0x11);
    EXPECT_EQ(palette[4 * index + 3], static_cast<std::uint8_t>(~palette[4 * index + 2]));
    return palette[4 * index + 2];
  };
  EXPECT_EQ(stored_position_of(8), 16);
  EXPECT_EQ(stored_position_of(16), 8);
  EXPECT_EQ(stored_position_of(23), 15);
  EXPECT_EQ(stored_position_of(40), 48);
  EXPECT_EQ(stored_position_of(7), 7);
  EXPECT_EQ(stored_position_of(24), 24);
  EXPECT_EQ(stored_position_of(255), 255);
  EXPECT_EQ(stored_position_of(232), 240);
  reorder_palette(palette);
  EXPECT_EQ(palette, stored);
}

// Converts records in a scratch directory and reads back what was written.
class Convert : public ::testing::Test {
 protected:
  Outcome tx4(const std::string& name, const ByteVec& record) {
    return convert_tx4(name, record, output);
  }
  Outcome tx8(const std::string& name, const ByteVec& record) {
    return convert_tx8(name, record, output);
  }
  std::map<std::string, ByteVec> written() { return test::files_in(dir.path); }

  test::TempDir dir;
  test::InDirectory inside{dir.path};
  TextureOutput output;
};

TEST_F(Convert, Tx4TakesTheLowNibbleFirst) {
  Picture picture{2, test::varied_palette(16, 4), {1, 2, 3, 4}};
  ByteVec record = test::tx4_record(picture);
  ASSERT_EQ(record[16 + 64], 0x21);
  ASSERT_EQ(tx4("pic", record), Outcome::written);
  ByteVec bmp = test::read_file("pic.bmp");
  ASSERT_EQ(bmp.size(), 54u + 16u);
  // The top row is written last: pixel 0 (entry 1) then pixel 1 (entry 2).
  Rgba one = picture.palette[1], two = picture.palette[2];
  EXPECT_EQ(ByteVec(bmp.begin() + 62, bmp.end()),
            (ByteVec{one.b, one.g, one.r, one.a, two.b, two.g, two.r, two.a}));
  EXPECT_EQ(bmp, test::expected_bitmap(picture));
}

TEST_F(Convert, OddSidesRunNibblesAcrossRows) {
  for (std::uint16_t side : {1, 3, 7, 33}) {
    Picture picture =
        test::make_picture(side, test::varied_palette(16, side),
                           [](unsigned x, unsigned y) { return (x * 3 + y * 5) % 16; });
    std::string name = "odd" + std::to_string(side);
    ASSERT_EQ(tx4(name, test::tx4_record(picture)), Outcome::written);
    EXPECT_EQ(test::read_file(name + ".bmp"), test::expected_bitmap(picture)) << side;
  }
  EXPECT_EQ(test::read_file("odd1.bmp").size(), 58u);
}

TEST_F(Convert, Tx8PixelsAndRowOrder) {
  Picture picture{2, test::varied_palette(256, 9), {0, 1, 2, 3}};
  picture.palette[0] = {0x10, 0x20, 0x30, 0x80};
  ASSERT_EQ(tx8("rows", test::tx8_record(picture)), Outcome::written);
  ByteVec bmp = test::read_file("rows.bmp");
  EXPECT_EQ(bmp, test::expected_bitmap(picture));
  // Stored row 1 (entries 2, 3) comes first; entry 0 shows as 0x30 0x20 0x10 0x80.
  EXPECT_EQ(ByteVec(bmp.begin() + 62, bmp.begin() + 66), (ByteVec{0x30, 0x20, 0x10, 0x80}));
  Picture every_index = test::make_picture(16, test::varied_palette(256, 2),
                                           [](unsigned x, unsigned y) { return y * 16 + x; });
  ASSERT_EQ(tx8("all", test::tx8_record(every_index)), Outcome::written);
  EXPECT_EQ(test::read_file("all.bmp"), test::expected_bitmap(every_index));
}

TEST_F(Convert, LargeTexturesAreWrittenInPieces) {
  // 1500 x 1500 x 4 bytes is more than one write piece.
  Picture picture = test::make_picture(1500, test::varied_palette(256, 3),
                                       [](unsigned x, unsigned y) { return (x ^ y) & 0xFF; });
  ASSERT_EQ(tx8("big", test::tx8_record(picture)), Outcome::written);
  EXPECT_TRUE(test::read_file("big.bmp") == test::expected_bitmap(picture));
}

TEST_F(Convert, RecordIsLeftUnchangedSoRepeatsComeOutTheSame) {
  Picture picture = test::make_picture(8, test::varied_palette(256, 5),
                                       [](unsigned x, unsigned y) { return x * 8 + y + 4; });
  ByteVec record = test::tx8_record(picture);
  const ByteVec original = record;
  ASSERT_EQ(tx8("twice", record), Outcome::written);
  ASSERT_EQ(tx8("twice", record), Outcome::written);
  EXPECT_EQ(record, original);
  EXPECT_EQ(test::read_file("twice.bmp"), test::expected_bitmap(picture));
  EXPECT_EQ(test::read_file("twice_0001.bmp"), test::expected_bitmap(picture));
}

TEST_F(Convert, EmptyOversizedAndDamagedRecordsWriteNothing) {
  Picture picture =
      test::make_picture(4, test::varied_palette(16, 1), [](unsigned x, unsigned) { return x; });
  ByteVec good = test::tx4_record(picture);

  ByteVec empty = good;
  test::put_u16(empty, 4, 0);
  EXPECT_EQ(tx4("empty", empty), Outcome::skipped);

  ByteVec oversized = good;
  test::put_u16(oversized, 4, 32768);
  EXPECT_EQ(tx4("oversized", oversized), Outcome::skipped);

  ByteVec short_header(good.begin(), good.begin() + 15);
  EXPECT_EQ(tx4("header", short_header), Outcome::skipped);

  ByteVec palette_past_end = good;
  test::put_u32(palette_past_end, 8, static_cast<std::uint32_t>(good.size() - 63));
  EXPECT_EQ(tx4("palette", palette_past_end), Outcome::skipped);

  ByteVec huge_offset = good;
  test::put_u32(huge_offset, 12, 0xFFFFFFFF);
  EXPECT_EQ(tx4("offset", huge_offset), Outcome::skipped);

  ByteVec indices_short(good.begin(), good.end() - 1);
  EXPECT_EQ(tx4("indices", indices_short), Outcome::skipped);
  EXPECT_TRUE(written().empty());

  // Index data that ends exactly at the buffer's end is whole.
  EXPECT_EQ(tx4("exact", good), Outcome::written);
  EXPECT_EQ(written().size(), 1u);
}

TEST_F(Convert, Tx4ReadsOnlyHalfAByteForAnOddLastPixel) {
  Picture picture = test::make_picture(3, test::varied_palette(16, 7),
                                       [](unsigned x, unsigned y) { return x + y; });
  ByteVec record = test::tx4_record(picture);
  ASSERT_EQ(record.size(), 16u + 64u + 5u);
  EXPECT_EQ(tx4("tight", record), Outcome::written);
  EXPECT_EQ(test::read_file("tight.bmp"), test::expected_bitmap(picture));
}

}  // namespace
}  // namespace kelp
