// kelp's own options end to end: usage errors, files named like options, the output folder,
// raw entries, help, version and the installed files.
#include <gtest/gtest.h>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

Picture picture(unsigned seed) {
  return make_picture(4, varied_palette(16, seed),
                      [=](unsigned x, unsigned y) { return (x + y + seed) % 16; });
}

// A package with a texture, a MOT record and an unrecognised entry.
ByteVec mixed_package() {
  return package({tx4_record(picture(1)), mot_record(), text_bytes("unknown entry")});
}

RunResult kelp(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), kelp_binary());
  return run_kelp(dir.path, args);
}

TEST(Options, UsageErrorsExitWith2AndTouchNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const std::vector<Case> cases{
      {{"--lsit", "scene.img"}, "kelp: unknown option --lsit\n"},
      {{"scene.img", "-Z"}, "kelp: unknown option -Z\n"},
      {{"scene.img", "-o"}, "kelp: option -o needs a value\n"},
      {{"--list=yes", "scene.img"}, "kelp: option --list takes no value\n"},
      {{"-o", "scene.img", "scene.img"}, "kelp: --output: scene.img is not a folder\n"},
      {{"--output=nope/deeper", "scene.img"}, "kelp: --output: nope: no such folder\n"},
      {{"--output=nope/deeper/", "scene.img"}, "kelp: --output: nope: no such folder\n"},
      {{"--list", "base.bmp"}, "kelp: --list does not apply to a .bmp source\n"},
      {{"--json", "base.bmp"}, "kelp: --json does not apply to a .bmp source\n"},
      {{"-o", "out"}, "kelp: no source file named\n"},
      {{"--png", "base.bmp"}, "kelp: --png does not apply to a .bmp source\n"},
      {{"--png", "--list", "scene.img"}, "kelp: --png and --list cannot be combined\n"},
      {{"--import", "scene.img", "scene.img"}, "kelp: --import: scene.img is not a folder\n"},
      {{"--import", ".", "base.bmp"},
       "kelp: --import takes an .img, .dat or .iso source, or a folder\n"},
      {{"--import", ".", "--png", "scene.img"}, "kelp: --import and --png cannot be combined\n"},
      {{"--import=.", "--raw", "scene.img"}, "kelp: --import and --raw cannot be combined\n"},
      {{"--dither", "scene.img"}, "kelp: --dither applies only to --import\n"},
      {{"--gallery", "scene.img"}, "kelp: --gallery applies only to --png or --import\n"},
      {{"--gallery", "--json", "scene.img"}, "kelp: --gallery and --json cannot be combined\n"},
      {{"--gallery", "--png", "base.bmp"}, "kelp: --png does not apply to a .bmp source\n"},
      {{"--gallery", "base.bmp"}, "kelp: --gallery does not apply to a .bmp source\n"},
      {{"--jobs", "0", "scene.img"}, "kelp: --jobs takes a number from 1 to 64, not 0\n"},
      {{"-j65", "scene.img"}, "kelp: --jobs takes a number from 1 to 64, not 65\n"},
      {{"--jobs=2x", "scene.img"}, "kelp: --jobs takes a number from 1 to 64, not 2x\n"},
      {{"--jobs", "-1", "scene.img"}, "kelp: --jobs takes a number from 1 to 64, not -1\n"},
  };
  TempDir dir;
  write_file(dir.path / "scene.img", mixed_package());
  write_file(dir.path / "base.bmp", bitmap_file({1, 1, {1, 2, 3, 4}}));
  auto before = files_in(dir.path);
  for (const Case& c : cases) {
    RunResult run = kelp(dir, c.args);
    EXPECT_EQ(run.exit_code, 2) << c.line;
    EXPECT_EQ(run.out, "") << c.line;
    EXPECT_EQ(run.err, c.line);
  }
  EXPECT_TRUE(files_in(dir.path) == before);
  EXPECT_FALSE(fs::exists(dir.path / "out"));
}

TEST(Options, ArgumentsThatNameFilesAreFiles) {
  ByteVec bmp = expected_bitmap(picture(1));
  for (std::string name : {"-x.img", "-l.img", "--list.img"}) {
    TempDir dir;
    write_file(dir.path / name, mixed_package());
    RunResult run = kelp(dir, {name});
    EXPECT_EQ(run.out, banner_text()) << name;
    EXPECT_EQ(run.exit_code, 0) << name;
    EXPECT_EQ(read_file(dir.path / (name.substr(0, name.size() - 4) + "_0000.bmp")), bmp);
  }
  TempDir dir;  // after "--", "-o" is the source
  write_file(dir.path / "-o", mixed_package());
  EXPECT_EQ(kelp(dir, {"--", "-o"}).exit_code, 0);
  EXPECT_EQ(files_in(dir.path).size(), 1u);  // "-o" has no extension kelp converts
}

