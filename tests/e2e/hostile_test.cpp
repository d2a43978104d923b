// Damaged and hostile sources, end to end under a timeout: kelp must end (no crash, no hang)
// with 0, 1 or 255, write nothing outside the current directory and touch no existing file.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

struct Hostile {
  std::string name;                  // what the case is
  std::string source;                // the source's file name
  std::function<ByteVec()> bytes;    // its contents
  std::vector<std::string> options;  // further arguments
  int exit_code;                     // what kelp must end with
  std::string err_contains;          // a line kelp must report, if any
};

Picture tiny_picture() {
  return make_picture(2, varied_palette(16, 1), [](unsigned x, unsigned y) { return x + y; });
}

// An archive entry that decodes to 32 MiB of one byte, listed `times` times.
ByteVec decode_bomb(int times) {
  // 'z' and seven references that each copy 18 zeros from the window, then groups of eight.
  ByteVec coded{0x01, 'z'};
  for (int k = 0; k < 7; ++k) coded.insert(coded.end(), {0xEE, 0xFF});
  for (std::size_t produced = 1 + 7 * 18; produced < (std::size_t{32} << 20); produced += 8 * 18) {
    coded.push_back(0);
    for (int k = 0; k < 8; ++k) coded.insert(coded.end(), {0xEE, 0xFF});
  }
  ByteVec dat(4 + 4 * times + 4, 0);
  put_u32(dat, 0, static_cast<std::uint32_t>(times));
  for (int i = 0; i < times; ++i) put_u32(dat, 4 + 4 * i, static_cast<std::uint32_t>(dat.size()));
  ByteVec length(4, 0);
  put_u32(length, 0, static_cast<std::uint32_t>(coded.size()));
  append(dat, length);
  append(dat, coded);
  return dat;
}

ByteVec nested_archives(int depth) {
  ByteVec inner = tx4_record(tiny_picture());
  for (int i = 0; i < depth; ++i) inner = package({archive({package({inner})})});
  return inner;
}

ByteVec bitmap_with(std::uint32_t width, std::uint32_t height, std::size_t pixel_bytes) {
  ByteVec bytes = bitmap_header(width, height);
  bytes.resize(54 + pixel_bytes, 0x80);
  return bytes;
}

std::vector<Hostile> hostile_cases() {
  ByteVec tx4 = tx4_record(tiny_picture());
  return {
      {"self-reference",
       "self.img",
       [=] {
         ByteVec p = package({tx4, tx4});
         put_u16(p, 8, 0), put_u16(p, 10, 1);
         return p;
       },
       {},
       0,
       "contains itself"},
      {"deep nesting",
       "deep.img",
       [=] {
         ByteVec p = tx4;
         for (int i = 0; i < 200; ++i) p = package({p});
         return p;
       },
       {},
       0,
       "nested more than 32"},
      {"fan-out",
       "fan.img",
       [] { return fan_out(31, mot_record()); },
       {},
       1,
       "entries visited; stopping"},
      {"fan-out of textures",
       "fantex.img",
       [=] { return fan_out(24, tx4); },
       {},
       1,
       "output would pass"},
      {"decoding bomb", "bomb.dat", [] { return decode_bomb(400); }, {}, 1, "decoding passed"},
      {"decoding bomb, listed",
       "bomb.dat",
       [] { return decode_bomb(400); },
       {"--list"},
       1,
       "decoding passed"},
      {"archives in archives",
       "nested.img",
       [] { return nested_archives(12); },
       {},
       0,
       "archives nested more than 8"},
      {"offset table past the end",
       "table.dat",
       [=] { return patched(archive({tx4}), 0, 1000); },
       {},
       0,
       "offset table runs past the end"},
      {"count 0xFFFFFFFF",
       "count.dat",
       [=] { return patched(archive({tx4}), 0, 0xFFFFFFFF); },
       {},
       0,
       ""},
      {"coded length past the end",
       "coded.dat",
       [=] { return patched(archive({tx4}), 12, 0xFFFFFFF0); },
       {},
       0,
       "coded data runs past the end"},
      {"side 65535",
       "side.img",
       [=] {
         ByteVec r = tx4;
         put_u16(r, 4, 65535);
         return package({r});
       },
       {},
       0,
       "too large"},
      {"side 32767 without its data",
       "big.img",
       [=] {
         ByteVec r = tx4;
         put_u16(r, 4, 32767);
         return package({r});
       },
       {},
       0,
       "index data runs past"},
      {"palette past the end",
       "palette.img",
       [=] {
         ByteVec r = tx4;
         put_u32(r, 8, 0xFFFFFFF0);
         return package({r});
       },
       {},
       0,
       "palette runs past"},
      {"empty .img", "empty.img", [] { return ByteVec{}; }, {}, 0, "entry table runs past"},
      {"one-byte .img", "one.img", [] { return ByteVec{7}; }, {}, 0, "entry table runs past"},
      {"empty .dat", "empty.dat", [] { return ByteVec{}; }, {}, 0, "archive header runs past"},
      {"one-byte .dat", "one.dat", [] { return ByteVec{1}; }, {}, 0, "archive header runs past"},
      {"empty .bmp", "empty.bmp", [] { return ByteVec{}; }, {"/bover.bmp"}, 255, ""},
      {"huge bitmap",
       "huge.bmp",
       [] { return bitmap_with(0x7FFFFFFF, 0x7FFFFFFF, 64); },
       {"/bover.bmp"},
       255,
       ""},
      {"negative height",
       "neg.bmp",
       [] { return bitmap_with(4, 0xFFFFFFFC, 64); },
       {"/bover.bmp"},
       255,
       ""},
      {"a composite of gigabytes",
       "line.bmp",
       [] { return bitmap_with(32767, 1, 4 * 32767); },
       {"/bcolumn.bmp"},
       255,
       ""},
      {"warning flood",
       "flood.img",
       [] { return fan_out(40, mot_record()); },
       {},
       1,
       "more warnings left out: containers nested more than 32 deep"},
      {"empty but tall bitmaps",
       "tall.bmp",
       [] { return bitmap_with(0, 1375993857, 54); },
       {"/bflat.bmp"},
       0,
       ""},
      {"overlay offsets at the extremes",
       "base.bmp",
       [] { return bitmap_with(4, 4, 64); },
       {"/x2147483647", "/y-2147483648", "/bover.bmp"},
       0,
       ""},
  };
}

