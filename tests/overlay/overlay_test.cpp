#include "overlay/overlay.h"

#include <gtest/gtest.h>

#include "builders.h"

namespace kelp {
namespace {

using test::ByteVec;

TEST(OffsetOption, ReadsLikeScanfDecimal) {
  EXPECT_EQ(offset_option("/x8", "/x"), 8);
  EXPECT_EQ(offset_option("/bover.bmp /x 12 /y0", "/x"), 12);
  EXPECT_EQ(offset_option("/x\t 7", "/x"), 7);
  EXPECT_EQ(offset_option("/x-3", "/x"), -3);
  EXPECT_EQ(offset_option("/y+5", "/y"), 5);
  EXPECT_EQ(offset_option("/x12abc", "/x"), 12);
  EXPECT_EQ(offset_option("/x00000000000000000009", "/x"), 9);
  EXPECT_EQ(offset_option("/x1 /x2", "/x"), 1);  // the first occurrence counts
  EXPECT_EQ(offset_option("/X12", "/x"), 0);     // options are case-sensitive
  EXPECT_EQ(offset_option("/bfoo/xy.bmp /x4", "/x"), 0);
  for (std::string_view no_number : {"", "/x", "/x ", "/xabc", "/x-", "/x+ 3", "/x- 3"}) {
    EXPECT_EQ(offset_option(no_number, "/x"), 0) << no_number;
  }
}

TEST(OffsetOption, RefusesNumbersBeyond32Bits) {
  EXPECT_EQ(offset_option("/x2147483647", "/x"), 2147483647);
  EXPECT_EQ(offset_option("/x-2147483648", "/x"), -2147483647 - 1);
  EXPECT_EQ(offset_option("/x2147483648", "/x"), std::nullopt);
  EXPECT_EQ(offset_option("/x-2147483649", "/x"), std::nullopt);
  EXPECT_EQ(offset_option("/y99999999999999999999999", "/y"), std::nullopt);
}

TEST(OverlayOption, RunsToTheLastSpace) {
  EXPECT_EQ(overlay_option("/bover.bmp"), "over.bmp");
  EXPECT_EQ(overlay_option("/bover.bmp "), "over.bmp");
  EXPECT_EQ(overlay_option("/x8 /bover.bmp /y4"), "over.bmp");
  EXPECT_EQ(overlay_option("/bover.bmp /x8 /y4"), "over.bmp /x8");
  EXPECT_EQ(overlay_option("/bmy over.bmp /y0"), "my over.bmp");
  EXPECT_EQ(overlay_option("/b\"a b.bmp\" /y1"), "\"a b.bmp\"");  // quotes stay
  EXPECT_EQ(overlay_option("/bover.bmp\t/y4"), "over.bmp\t/y4");  // tabs are no spaces
  EXPECT_EQ(overlay_option("/x1 /y2"), std::nullopt);
  EXPECT_EQ(overlay_option("/B over.bmp"), std::nullopt);
}

TEST(Blend, WorkedValues) {
  struct Row {
    unsigned alpha, base, overlay, result;
  };
  for (Row row : {Row{0, 255, 0, 255}, Row{128, 255, 0, 0}, Row{128, 0, 255, 255},
                  Row{64, 200, 100, 150}, Row{129, 10, 20, 20}, Row{200, 100, 100, 100},
                  Row{255, 0, 255, 252}, Row{255, 255, 0, 2}}) {
    EXPECT_EQ(blend_channel(row.base, row.overlay, row.alpha), row.result)
        << row.alpha << " " << row.base << " " << row.overlay;
  }
}

TEST(ReadBitmap, AcceptsPlainAndEditorBitmaps) {
  test::Image image = test::varied_image(3, 2, 1);
  auto plain_file = test::bitmap_file(image);
  auto plain = read_bitmap(plain_file);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->width, 3u);
  EXPECT_EQ(plain->height, 2u);
  EXPECT_TRUE(plain->plain_header);
  EXPECT_EQ(ByteVec(plain->pixels.begin(), plain->pixels.end()), image.pixels);
  auto v5_file = test::v5_bitmap_file(image);
  auto v5 = read_bitmap(v5_file);
  ASSERT_TRUE(v5);
  EXPECT_FALSE(v5->plain_header);
  EXPECT_EQ(ByteVec(v5->pixels.begin(), v5->pixels.end()), image.pixels);
  // Plain pixels ignore the masks a larger header holds, even ones that make no sense.
  EXPECT_TRUE(read_bitmap(test::patched(test::patched(v5_file, 30, 0), 66, 0x0F0F0000)));
  // Bit fields after a 40-byte header, with three masks.
  ByteVec fields = test::bitmap_header(3, 2);
  test::put_u32(fields, 10, 66), test::put_u32(fields, 30, 3);
  fields.resize(66);
  test::put_u32(fields, 54, 0x00FF0000), test::put_u32(fields, 58, 0x0000FF00),
      test::put_u32(fields, 62, 0xFF);
  test::append(fields, image.pixels);
  EXPECT_TRUE(read_bitmap(fields));
  EXPECT_TRUE(read_bitmap(test::bitmap_header(0, 5)));  // no pixels at all
}

TEST(ReadBitmap, RefusesOtherForms) {
  ByteVec good = test::bitmap_file(test::varied_image(4, 4, 2));
  auto refused = [&](auto change) {
    ByteVec file = good;
    change(file);
    return !read_bitmap(file).has_value();
  };
  EXPECT_TRUE(refused([](ByteVec& f) { f[0] = 'X'; }));
  EXPECT_TRUE(refused([](ByteVec& f) { test::put_u16(f, 28, 24); }));  // 24 bits per pixel
  EXPECT_TRUE(refused([](ByteVec& f) { test::put_u32(f, 30, 1); }));   // run-length coded
  EXPECT_TRUE(refused([](ByteVec& f) { test::put_u32(f, 30, 3); }));   // bit fields, masks 0
  EXPECT_TRUE(refused([](ByteVec& f) { test::put_u32(f, 14, 12); }));  // an old core header
  EXPECT_TRUE(refused([](ByteVec& f) { test::put_u32(f, 22, 0xFFFFFFFC); }));  // top-down
  EXPECT_TRUE(refused([](ByteVec& f) { test::put_u32(f, 18, 0x80000000); }));  // negative width
  EXPECT_TRUE(refused([](ByteVec& f) { f.pop_back(); }));                      // pixels cut short
  EXPECT_TRUE(
      refused([](ByteVec& f) { test::put_u32(f, 10, 0xFFFFFFF0); }));  // pixels past the end
  EXPECT_TRUE(
      refused([](ByteVec& f) { test::put_u32(f, 18, 0x10000), test::put_u32(f, 22, 0x10000); }));
  EXPECT_TRUE(refused([](ByteVec& f) { f.resize(53); }));
  EXPECT_FALSE(refused([](ByteVec&) {}));
}

}  // namespace
}  // namespace kelp
