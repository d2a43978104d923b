// The listing end to end: text and JSON Lines for built containers, damaged entries included.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

Picture picture(std::uint16_t side, unsigned colours) {
  return make_picture(side, varied_palette(colours, side),
                      [=](unsigned x, unsigned y) { return (x + y) % colours; });
}

// scene.img: a TX8, a package holding a TX4 and an archive (a MOT record, a TX8), a texture
// whose palette lies past the end, and an unrecognised entry.
ByteVec scene() {
  ByteVec damaged = tx4_record(picture(2, 16));
  put_u32(damaged, 8, 0xFFFFFF00);
  ByteVec inner = package({tx4_record(picture(3, 16)),
                           archive({mot_record(), tx8_record(picture(2, 256))}, Coding::literals)});
  return package({tx8_record(picture(4, 256)), inner, damaged, text_bytes("other")});
}

TEST(List, TextShowsTheTreeAndWhatAnUnpackWrites) {
  TempDir dir;
  write_file(dir.path / "scene.img", scene());
  RunResult run = run_kelp(dir.path, {kelp_binary(), "--list", "scene.img"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "kelp: scene_0002: palette runs past the end of its container; skipped\n");
  EXPECT_EQ(run.out,
            "scene_0000 TX8 offset 2048 size 2048 side 4 colours 256\n"
            "scene_0001 package offset 4096 size 6144\n"
            "  scene_0001_0000 TX4 offset 2048 size 2048 side 3 colours 16\n"
            "  scene_0001_0001 archive offset 4096 size 2048\n"
            "    scene_0001_0001_0000 MOT offset 16 size 64 coded 72\n"
            "    scene_0001_0001_0001 TX8 offset 92 size 1044 coded 1175 side 2 colours 256\n"
            "scene_0002 damaged offset 10240 size 2048: palette runs past the end of its "
            "container; skipped\n"
            "scene_0003 other offset 12288 size 2048\n"
            "3 textures, 1 package, 1 archive, 1 damaged; unpacking writes 278 bytes of bitmaps\n");
  EXPECT_EQ(files_in(dir.path).size(), 1u);
}

TEST(List, JsonHasOneObjectPerEntry) {
  TempDir dir;
  write_file(dir.path / "scene.img", scene());
  RunResult run = run_kelp(dir.path, {kelp_binary(), "scene.img", "--json"});
  EXPECT_EQ(run.exit_code, 0);
  std::vector<nlohmann::json> lines;
  std::istringstream out(run.out);
  for (std::string line; std::getline(out, line);) lines.push_back(nlohmann::json::parse(line));
  const std::vector<nlohmann::json> want{
      {{"name", "scene_0000"},
       {"kind", "TX8"},
       {"depth", 0},
       {"offset", 2048},
       {"size", 2048},
       {"side", 4},
       {"colours", 256}},
      {{"name", "scene_0001"}, {"kind", "package"}, {"depth", 0}, {"offset", 4096}, {"size", 6144}},
      {{"name", "scene_0001_0000"},
       {"kind", "TX4"},
       {"depth", 1},
       {"offset", 2048},
       {"size", 2048},
       {"side", 3},
       {"colours", 16}},
      {{"name", "scene_0001_0001"},
       {"kind", "archive"},
       {"depth", 1},
       {"offset", 4096},
       {"size", 2048}},
      {{"name", "scene_0001_0001_0000"},
       {"kind", "MOT"},
       {"depth", 2},
       {"offset", 16},
       {"size", 64},
       {"coded_size", 72}},
      {{"name", "scene_0001_0001_0001"},
       {"kind", "TX8"},
       {"depth", 2},
       {"offset", 92},
       {"size", 1044},
       {"coded_size", 1175},
       {"side", 2},
       {"colours", 256}},
      {{"name", "scene_0002"},
       {"kind", "damaged"},
       {"depth", 0},
       {"offset", 10240},
       {"size", 2048},
       {"reason", "palette runs past the end of its container; skipped"}},
      {{"name", "scene_0003"}, {"kind", "other"}, {"depth", 0}, {"offset", 12288}, {"size", 2048}},
  };
  EXPECT_EQ(lines, want);
}

}  // namespace
}  // namespace kelp::test