TEST(Hostile, EveryCaseEndsCleanlyAndTouchesNothingElse) {
  TempDir parent;
  write_file(parent.path / "neighbour.bmp", text_bytes("outside"));
  for (const Hostile& c : hostile_cases()) {
    SCOPED_TRACE(c.name);
    fs::path dir = parent.path / "run";
    fs::create_directory(dir);
    write_file(dir / c.source, c.bytes());
    write_file(dir / "over.bmp", bitmap_with(3, 3, 36));
    write_file(dir / "column.bmp", bitmap_with(1, 32767, 4 * 32767));
    write_file(dir / "flat.bmp", bitmap_with(0, 0x7FFFFFFF, 0));
    std::string stem = c.source.substr(0, c.source.find('.'));
    write_file(dir / (stem + "_0000.bmp"), text_bytes("existing work"));
    auto before = files_in(dir);
    std::vector<std::string> args{kelp_binary(), c.source};
    args.insert(args.end(), c.options.begin(), c.options.end());
    RunResult run = run_kelp(
        dir, args,
        {.environment = {}, .unprivileged = false, .file_size_limit = 0, .timeout_seconds = 60});
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err.substr(0, 500);
    if (!c.err_contains.empty()) {
      EXPECT_NE(run.err.find(c.err_contains), std::string::npos) << run.err.substr(0, 500);
    }
    EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1010);
    auto after = files_in(dir);
    for (const auto& [name, bytes] : before)
      EXPECT_TRUE(after[name] == bytes) << name << " changed";
    EXPECT_EQ(files_in(parent.path).size(), 1u);  // only the neighbour
    EXPECT_EQ(read_file(parent.path / "neighbour.bmp"), text_bytes("outside"));
    fs::remove_all(dir);
  }
}

TEST(Hostile, SourcesLargerThanMemoryEndTheRunCleanly) {
#ifdef KELP_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  TempDir dir;
  write_file(dir.path / "sparse.img", {});
  fs::resize_file(dir.path / "sparse.img", std::uint64_t{3} << 30);  // a sparse file
  RunResult run = run_kelp(dir.path, {kelp_binary(), "sparse.img"},
                           {.environment = {},
                            .unprivileged = false,
                            .file_size_limit = 0,
                            .timeout_seconds = 60,
                            .address_space_limit = 1L << 30});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.err, "kelp: sparse.img: not enough memory; stopped\n");
  auto entries = fs::directory_iterator(dir.path);
  EXPECT_EQ(std::distance(fs::begin(entries), fs::end(entries)), 1);  // the source alone
}

TEST(Hostile, DirectoriesNamedLikeSourcesAreNotSources) {
  TempDir dir;
  for (std::string name : {"scene.img", "demo.dat", "base.bmp"}) {
    fs::create_directory(dir.path / name);
    RunResult run = run_kelp(dir.path, {kelp_binary(), name});
    EXPECT_EQ(run.out, banner_text() + "\tError\tsource file not found\n");
    EXPECT_EQ(run.exit_code, 255);
  }
}

}  // namespace
}  // namespace kelp::test
