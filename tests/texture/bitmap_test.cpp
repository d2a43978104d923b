#include "texture/bitmap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "builders.h"
#include "files.h"

namespace kelp {
namespace {

using test::ByteVec;

TEST(BitmapHeader, FieldsOfA16By16Texture) {
  std::array<std::uint8_t, bitmap_header_size> header{};
  header.fill(0xEE);
  put_bitmap_header(header, 16, 16);
  EXPECT_EQ(ByteVec(header.begin(), header.end()), test::bitmap_header(16, 16));
  EXPECT_EQ(header[2] | header[3] << 8, 1078);
  EXPECT_EQ(bitmap_file_size(1, 1), 58u);
  EXPECT_EQ(bitmap_file_size(32767, 32767), 4294705210u);
}

// Creates and closes each name in turn in a scratch directory, returning the names created.
class CreateOutputFile : public ::testing::Test {
 protected:
  std::string create(const std::string& name) {
    OutputFile out = create_output_file(name);
    if (!out.created) return "failed: " + platform::describe_error(out.error);
    write_output(out, test::text_bytes("new"));
    EXPECT_TRUE(finish_output(out));
    return out.name;
  }
  void existing(const std::string& name) {
    test::write_file(dir.path / name, test::text_bytes("old " + name));
  }

  test::TempDir dir;
  test::InDirectory inside{dir.path};
};

TEST_F(CreateOutputFile, FreeNamesAreKeptAndTakenOnesGetTheLowestFreeSuffix) {
  EXPECT_EQ(create("a.bmp"), "a.bmp");
  EXPECT_EQ(create("a.bmp"), "a_0001.bmp");
  EXPECT_EQ(create("a.bmp"), "a_0002.bmp");
  existing("b.bmp");
  existing("b_0002.bmp");
  EXPECT_EQ(create("b.bmp"), "b_0001.bmp");
  EXPECT_EQ(create("b.bmp"), "b_0003.bmp");
  EXPECT_EQ(test::read_file("b.bmp"), test::text_bytes("old b.bmp"));
  EXPECT_EQ(test::read_file("b_0002.bmp"), test::text_bytes("old b_0002.bmp"));
}

TEST_F(CreateOutputFile, SuffixesAreUpperCaseHexBeforeTheLastDot) {
  existing("h.bmp");
  for (int n = 1; n <= 9; ++n) existing("h_000" + std::to_string(n) + ".bmp");
  EXPECT_EQ(create("h.bmp"), "h_000A.bmp");
  existing("x_0001.bmp");
  EXPECT_EQ(create("x_0001.bmp"), "x_0001_0001.bmp");
  existing("a.b.bmp");
  EXPECT_EQ(create("a.b.bmp"), "a.b_0001.bmp");
  existing("out");
  EXPECT_EQ(create("out"), "out_0001");
}

TEST_F(CreateOutputFile, FailuresOtherThanATakenNameEndTheSearch) {
  // The only dot lies in the directory part, so the suffixed candidate names a missing directory.
  std::filesystem::create_directory("old.set");
  existing("old.set/out");
  OutputFile out = create_output_file("old.set/out");
  EXPECT_FALSE(out.created);
  EXPECT_EQ(out.error, ENOENT);
  EXPECT_EQ(test::files_in(dir.path).size(), 0u);
  EXPECT_EQ(test::read_file("old.set/out"), test::text_bytes("old old.set/out"));
}

TEST_F(CreateOutputFile, NamesThatCannotTakeASuffixAreRefused) {
  std::string longest(max_output_name - 4, 'n');
  EXPECT_EQ(create(longest + ".bmp"), longest + ".bmp");
  EXPECT_EQ(create(longest + "n.bmp"), "failed: " + platform::describe_error(ENAMETOOLONG));
}

TEST_F(CreateOutputFile, LinksAreNeverFollowed) {
  ASSERT_EQ(::symlink("elsewhere.bmp", "link.bmp"), 0);
  EXPECT_EQ(create("link.bmp"), "link_0001.bmp");
  EXPECT_FALSE(std::filesystem::exists("elsewhere.bmp"));
}

}  // namespace
}  // namespace kelp
