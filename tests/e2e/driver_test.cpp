// The driver as a user meets it: the built binary run in a scratch directory.
#include <gtest/gtest.h>

#include <cstdlib>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

const std::string not_found = "\tError\tsource file not found\n";

// A package with one TX4 texture, and the bitmap it gives.
struct OneTexture {
  Picture picture =
      make_picture(4, varied_palette(16, 11), [](unsigned x, unsigned y) { return x + 4 * y; });
  ByteVec img = package({tx4_record(picture)});
  ByteVec bmp = expected_bitmap(picture);
};

class Driver : public ::testing::Test {
 protected:
  RunResult kelp(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kelp_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_kelp(dir.path, argv);
  }
  TempDir dir;
  OneTexture one;
};

TEST_F(Driver, NoArgumentsPrintsTheUsage) {
  RunResult run = kelp({});
  EXPECT_EQ(run.out, banner_text() + "kelp <option ...> <file ...>\n<type>\t<option>\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(files_in(dir.path).empty());
}

TEST_F(Driver, MissingSourcesAreReportedWhateverTheirExtension) {
  for (std::string name : {"missing.img", "missing.txt", ""}) {
    RunResult run = kelp({name});
    EXPECT_EQ(run.out, banner_text() + not_found) << name;
    EXPECT_EQ(run.exit_code, 255) << name;
  }
  std::filesystem::create_directory(dir.path / "folder.img");
  RunResult run = kelp({"folder.img"});
  EXPECT_EQ(run.out, banner_text() + not_found);
  EXPECT_EQ(run.exit_code, 255);
}

TEST_F(Driver, OtherExtensionsAreReadButNotConverted) {
  write_file(dir.path / "scene.txt", one.img);
  write_file(dir.path / "scene", one.img);
  for (std::string name : {"scene.txt", "scene"}) {
    RunResult run = kelp({name});
    EXPECT_EQ(run.out, banner_text()) << name;
    EXPECT_EQ(run.exit_code, 0) << name;
  }
  EXPECT_EQ(files_in(dir.path).size(), 2u);
}

TEST_F(Driver, ExtensionCaseIsIgnoredAndTheNameKeepsItsCase) {
  write_file(dir.path / "A.IMG", one.img);
  RunResult run = kelp({"A.IMG"});
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(dir.path / "A_0000.bmp"), one.bmp);
}

TEST_F(Driver, OutputsLandInTheCurrentDirectoryNamedAfterTheFileName) {
  std::filesystem::create_directory(dir.path / "dir");
  write_file(dir.path / "dir" / "x.y.img", one.img);
  write_file(dir.path / ".img", one.img);
  EXPECT_EQ(kelp({"dir/x.y.img"}).exit_code, 0);
  EXPECT_EQ(kelp({".img"}).exit_code, 0);
  EXPECT_EQ(kelp({(dir.path / "dir" / "x.y.img").string()}).exit_code, 0);  // an absolute path
  auto files = files_in(dir.path);
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(files["x.y_0000.bmp"], one.bmp);
  EXPECT_EQ(files["x.y_0000_0001.bmp"], one.bmp);
  EXPECT_EQ(files["_0000.bmp"], one.bmp);
  EXPECT_TRUE(files_in(dir.path / "dir").size() == 1);
}

TEST_F(Driver, TheFirstNonOptionArgumentIsTheOnlySource) {
  write_file(dir.path / "a.img", one.img);
  write_file(dir.path / "b.img", one.img);
  RunResult run = kelp({"/x5", "a.img", "b.img", "/bthing"});
  EXPECT_EQ(run.exit_code, 0);
  auto files = files_in(dir.path);
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(files.count("a_0000.bmp"), 1u);
}

TEST_F(Driver, WithOnlyOptionsTheInvocationIsTheSource) {
  write_file(dir.path / "self.img", one.img);
  RunResult run = run_kelp(dir.path, {"self.img", "/x5"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(dir.path / "self_0000.bmp"), one.bmp);
  run = run_kelp(dir.path, {"kelp-not-here", "/x5"});
  EXPECT_EQ(run.out, banner_text() + not_found);
  EXPECT_EQ(run.exit_code, 255);
  run = run_kelp(dir.path, {kelp_binary(), "/x5"});  // the program itself: no known extension
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(Driver, ShiftJisNamesKeepTheirTrailBytes) {
  // 0x83 0x5C is one character in Shift-JIS; its second byte equals "\".
  const std::string name = "\x83\x5C";
  write_file(dir.path / (name + ".img"), one.img);
  // Read byte by byte, "\" separates and the file name is empty.
  RunResult run =
      run_kelp(dir.path, {kelp_binary(), name + ".img"}, {.environment = {"LC_ALL=C.UTF-8"}});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(dir.path / "_0000.bmp"), one.bmp);

  TempDir locales;
  std::string make_locale = "localedef -c -f SHIFT_JIS -i ja_JP " +
                            (locales.path / "ja_JP.SJIS").string() + " >/dev/null 2>&1";
  [[maybe_unused]] int ignored = std::system(make_locale.c_str());
  if (!std::filesystem::exists(locales.path / "ja_JP.SJIS")) {
    GTEST_SKIP() << "no Shift-JIS locale can be built on this machine";
  }
  run = run_kelp(dir.path, {kelp_binary(), name + ".img"},
                 {.environment = {"LOCPATH=" + locales.path.string(), "LC_ALL=ja_JP.SJIS"}});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(dir.path / (name + "_0000.bmp")), one.bmp);
}

}  // namespace
}  // namespace kelp::test
