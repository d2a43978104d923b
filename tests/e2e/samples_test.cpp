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

// Runs kelp on a sample and returns the names of the files it wrote.
std::vector<std::string> convert_sample(const std::string& sample,
                                        const std::vector<std::string>& options = {}) {
  TempDir dir;
  std::vector<std::string> args{kelp_binary(), fs::path(KELP_SOURCE_DIR) / "samples" / sample};
  args.insert(args.end(), options.begin(), options.end());
  RunResult run = run_kelp(dir.path, args);
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files_in(dir.path)) names.push_back(name);
  return names;
}

TEST(Samples, ConvertCleanly) {
  EXPECT_EQ(
      convert_sample("demo.img"),
      (std::vector<std::string>{"demo_0000.bmp", "demo_0001.bmp", "demo_0003_0000.bmp",
                                "demo_0003_0001.bmp", "demo_0005_0000.bmp", "demo_0005_0001.bmp"}));
  EXPECT_EQ(convert_sample("demo.dat"),
            (std::vector<std::string>{"demo_0001_0000.bmp", "demo_0003.bmp"}));
  std::string overlay = (fs::path(KELP_SOURCE_DIR) / "samples" / "overlay.bmp").string();
  if (overlay.find("/x") == std::string::npos && overlay.find("/y") == std::string::npos) {
    EXPECT_EQ(convert_sample("base.bmp", {"/x70", "/y40", "/b" + overlay}),
              std::vector<std::string>{"base-overlay.bmp"});
  }
}

}  // namespace
}  // namespace kelp::test
