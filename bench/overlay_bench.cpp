// Composing two 4096 x 4096 bitmaps, files included, in a scratch directory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "builders.h"
#include "files.h"
#include "overlay/overlay.h"

namespace {

void BM_compose_overlay_4096(benchmark::State& state) {
  kelp::test::TempDir dir;
  kelp::test::InDirectory inside(dir.path);
  kelp::test::ByteVec base = kelp::test::bitmap_file(kelp::test::varied_image(4096, 4096, 1));
  kelp::test::write_file("over.bmp",
                         kelp::test::bitmap_file(kelp::test::varied_image(4096, 4096, 2)));
  for (auto _ : state) {
    kelp::OverlayRun run = kelp::compose_overlay(base, "base.bmp", "/x100 /y-50 /bover.bmp",
                                                 kelp::CodePage::single_byte);
    if (run.exit_code != 0) state.SkipWithError("compose failed");
    state.PauseTiming();
    std::filesystem::remove("base-over.bmp");
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * base.size()));
}
BENCHMARK(BM_compose_overlay_4096)->Unit(benchmark::kMillisecond);

}  // namespace
