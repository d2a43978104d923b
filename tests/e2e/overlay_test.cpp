// Overlay compositing end to end: ".bmp" sources with /b, /x and /y.
#include <gtest/gtest.h>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

// The composed image as the format describes it, computed independently: signed sums,
// floor division by 128 and the result taken modulo 256.
Image compose(const Image& base, const Image& overlay, std::int64_t x_offset,
              std::int64_t y_offset) {
  auto wrap = [](std::int64_t v) { return static_cast<std::uint32_t>(v); };
  std::uint32_t X = wrap(x_offset), Y = wrap(y_offset);
  Image out{std::max(base.width, overlay.width), std::max(base.height, overlay.height), {}};
  for (std::uint32_t y = 0; y < out.height; ++y) {
    for (std::uint32_t x = 0; x < out.width; ++x) {
      std::int64_t o[4] = {0, 0, 0, 0}, b[3] = {0, 0, 0};
      if (y >= Y && x >= X && y - Y < overlay.height && x - X < overlay.width) {
        for (int c = 0; c < 4; ++c)
          o[c] = overlay.pixels[4 * ((y - Y) * std::size_t{overlay.width} + (x - X)) + c];
      }
      if (y < base.height && x < base.width) {
        for (int c = 0; c < 3; ++c) b[c] = base.pixels[4 * (y * std::size_t{base.width} + x) + c];
      }
      for (int c = 0; c < 3; ++c) {
        std::int64_t s = b[c] * (128 - o[3]) + o[c] * o[3];
        std::int64_t floor = s >= 0 ? s / 128 : -((-s + 127) / 128);
        out.pixels.push_back(static_cast<std::uint8_t>(((floor % 256) + 256) % 256));
      }
      out.pixels.push_back(static_cast<std::uint8_t>(o[3]));
    }
  }
  return out;
}

class Overlay : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir.path / "base.bmp", bitmap_file(base));
    write_file(dir.path / "over.bmp", bitmap_file(overlay));
  }
  RunResult kelp(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kelp_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_kelp(dir.path, argv);
  }
  // The files kelp wrote: everything but the inputs.
  std::map<std::string, ByteVec> outputs() {
    auto files = files_in(dir.path);
    files.erase("base.bmp"), files.erase("over.bmp");
    return files;
  }
  void expect_error(const std::vector<std::string>& args, const std::string& line) {
    auto before = files_in(dir.path);
    RunResult run = kelp(args);
    EXPECT_EQ(run.out, banner_text() + line) << args[1];
    EXPECT_EQ(run.exit_code, 255) << args[1];
    EXPECT_TRUE(files_in(dir.path) == before) << args[1];
  }

  TempDir dir;
  Image base = varied_image(7, 5, 1);
  Image overlay = varied_image(3, 4, 2);
};

TEST_F(Overlay, ComposesAtTheGivenOffset) {
  RunResult run = kelp({"base.bmp", "/x2", "/y3", "/bover.bmp"});
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  auto files = outputs();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files["base-over.bmp"], bitmap_file(compose(base, overlay, 2, 3)));
}

TEST_F(Overlay, CommandLinesAsUsersTypeThem) {
  struct Case {
    std::vector<std::string> args;
    std::int64_t x, y;
  };
  std::vector<Case> cases{{{"/bover.bmp", "base.bmp"}, 0, 0},
                          {{"base.bmp", "/bover.bmp "}, 0, 0},
                          {{"base.bmp", "/x8", "/bover.bmp", "/y4"}, 8, 4},
                          {{"base.bmp", "/x", "12", "/bover.bmp", "/y0"}, 12, 0},
                          {{"base.bmp", "/X12", "/bover.bmp"}, 0, 0},
                          {{"base.bmp", "/x-3", "/y1", "/bover.bmp"}, -3, 1},
                          {{"base.bmp", "/y-1", "/x5", "/bover.bmp"}, 5, -1},
                          {{"base.bmp", "/x6", "/y4", "/bover.bmp"}, 6, 4}};  // cut off at W and H
  for (const Case& c : cases) {
    RunResult run = kelp(c.args);
    EXPECT_EQ(run.exit_code, 0) << c.args[0] << " " << c.args[1];
    auto files = outputs();
    ASSERT_EQ(files.size(), 1u) << c.args[1];
    EXPECT_EQ(files["base-over.bmp"], bitmap_file(compose(base, overlay, c.x, c.y))) << c.args[1];
    std::filesystem::remove(dir.path / "base-over.bmp");
  }
}

TEST_F(Overlay, NegativeOffsetsHideTheOverlay) {
  kelp({"base.bmp", "/x-3", "/bover.bmp"});
  Image composed = compose(base, overlay, -3, 0);
  for (std::size_t k = 3; k < composed.pixels.size(); k += 4) EXPECT_EQ(composed.pixels[k], 0);
  EXPECT_EQ(composed.height, 5u);
  EXPECT_EQ(outputs()["base-over.bmp"], bitmap_file(composed));
}

