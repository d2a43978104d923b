// Unpacking compressed archives end to end: ".dat" sources and archives nested in packages.
#include <gtest/gtest.h>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

Picture tx4_picture(unsigned seed) {
  return make_picture(8, varied_palette(16, seed),
                      [=](unsigned x, unsigned y) { return (x * y + seed) % 16; });
}

Picture tx8_picture(unsigned seed) {
  return make_picture(32, varied_palette(256, seed),
                      [=](unsigned x, unsigned y) { return (x / 4 * 8 + y / 4 + seed) % 256; });
}

class Archive : public ::testing::Test {
 protected:
  RunResult unpack(const std::string& source, const ByteVec& bytes) {
    write_file(dir.path / source, bytes);
    RunResult run = run_kelp(dir.path, {kelp_binary(), source});
    std::filesystem::remove(dir.path / source);
    return run;
  }
  std::map<std::string, ByteVec> outputs() { return files_in(dir.path); }
  TempDir dir;
};

TEST_F(Archive, EntriesAreNamedByTheirPlaceInTheTable) {
  Picture a = tx4_picture(1), b = tx8_picture(2), c = tx4_picture(3);
  ByteVec dat = archive({mot_record(), package({tx8_record(b)}), text_bytes("junk entry"),
                         tx4_record(a), archive({tx4_record(c)})});
  RunResult run = unpack("demo.dat", dat);
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  // The nested archive (entry 4) is passed over: archives are only unpacked inside packages.
  std::map<std::string, ByteVec> want{{"demo_0001_0000.bmp", expected_bitmap(b)},
                                      {"demo_0003.bmp", expected_bitmap(a)}};
  EXPECT_TRUE(outputs() == want);
}

TEST_F(Archive, LiteralCodingAndUpperCaseExtension) {
  Picture a = tx8_picture(4);
  EXPECT_EQ(unpack("LIT.DAT", archive({tx8_record(a)}, Coding::literals)).exit_code, 0);
  EXPECT_EQ(outputs()["LIT_0000.bmp"], expected_bitmap(a));
}

TEST_F(Archive, ArchivesInPackagesAndPackagesInArchivesAreWalked) {
  Picture a = tx4_picture(5), b = tx8_picture(6), c = tx4_picture(7);
  // scene.img: entry 1 is an archive whose entry 0 is a package holding another archive.
  ByteVec inner = archive({tx4_record(c)});
  ByteVec middle = archive({package({tx8_record(b), inner}), tx4_record(a)});
  ByteVec img = package({mot_record(), middle});
  EXPECT_EQ(unpack("scene.img", img).exit_code, 0);
  std::map<std::string, ByteVec> want{{"scene_0001_0000_0000.bmp", expected_bitmap(b)},
                                      {"scene_0001_0000_0001_0000.bmp", expected_bitmap(c)},
                                      {"scene_0001_0001.bmp", expected_bitmap(a)}};
  EXPECT_TRUE(outputs() == want);
}

TEST_F(Archive, EmptyArchivesAndEmptyEntriesWriteNothing) {
  ByteVec empty = archive({});
  RunResult run = unpack("none.dat", empty);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  ByteVec zero_length = archive({tx4_record(tx4_picture(1))});
  put_u32(zero_length, 12, 0);  // entry 0's coded length
  run = unpack("zero.dat", zero_length);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(outputs().empty());
}

TEST_F(Archive, TableOrderDecidesNamesAndTheHeaderNeedNotBeAnArchiveSignature) {
  Picture a = tx4_picture(8), b = tx8_picture(9);
  ByteVec dat = archive({tx4_record(a), tx8_record(b)});
  std::uint32_t first = dat[4] | dat[5] << 8, second = dat[8] | dat[9] << 8;
  put_u32(dat, 4, second), put_u32(dat, 8, first);
  // Entries now start later than 8 + 4 * count.
  ByteVec shifted(dat.begin(), dat.begin() + 12);
  shifted.resize(40, 0xCC);
  shifted.insert(shifted.end(), dat.begin() + 12, dat.end());
  put_u32(shifted, 4, second + 28), put_u32(shifted, 8, first + 28);
  EXPECT_EQ(unpack("order.dat", shifted).exit_code, 0);
  std::map<std::string, ByteVec> want{{"order_0000.bmp", expected_bitmap(b)},
                                      {"order_0001.bmp", expected_bitmap(a)}};
  EXPECT_TRUE(outputs() == want);
}

TEST_F(Archive, ShortDecodedRecordsReadOnIntoZeros) {
  Picture picture = tx4_picture(10);
  ByteVec record = tx4_record(picture);
  record.resize(record.size() - 8);  // the last 16 pixels' indices are cut off: index 0
  for (std::size_t k = picture.indices.size() - 16; k < picture.indices.size(); ++k)
    picture.indices[k] = 0;
  EXPECT_EQ(unpack("short.dat", archive({record})).exit_code, 0);
  EXPECT_EQ(outputs()["short_0000.bmp"], expected_bitmap(picture));
}

TEST_F(Archive, DamagedArchivesAreReadUpToTheirEnd) {
  Picture a = tx8_picture(11);
  ByteVec cut = archive({tx8_record(a), tx8_record(a)}, Coding::literals);
  // Entry 1's literal coding loses its last 100 bytes: 11 groups of 9, and the last byte of the
  // group before, so 8 * 11 + 1 decoded bytes (indices) are missing and read as index 0.
  cut.resize(cut.size() - 100);
  RunResult run = unpack("cut.dat", cut);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(
      run.err,
      "kelp: cut_0001: coded data runs past the end of its container; decoding what is there\n");
  Picture damaged = a;
  std::fill(damaged.indices.end() - 89, damaged.indices.end(), 0);
  auto files = outputs();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files["cut_0000.bmp"], expected_bitmap(a));
  EXPECT_EQ(files["cut_0001.bmp"], expected_bitmap(damaged));

  // A count far beyond the table: the table runs on into the entries, up to the end.
  ByteVec huge_count = archive({tx4_record(tx4_picture(1))});
  put_u32(huge_count, 0, 0xFFFFFFFF);
  run = unpack("count.dat", huge_count);
  EXPECT_EQ(run.exit_code, 0);
  std::string last = "offset table runs past the end of its container\n";
  ASSERT_GT(run.err.size(), last.size());
  EXPECT_EQ(run.err.substr(run.err.size() - last.size()), last);

  run = unpack("tiny.dat", {1, 0});
  EXPECT_EQ(run.err, "kelp: tiny: archive header runs past the end of its container\n");
}

}  // namespace
}  // namespace kelp::test
