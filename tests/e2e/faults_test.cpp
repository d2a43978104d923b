// Injected faults: creates that fail, writes that fail or fall short midway, short reads of
// the source. No partial bitmap may remain, each loss is named, existing files stay as they were.
#include <gtest/gtest.h>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

Picture picture(unsigned seed) {
  return make_picture(32, varied_palette(256, seed),
                      [=](unsigned x, unsigned y) { return (x * y + seed) & 0xFF; });
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    for (unsigned i = 0; i < 3; ++i) pictures.push_back(picture(i));
    write_file(dir.path / "scene.img", package({tx8_record(pictures[0]), tx8_record(pictures[1]),
                                                tx8_record(pictures[2])}));
    write_file(dir.path / "scene_0001.bmp", text_bytes("my own work"));
    before = files_in(dir.path);
  }
  RunResult kelp(const std::vector<std::string>& faults,
                 const std::vector<std::string>& args = {"scene.img"}) {
    std::vector<std::string> environment{"LD_PRELOAD=" KELP_FAULTS,
                                         "ASAN_OPTIONS=verify_asan_link_order=0"};
    environment.insert(environment.end(), faults.begin(), faults.end());
    std::vector<std::string> argv{kelp_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_kelp(dir.path, argv, {.environment = environment});
  }
  // The files kelp added, after checking that the files there before are unchanged.
  std::map<std::string, ByteVec> added() {
    auto files = files_in(dir.path);
    for (const auto& [name, bytes] : before) {
      EXPECT_TRUE(files[name] == bytes) << name << " changed";
      files.erase(name);
    }
    return files;
  }

  TempDir dir;
  std::vector<Picture> pictures;
  std::map<std::string, ByteVec> before;
};

TEST_F(Faults, CreatesThatFailAreNamedAndTheRestWritten) {
  for (std::string error : {"28", "13"}) {  // no space, no permission
    RunResult run = kelp({"KELP_FAULT_CREATE_FROM=2", "KELP_FAULT_CREATE_ERRNO=" + error});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, banner_text());
    std::string why = error == "28" ? "No space left on device" : "Permission denied";
    EXPECT_EQ(run.err, "kelp: scene_0001.bmp: cannot create: " + why + "\n" +
                           "kelp: scene_0002.bmp: cannot create: " + why + "\n");
    auto files = added();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files["scene_0000.bmp"], expected_bitmap(pictures[0]));
    std::filesystem::remove(dir.path / "scene_0000.bmp");
  }
}

TEST_F(Faults, WritesThatFailMidwayLeaveNoPartialBitmap) {
  // A 32 x 32 bitmap is 4150 bytes: the disk fills up in the middle of the second one.
  RunResult run = kelp({"KELP_FAULT_WRITE_AFTER=6000"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "kelp: scene_0001_0001.bmp: cannot write: No space left on device; the incomplete file "
            "was removed\n"
            "kelp: scene_0002.bmp: cannot write: No space left on device; the incomplete file was "
            "removed\n");
  auto files = added();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files["scene_0000.bmp"], expected_bitmap(pictures[0]));
}

TEST_F(Faults, ShortReadsOfTheSourceAreReported) {
  // Entries start at 2048, 6144 and 10240; the read stops in the third one's index data.
  RunResult run = kelp({"KELP_FAULT_READ_AFTER=12000"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "kelp: scene.img: read 12000 of 14336 bytes: Input/output error\n"
            "kelp: scene_0002: index data runs past the end of its container; skipped\n");
  auto files = added();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files["scene_0000.bmp"], expected_bitmap(pictures[0]));
  EXPECT_EQ(files["scene_0001_0001.bmp"], expected_bitmap(pictures[1]));
}

TEST_F(Faults, ComposedBitmapsThatCannotBeWrittenAreRemoved) {
  write_file(dir.path / "base.bmp", bitmap_file(varied_image(40, 30, 1)));
  write_file(dir.path / "over.bmp", bitmap_file(varied_image(20, 10, 2)));
  before = files_in(dir.path);
  RunResult run = kelp({"KELP_FAULT_WRITE_AFTER=1000"}, {"base.bmp", "/bover.bmp"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.err,
            "kelp: base-over.bmp: cannot write: No space left on device; the incomplete file was "
            "removed\n");
  EXPECT_TRUE(added().empty());
}

}  // namespace
}  // namespace kelp::test