TEST(Options, OutputFolderTakesEveryFile) {
  ByteVec bmp = expected_bitmap(picture(1));
  struct Case {
    std::vector<std::string> args;
    std::string folder;
    std::vector<std::string> written;  // in the folder, beside any existing file
  };
  const std::vector<Case> cases{
      {{"-o", "new", "scene.img"}, "new", {"scene_0000.bmp"}},
      {{"-o", "new/", "scene.img"}, "new", {"scene_0000.bmp"}},
      {{"scene.img", "--output=old"}, "old", {"scene_0000_0001.bmp"}},  // old/ holds scene_0000.bmp
      {{"-o.", "scene.img"}, ".", {"scene_0000.bmp"}},
      {{"base.bmp", "-o", "old/bnew", "/bover.bmp"}, "old/bnew", {"base-over.bmp"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir.path / "scene.img", mixed_package());
    write_file(dir.path / "base.bmp", bitmap_file({1, 1, {1, 2, 3, 4}}));
    write_file(dir.path / "over.bmp", bitmap_file({1, 1, {5, 6, 7, 8}}));
    fs::create_directory(dir.path / "old");
    write_file(dir.path / "old" / "scene_0000.bmp", text_bytes("work"));
    fs::path folder = dir.path / c.folder;
    auto before = fs::exists(folder) ? files_in(folder) : std::map<std::string, ByteVec>{};
    RunResult run = kelp(dir, c.args);
    EXPECT_EQ(run.out, banner_text()) << c.folder;
    EXPECT_EQ(run.exit_code, 0) << c.folder << run.err;
    auto after = files_in(folder);
    for (const std::string& name : c.written) {
      EXPECT_EQ(after.count(name), 1u) << name;
      if (name.starts_with("scene")) {
        EXPECT_EQ(after[name], bmp);
      }
      after.erase(name);
    }
    if (c.folder == ".") after.erase("scene_0000.bmp");
    EXPECT_TRUE(after == before) << c.folder;
  }
}

TEST(Options, RawWritesTheOtherEntriesBytes) {
  TempDir dir;
  ByteVec unknown = text_bytes("unknown entry");
  ByteVec dat = archive({mot_record(), unknown, tx4_record(picture(2))});
  write_file(dir.path / "scene.img", mixed_package());
  write_file(dir.path / "title.dat", dat);
  EXPECT_EQ(kelp(dir, {"--raw", "scene.img"}).exit_code, 0);
  EXPECT_EQ(kelp(dir, {"title.dat", "--raw", "-o", "t"}).exit_code, 0);
  ByteVec sector_of_unknown = unknown;
  sector_of_unknown.resize(2048, 0);
  ByteVec mot_sector = mot_record();
  mot_sector.resize(2048, 0);
  EXPECT_EQ(read_file(dir.path / "scene_0001.bin"), mot_sector);
  EXPECT_EQ(read_file(dir.path / "scene_0002.bin"), sector_of_unknown);
  EXPECT_EQ(read_file(dir.path / "t" / "title_0000.bin"), mot_record());
  EXPECT_EQ(read_file(dir.path / "t" / "title_0001.bin"), unknown);
  EXPECT_EQ(files_in(dir.path / "t").size(), 3u);
}

TEST(Options, HelpAndVersionPrintOnlyTheirText) {
  TempDir dir;
  for (std::string option : {"-h", "--help", "-V", "--version"}) {
    RunResult run = kelp(dir, {option, "missing.img"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
    if (option.find('h') != std::string::npos) {
      for (std::string word : {"--output", "--list", "--json", "--raw", "--png", "--import",
                               "--dither", "--gallery", "--jobs", "/x", "/y", "/b", "255"})
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    } else {
      EXPECT_TRUE(run.out.starts_with("kelp " KELP_VERSION "\n")) << run.out;
      EXPECT_NE(run.out.find("GPL-3.0-or-later"), std::string::npos);
    }
  }
  EXPECT_TRUE(files_in(dir.path).empty());
}

}  // namespace
}  // namespace kelp::test
