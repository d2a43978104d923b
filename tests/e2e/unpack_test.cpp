// Unpacking packages end to end: the built binary on package bytes made by the builders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

Picture tx4_picture(unsigned seed) {
  return make_picture(4, varied_palette(16, seed),
                      [=](unsigned x, unsigned y) { return (x + y + seed) % 16; });
}

Picture tx8_picture(unsigned seed) {
  return make_picture(16, varied_palette(256, seed),
                      [=](unsigned x, unsigned y) { return (x * 16 + y + seed) % 256; });
}

class Unpack : public ::testing::Test {
 protected:
  // Writes `img` as scene.img, runs kelp on it and returns the run.
  RunResult unpack(const ByteVec& img) {
    write_file(dir.path / "scene.img", img);
    return run_kelp(dir.path, {kelp_binary(), "scene.img"});
  }
  // The files kelp wrote: everything in the directory but the source.
  std::map<std::string, ByteVec> outputs() {
    auto files = files_in(dir.path);
    files.erase("scene.img");
    return files;
  }
  TempDir dir;
};

TEST_F(Unpack, TexturesAndNestedPackagesByEntryName) {
  Picture a = tx4_picture(1), b = tx8_picture(2), c = tx8_picture(3);
  ByteVec nested = package({tx8_record(b), mot_record(), tx4_record(a)});
  ByteVec img = package({mot_record(), tx8_record(c), nested, text_bytes("unknown entry")});
  RunResult run = unpack(img);
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  std::map<std::string, ByteVec> want{{"scene_0001.bmp", expected_bitmap(c)},
                                      {"scene_0002_0000.bmp", expected_bitmap(b)},
                                      {"scene_0002_0002.bmp", expected_bitmap(a)}};
  EXPECT_TRUE(outputs() == want);
}

TEST_F(Unpack, EmptyFirstSlotEndsThePackage) {
  ByteVec img = package({tx4_record(tx4_picture(1))});
  put_u16(img, 2, 0);
  EXPECT_EQ(unpack(img).exit_code, 0);
  EXPECT_TRUE(outputs().empty());
}

TEST_F(Unpack, ARecordListedTwiceGivesTwoIdenticalBitmaps) {
  Picture picture = tx8_picture(4);
  ByteVec img = package({tx8_record(picture)});
  put_u32(img, 4, img[0] | img[1] << 8 | img[2] << 16 | img[3] << 24);  // slot 1 = slot 0
  put_u32(img, 8, 0);
  RunResult run = unpack(img);
  EXPECT_EQ(run.exit_code, 0);
  auto files = outputs();
  EXPECT_EQ(files.size(), 2u);
  EXPECT_EQ(files["scene_0000.bmp"], expected_bitmap(picture));
  EXPECT_EQ(files["scene_0001.bmp"], expected_bitmap(picture));
}

TEST_F(Unpack, SinglyNestedPackageNeedsItsEndingSlotToFollowTheEntry) {
  Picture picture = tx4_picture(5);
  ByteVec nested = package({tx4_record(picture)});
  ByteVec img = package({nested});
  EXPECT_EQ(unpack(img).exit_code, 0);
  EXPECT_EQ(outputs().count("scene_0000_0000.bmp"), 1u);

  std::filesystem::remove(dir.path / "scene_0000_0000.bmp");
  ByteVec broken = package({nested});
  put_u16(broken, 2048 + 4, 3);  // the nested ending slot no longer starts right after entry 0
  EXPECT_EQ(unpack(broken).exit_code, 0);
  EXPECT_TRUE(outputs().empty());
}

TEST_F(Unpack, FiveDigitIndices) {
  // 0x10001 slots, all naming the same "MOT" record but the last, a texture.
  const std::size_t slots = 0x10001;
  const std::size_t table_sectors = (slots + 1) * 4 / 2048 + 1;
  ByteVec img(table_sectors * 2048, 0);
  for (std::size_t i = 0; i < slots; ++i) {
    put_u16(img, 4 * i, static_cast<std::uint16_t>(table_sectors + (i == slots - 1 ? 1 : 0)));
    put_u16(img, 4 * i + 2, 1);
  }
  ByteVec mot = mot_record();
  mot.resize(2048);
  append(img, mot);
  Picture picture = tx4_picture(6);
  append(img, tx4_record(picture));
  EXPECT_EQ(unpack(img).exit_code, 0);
  auto files = outputs();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files["scene_10000.bmp"], expected_bitmap(picture));
}

TEST_F(Unpack, ExistingFilesAreNeverTouched) {
  Picture a = tx4_picture(7), b = tx8_picture(8);
  ByteVec img = package({tx4_record(a), tx8_record(b)});
  write_file(dir.path / "scene_0000.bmp", text_bytes("my work"));
  write_file(dir.path / "scene_0000_0001.bmp", text_bytes("more of my work"));
  write_file(dir.path / "scene_0001.bmp", text_bytes("other work"));
  EXPECT_EQ(unpack(img).exit_code, 0);
  auto files = outputs();
  EXPECT_EQ(files.size(), 5u);
  EXPECT_EQ(files["scene_0000.bmp"], text_bytes("my work"));
  EXPECT_EQ(files["scene_0000_0001.bmp"], text_bytes("more of my work"));
  EXPECT_EQ(files["scene_0001.bmp"], text_bytes("other work"));
  EXPECT_EQ(files["scene_0000_0002.bmp"], expected_bitmap(a));
  EXPECT_EQ(files["scene_0001_0001.bmp"], expected_bitmap(b));
}

