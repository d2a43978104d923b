// Workers change nothing: for every source and fault, --jobs 2, 4 and 8 print, exit and write
// exactly what --jobs 1 does, byte for byte.
#include <gtest/gtest.h>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

struct JobsCase {
  std::string name;
  std::string source;
  std::vector<std::string> args;  // after --jobs N
  RunOptions options;             // faults to inject, limits
  int exit_code;                  // of every run
  std::string warning;            // a warning every run prints
};

Picture picture(std::uint16_t side, unsigned colours, unsigned seed) {
  return make_picture(side, varied_palette(colours, seed),
                      [=](unsigned x, unsigned y) { return (x * 7 + y * 3 + seed) % colours; });
}

// Textures straight in the package and in an archive, one of them too big to be copied out of
// the work buffer, a damaged record, MOT records, and slot 1 holding a package whose entry 1
// is named like the suffixed name of the existing scene_0001.bmp.
ByteVec scene() {
  ByteVec damaged = patched(tx8_record(picture(8, 256, 9)), 8, 0x7FFFFFFF);
  std::vector<ByteVec> in_archive{tx8_record(picture(600, 256, 1)), tx4_record(picture(5, 16, 2)),
                                  damaged, mot_record()};
  for (unsigned i = 0; i < 12; ++i) in_archive.push_back(tx8_record(picture(16 + i, 256, i)));
  return package({tx4_record(picture(33, 16, 3)),
                  package({mot_record(), tx8_record(picture(64, 256, 4))}), damaged,
                  archive(in_archive), tx8_record(picture(300, 256, 5)), mot_record()});
}

std::vector<JobsCase> jobs_cases() {
  std::vector<std::string> faults{"LD_PRELOAD=" KELP_FAULTS,
                                  "ASAN_OPTIONS=verify_asan_link_order=0"};
  auto with = [&](std::string fault) {
    RunOptions options{faults};
    options.environment.push_back(std::move(fault));
    return options;
  };
  RunOptions few_files;
  few_files.open_files_limit = 6;
  return {
      {"bitmaps", "scene.img", {}, {}, 0, "palette runs past"},
      {"PNGs and raw entries", "scene.img", {"--png", "--raw"}, {}, 0, "palette runs past"},
      {"into a folder", "scene.img", {"-o", "out", "--raw"}, {}, 0, "palette runs past"},
      {"creates that fail", "scene.img", {}, with("KELP_FAULT_CREATE_FROM=6"), 1, "cannot create"},
      {"writes that fail",
       "scene.img",
       {},
       with("KELP_FAULT_WRITE_AFTER=500000"),
       1,
       "cannot write"},
      {"PNG writes that fail",
       "scene.img",
       {"--png"},
       with("KELP_FAULT_WRITE_AFTER=3000"),
       1,
       "cannot write"},
      {"the output limit", "fan.img", {}, {}, 1, "output would pass"},
      {"a source read in halves", "halves.img", {}, {}, 0, ""},
      {"archive entries decoded two at once", "pairs.dat", {"--raw"}, {}, 0, "coded data runs"},
      {"few open files", "scene.img", {"--raw"}, few_files, 0, "palette runs past"},
      {"import", "scene.img", {"--import", "edit", "-o", "out"}, {}, 0, "colours quantized"},
      {"import refused", "scene.img", {"--import", "broken", "-o", "out"}, {}, 1, "nothing was"},
  };
}

struct Outcome {
  RunResult run;
  std::map<std::string, ByteVec> files;
};

Outcome run_with_jobs(const JobsCase& c, const std::string& jobs) {
  TempDir dir;
  write_file(dir.path / "scene.img", scene());
  write_file(dir.path / "fan.img", fan_out(11, tx4_record(picture(128, 16, 6))));
  if (c.source == "halves.img") {  // 64 MiB or more is read in two halves at once by workers
    write_file(dir.path / "halves.img",
               package({tx4_record(picture(20, 16, 7)), ByteVec(std::size_t{64} << 20, 0x55),
                        tx8_record(picture(24, 256, 8))}));
  }
  // Entries coded in 256 KiB or more are decoded two at once; a small one between them, and a
  // damaged one before the last one, which is cut short.
  ByteVec pairs = archive(
      {tx8_record(picture(600, 256, 1)), tx8_record(picture(610, 256, 2)), mot_record(),
       patched(tx8_record(picture(620, 256, 3)), 8, 0x7FFFFFFF), tx8_record(picture(630, 256, 4))},
      Coding::literals);
  pairs.resize(pairs.size() - 1000);
  write_file(dir.path / "pairs.dat", pairs);
  write_file(dir.path / "scene_0001.bmp", text_bytes("existing work"));
  // Images to import: the PNGs of the textures, one replaced by a bitmap of many colours; and
  // the same with one PNG broken.
  run_kelp(dir.path, {kelp_binary(), "--jobs", "1", "--png", "-o", "edit", "scene.img"});
  fs::remove(dir.path / "edit" / "scene_0000.png");
  write_file(dir.path / "edit" / "scene_0000.bmp", bitmap_file(varied_image(33, 33, 1)));
  fs::copy(dir.path / "edit", dir.path / "broken");
  write_file(dir.path / "broken" / "scene_0003_0005.png", text_bytes("not a picture"));
  fs::create_directory(dir.path / "out");
  write_file(dir.path / "out" / "scene_0000.bmp", text_bytes("more work"));
  std::vector<std::string> args{kelp_binary(), "--jobs", jobs};
  args.insert(args.end(), c.args.begin(), c.args.end());
  args.push_back(c.source);
  Outcome outcome{run_kelp(dir.path, args, c.options), files_in(dir.path)};
  for (const auto& [name, bytes] : files_in(dir.path / "out")) outcome.files["out/" + name] = bytes;
  return outcome;
}

TEST(Jobs, EveryWorkerCountWritesWhatOneThreadWrites) {
  for (const JobsCase& c : jobs_cases()) {
    SCOPED_TRACE(c.name);
    Outcome one = run_with_jobs(c, "1");
    EXPECT_EQ(one.run.exit_code, c.exit_code) << one.run.err;
    EXPECT_NE(one.run.err.find(c.warning), std::string::npos) << one.run.err;
    for (std::string jobs : {"2", "4", "8"}) {
      SCOPED_TRACE("--jobs " + jobs);
      Outcome many = run_with_jobs(c, jobs);
      EXPECT_EQ(many.run.exit_code, c.exit_code);
      EXPECT_EQ(many.run.out, one.run.out);
      EXPECT_EQ(many.run.err, one.run.err);
      EXPECT_TRUE(many.files == one.files);
    }
  }
}

}  // namespace
}  // namespace kelp::test
