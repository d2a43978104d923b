// The record's stored forms (TX8 palette blocks, TX4 nibbles, odd sides) against pictures built
// independently, and the bitmaps written from them.
#include "texture/texture.h"

#include <gtest/gtest.h>

#include "builders.h"
#include "files.h"

namespace kelp {
namespace {

using test::ByteVec;
using test::Picture;

struct RecordCase {
  Picture picture;
  bool tx4;
};

std::vector<RecordCase> record_cases() {
  auto pattern = [](unsigned x, unsigned y) { return (x * 3 + y * 5) % 16; };
  std::vector<RecordCase> cases;
  for (std::uint16_t side : {1, 2, 3, 7, 33}) {  // odd sides run nibbles across rows
    cases.push_back({test::make_picture(side, test::varied_palette(16, side), pattern), true});
  }
  cases.push_back({test::make_picture(16, test::varied_palette(256, 2),
                                      [](unsigned x, unsigned y) { return y * 16 + x; }),
                   false});
  // 1500 x 1500 x 4 bytes is more than one write piece.
  cases.push_back({test::make_picture(1500, test::varied_palette(256, 3),
                                      [](unsigned x, unsigned y) { return (x ^ y) & 0xFF; }),
                   false});
  return cases;
}

TEST(TextureRecord, LoadsStoresAndWritesEveryStoredForm) {
  test::TempDir dir;
  WriteBuffer scratch;
  for (const RecordCase& c : record_cases()) {
    SCOPED_TRACE(testing::Message() << "side " << c.picture.side << (c.tx4 ? " TX4" : " TX8"));
    ByteVec record = c.tx4 ? test::tx4_record(c.picture) : test::tx8_record(c.picture);
    Result<TextureRecord> texture = locate_texture(record, c.tx4 ? tx4_index_bits : tx8_index_bits);
    ASSERT_TRUE(texture);
    TexturePixels pixels = load_texture(*texture);
    ASSERT_EQ(pixels.palette.size(), c.picture.palette.size());
    for (std::size_t i = 0; i < pixels.palette.size(); ++i) {
      const test::Rgba& want = c.picture.palette[i];
      ASSERT_EQ(pixels.palette[i], (Colour{want.r, want.g, want.b, want.a})) << i;
    }
    ASSERT_EQ(pixels.indices, c.picture.indices);
    ByteVec stored(record.size(), 0xEE);
    std::copy(record.begin(), record.begin() + record_header_size, stored.begin());
    if (c.tx4 && c.picture.side % 2) stored.back() = record.back();  // its high nibble is kept
    ASSERT_TRUE(store_texture(stored, *texture, pixels));
    EXPECT_EQ(stored, record);
    OutputFile out = create_output_file("t.bmp", dir.path.string());
    ASSERT_TRUE(write_texture_file(out, *texture, scratch));
    EXPECT_TRUE(test::read_file(out.name) == test::expected_bitmap(c.picture));
    std::filesystem::remove(out.name);
  }
}

TEST(TextureRecord, RefusesPartsOutsideTheBuffer) {
  Picture picture =
      test::make_picture(4, test::varied_palette(16, 1), [](unsigned x, unsigned) { return x; });
  ByteVec good = test::tx4_record(picture);
  struct Damage {
    ByteVec record;
    std::string why;
  } cases[] = {
      {test::patched(good, 4, 32768), "texture side 32768 is too large; skipped"},
      {ByteVec(good.begin(), good.begin() + 15),
       "texture header runs past the end of its container; skipped"},
      {test::patched(good, 8, static_cast<std::uint32_t>(good.size() - 63)),
       "palette runs past the end of its container; skipped"},
      {test::patched(good, 12, 0xFFFFFFFF),
       "index data runs past the end of its container; skipped"},
      {ByteVec(good.begin(), good.end() - 1),
       "index data runs past the end of its container; skipped"},
  };
  for (const Damage& c : cases) {
    Result<TextureRecord> texture = locate_texture(c.record, tx4_index_bits);
    EXPECT_FALSE(texture);
    EXPECT_EQ(texture.refusal, c.why);
  }
  EXPECT_EQ(locate_texture(test::patched(good, 4, 0), tx4_index_bits)->side, 0u);
}

}  // namespace
}  // namespace kelp