TEST_F(Unpack, UnwritableDirectoryNamesEachTextureAndExitsWithOne) {
  ByteVec img = package({tx4_record(tx4_picture(1)), tx8_record(tx8_picture(2))});
  write_file(dir.path / "scene.img", img);
  std::filesystem::permissions(
      dir.path, std::filesystem::perms::all & ~std::filesystem::perms::owner_write &
                    ~std::filesystem::perms::group_write & ~std::filesystem::perms::others_write);
  // Run as an ordinary user, since root may write anywhere.
  RunResult run =
      run_kelp(dir.path, {kelp_binary(), "scene.img"}, {.environment = {}, .unprivileged = true});
  std::filesystem::permissions(dir.path, std::filesystem::perms::owner_all);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, banner_text());
  EXPECT_NE(run.err.find("scene_0000.bmp: cannot create"), std::string::npos);
  EXPECT_NE(run.err.find("scene_0001.bmp: cannot create"), std::string::npos);
  EXPECT_TRUE(outputs().empty());
}

TEST_F(Unpack, BitmapsThatCannotBeWrittenWholeAreRemoved) {
  Picture small = tx4_picture(3);
  Picture large =
      make_picture(64, varied_palette(256, 1), [](unsigned x, unsigned y) { return x ^ y; });
  ByteVec img = package({tx4_record(small), tx8_record(large), tx4_record(small)});
  write_file(dir.path / "scene.img", img);
  // Writes past 4 KiB fail: the 64 x 64 bitmap (16438 bytes) cannot be written whole.
  RunResult run = run_kelp(dir.path, {kelp_binary(), "scene.img"},
                           {.environment = {}, .unprivileged = false, .file_size_limit = 4096});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(
      run.err,
      "kelp: scene_0001.bmp: cannot write: File too large; the incomplete file was removed\n");
  auto files = outputs();
  EXPECT_EQ(files.size(), 2u);
  EXPECT_EQ(files["scene_0000.bmp"], expected_bitmap(small));
  EXPECT_EQ(files["scene_0002.bmp"], expected_bitmap(small));
}

// Damaged packages: every bound is the end of the source, and each skipped entry is named once.
TEST_F(Unpack, TableRunningOffTheEndStopsThere) {
  ByteVec table_only(6, 0);
  put_u16(table_only, 0, 1), put_u16(table_only, 2, 1), put_u16(table_only, 4, 9);
  RunResult run = unpack(table_only);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err,
            "kelp: scene_0000: entry lies past the end of its container; skipped\n"
            "kelp: scene_0001: entry table runs past the end of its container\n");
  EXPECT_TRUE(outputs().empty());

  // Every slot of the first sector names the texture; the table then runs on into the record,
  // whose tag reads as a slot far past the end and whose side and next field end the table.
  ByteVec record = tx4_record(tx4_picture(2));
  ByteVec into_record = package({record});
  into_record.resize(2048 + record.size());
  for (std::size_t at = 4; at < 2048; at += 4)
    put_u16(into_record, at, 1), put_u16(into_record, at + 2, 1);
  run = unpack(into_record);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(outputs().size(), 512u);
  EXPECT_EQ(run.err, "kelp: scene_0200: entry lies past the end of its container; skipped\n");
}

TEST_F(Unpack, EntriesAndRecordsPastTheEndAreSkippedByName) {
  Picture picture = tx8_picture(3);
  ByteVec good = tx8_record(picture);
  ByteVec cut = good;
  cut.resize(good.size() - 10);
  ByteVec img = package({good, cut});
  img.resize(img.size() - (2048 - cut.size() % 2048) % 2048);  // the source ends with the record
  put_u16(img, 8, 0x0100), put_u16(img, 10, 1);                // slot 2: far past the end
  put_u16(img, 12, 0), put_u16(img, 14, 0);
  RunResult run = unpack(img);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err,
            "kelp: scene_0001: index data runs past the end of its container; skipped\n"
            "kelp: scene_0002: entry lies past the end of its container; skipped\n");
  auto files = outputs();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files["scene_0000.bmp"], expected_bitmap(picture));
}

TEST_F(Unpack, SelfReferencesAndDeepNestingEnd) {
  // Slot 2 names the package itself, whose first bytes satisfy the package signature.
  Picture picture = tx4_picture(4);
  ByteVec img = package({tx4_record(picture), tx4_record(picture)});
  put_u16(img, 8, 0), put_u16(img, 10, 1);
  RunResult run = unpack(img);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "kelp: scene_0002: container contains itself; skipped\n");
  EXPECT_EQ(outputs().size(), 2u);

  std::filesystem::remove(dir.path / "scene_0000.bmp");
  std::filesystem::remove(dir.path / "scene_0001.bmp");
  ByteVec deep = tx4_record(picture);
  for (int level = 0; level < 40; ++level) deep = package({deep});
  run = unpack(deep);
  EXPECT_EQ(run.exit_code, 0);
  std::string name = "scene";
  for (int level = 0; level < 32; ++level) name += "_0000";
  EXPECT_EQ(run.err, "kelp: " + name + ": containers nested more than 32 deep; skipped\n");
  EXPECT_TRUE(outputs().empty());
}

TEST_F(Unpack, EmptySourceFile) {
  RunResult run = unpack({});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "kelp: scene_0000: entry table runs past the end of its container\n");
}

}  // namespace
}  // namespace kelp::test
