// TX4 and TX8 conversion of 512 x 512 textures, the bitmap file written (to /dev/shm where there
// is one) and removed outside the timing.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "builders.h"
#include "files.h"
#include "texture/texture.h"

namespace {

void convert_repeatedly(benchmark::State& state, const kelp::test::ByteVec& record,
                        unsigned bits_per_index) {
  kelp::test::TempDir dir;
  kelp::test::InDirectory inside(dir.path);
  kelp::WriteBuffer scratch;
  for (auto _ : state) {
    kelp::Result<kelp::TextureRecord> texture = kelp::locate_texture(record, bits_per_index);
    kelp::OutputFile out = kelp::create_output_file("t.bmp");
    if (!texture || !out.created || !kelp::write_texture_file(out, *texture, scratch)) {
      state.SkipWithError("not written");
    }
    state.PauseTiming();
    std::filesystem::remove("t.bmp");
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (54 + 4 * 512 * 512)));
}

kelp::test::Picture picture(unsigned colours) {
  return kelp::test::make_picture(
      512, kelp::test::varied_palette(colours, 5),
      [=](unsigned x, unsigned y) { return (x * 3 + y * 7 + x / 5) % colours; });
}

void BM_convert_tx8_512(benchmark::State& state) {
  convert_repeatedly(state, kelp::test::tx8_record(picture(256)), kelp::tx8_index_bits);
}
BENCHMARK(BM_convert_tx8_512);

void BM_convert_tx4_512(benchmark::State& state) {
  convert_repeatedly(state, kelp::test::tx4_record(picture(16)), kelp::tx4_index_bits);
}
BENCHMARK(BM_convert_tx4_512);

}  // namespace
