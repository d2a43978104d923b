// The bundled samples: up to date with their generator, and converted cleanly.
#include <gtest/gtest.h>

#include <cstdlib>

#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

TEST(Samples, MatchTheirGenerator) {
  TempDir fresh;
  std::string command = std::string(MAKE_SAMPLES) + " " + fresh.path.string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto made = files_in(fresh.path);
  ASSERT_FALSE(made.empty());
  for (const auto& [name, bytes] : made) {
    EXPECT_TRUE(read_file(fs::path(KELP_SOURCE_DIR) / "samples" / name) == bytes)
        << "samples/" << name << " is stale: rebuild the samples target";
  }
}

TEST(Samples, DemoPackageConvertsCleanly) {
  TempDir dir;
  RunResult run =
      run_kelp(dir.path, {kelp_binary(), fs::path(KELP_SOURCE_DIR) / "samples" / "demo.img"});
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  auto files = files_in(dir.path);
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"demo_0000.bmp", "demo_0001.bmp", "demo_0003_0000.bmp",
                                             "demo_0003_0001.bmp"}));
}

}  // namespace
}  // namespace kelp::test