TEST_F(Overlay, PathsWithSpacesAndSuffixes) {
  write_file(dir.path / "my over.bmp", bitmap_file(overlay));
  EXPECT_EQ(kelp({"base.bmp", "/bmy", "over.bmp", "/y0"}).exit_code, 0);
  EXPECT_EQ(kelp({"base.bmp", "/bmy over.bmp", "/y0"}).exit_code, 0);
  EXPECT_EQ(kelp({"base.bmp", "/bover.bmp"}).exit_code, 0);
  // With nothing after it, the value still ends at its last space.
  expect_error({"base.bmp", "/bmy over.bmp"}, "\tError\tcan't found add bmp file\n");
  auto files = outputs();
  files.erase("my over.bmp");
  ByteVec want = bitmap_file(compose(base, overlay, 0, 0));
  std::map<std::string, ByteVec> expected{
      {"base-my over.bmp", want}, {"base-my over_0001.bmp", want}, {"base-over.bmp", want}};
  EXPECT_TRUE(files == expected);
}

TEST_F(Overlay, OptionLettersInTheProgramAndSourcePathsAreNotOptions) {
  // The invocation and an absolute source path both contain "/b", "/x" and "/y".
  std::filesystem::create_directories(dir.path / "xx" / "bb" / "yy");
  write_file(dir.path / "xx" / "bb" / "yy" / "base.bmp", bitmap_file(base));
  std::string source = (dir.path / "xx" / "bb" / "yy" / "base.bmp").string();
  RunResult run =
      run_kelp(dir.path, {(dir.path / "xx/bb/yy/kelp").string(), source, "/bover.bmp", "/x1"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(outputs()["base-over.bmp"], bitmap_file(compose(base, overlay, 1, 0)));
}

TEST_F(Overlay, HeaderOfALargerOverlay) {
  Image wide = varied_image(64, 32, 3), tall = varied_image(16, 48, 4);
  ByteVec wide_file = bitmap_file(wide);
  test::put_u32(wide_file, 38, 2835);  // the base's other header fields are kept
  write_file(dir.path / "base.bmp", wide_file);
  write_file(dir.path / "over.bmp", bitmap_file(tall));
  EXPECT_EQ(kelp({"base.bmp", "/bover.bmp"}).exit_code, 0);
  ByteVec out = outputs()["base-over.bmp"];
  ASSERT_EQ(out.size(), 12342u);
  ByteVec want = bitmap_file(compose(wide, tall, 0, 0));
  test::put_u32(want, 38, 2835);
  EXPECT_EQ(out, want);
}

TEST_F(Overlay, EditorBitmapsAreReadAndAPlainHeaderIsWritten) {
  write_file(dir.path / "base.bmp", v5_bitmap_file(base));
  write_file(dir.path / "over.bmp", v5_bitmap_file(overlay));
  EXPECT_EQ(kelp({"base.bmp", "/bover.bmp", "/x1"}).exit_code, 0);
  EXPECT_EQ(outputs()["base-over.bmp"], bitmap_file(compose(base, overlay, 1, 0)));
}

TEST_F(Overlay, ZeroWidthsGiveTheHeaderAlone) {
  write_file(dir.path / "base.bmp", bitmap_file({0, 3, {}}));
  write_file(dir.path / "over.bmp", bitmap_file({0, 2, {}}));
  EXPECT_EQ(kelp({"base.bmp", "/bover.bmp"}).exit_code, 0);
  EXPECT_EQ(outputs()["base-over.bmp"], bitmap_header(0, 3));
}

TEST_F(Overlay, ErrorLinesLeaveNoFile) {
  expect_error({"base.bmp"}, "\tError\tcan't found add bmp file\n");
  expect_error({"base.bmp", "/bover.Bmp"}, "\tError\tcan't found add bmp file\n");
  expect_error({"base.bmp", "/bover.bmp", "/x8", "/y4"}, "\tError\tcan't found add bmp file\n");
  expect_error({"base.bmp", "/bmissing.bmp"}, "\tError\tcan't open add bmp file\n");
  expect_error({"base.bmp", "/bbase.bmp"}, "\tError\tcan't open add bmp file\n");  // held by kelp
  expect_error({"base.bmp", "/x2147483648", "/bover.bmp"}, "\tError\toffset out of range\n");
  write_file(dir.path / "text.bmp", text_bytes("not a bitmap"));
  expect_error({"text.bmp", "/bover.bmp"}, "\tError\tcan't use base bmp file\n");
  expect_error({"base.bmp", "/btext.bmp"}, "\tError\tcan't use add bmp file\n");
  ByteVec cut = bitmap_file(overlay);
  cut.pop_back();
  write_file(dir.path / "cut.bmp", cut);
  expect_error({"base.bmp", "/bcut.bmp"}, "\tError\tcan't use add bmp file\n");
  write_file(dir.path / "wide.bmp", bitmap_file({40000, 0, {}}));
  write_file(dir.path / "tall.bmp", bitmap_file({0, 40000, {}}));
  expect_error({"wide.bmp", "/btall.bmp"}, "\tError\tcomposed bmp file too large\n");
  std::filesystem::remove(dir.path / "text.bmp"), std::filesystem::remove(dir.path / "cut.bmp");
  std::filesystem::remove(dir.path / "wide.bmp"), std::filesystem::remove(dir.path / "tall.bmp");

  std::filesystem::permissions(
      dir.path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                    std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
                    std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
  RunResult run = run_kelp(dir.path, {kelp_binary(), "base.bmp", "/bover.bmp"},
                           {.environment = {}, .unprivileged = true});
  std::filesystem::permissions(dir.path, std::filesystem::perms::owner_all);
  EXPECT_EQ(run.out, banner_text() + "\tError\tcan't create bmp file\n");
  EXPECT_EQ(run.exit_code, 255);
  EXPECT_TRUE(outputs().empty());
}

}  // namespace
}  // namespace kelp::test
