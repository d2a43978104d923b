// Decoder throughput against a textbook per-byte ring-buffer decoder, and the cost per entry of
// decoding many small entries into one work buffer.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "builders.h"
#include "containers/lzss.h"
#include "reference_lzss.h"

namespace {

using kelp::test::ByteVec;

// TX8 records of smooth, tiled and noisy pictures, as the game's textures are.
ByteVec texture_like_data() {
  ByteVec data;
  auto palette = kelp::test::varied_palette(256, 7);
  kelp::test::append(
      data, kelp::test::tx8_record(kelp::test::make_picture(
                512, palette, [](unsigned x, unsigned y) { return (x / 3 + y / 5) & 0xFF; })));
  kelp::test::append(
      data,
      kelp::test::tx8_record(kelp::test::make_picture(512, palette, [](unsigned x, unsigned y) {
        return static_cast<unsigned>(128 + 60 * std::sin(x / 9.0) + 60 * std::cos(y / 13.0));
      })));
  kelp::test::append(
      data, kelp::test::tx4_record(kelp::test::make_picture(
                512, palette, [](unsigned x, unsigned y) { return ((x / 16) ^ (y / 16)) & 15; })));
  kelp::test::append(data, kelp::test::tx8_record(
                               kelp::test::make_picture(256, palette, [](unsigned x, unsigned y) {
                                 return (x * 7 + y * 13 + (x * y) % 5) & 0xFF;
                               })));
  return data;
}

const ByteVec& coded_textures() {
  static const ByteVec coded = kelp::lzss_encode(texture_like_data());
  return coded;
}

void BM_lzss_decode(benchmark::State& state) {
  const ByteVec& coded = coded_textures();
  kelp::WorkBuffer work = kelp::make_work_buffer();
  std::size_t decoded = 0;
  for (auto _ : state) {
    decoded = kelp::lzss_decode(coded, work);
    benchmark::DoNotOptimize(work.output());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * decoded));
}
BENCHMARK(BM_lzss_decode);

void BM_textbook_decode(benchmark::State& state) {
  const ByteVec& coded = coded_textures();
  ByteVec out(kelp::max_decoded_size);
  std::size_t decoded = 0;
  for (auto _ : state) {
    decoded =
        kelp::test::reference_lzss_decode_into(coded.data(), coded.size(), out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * decoded));
}
BENCHMARK(BM_textbook_decode);

// Small entries decoded one after another into the same work buffer, as in an archive of
// thousands of small textures: the time per entry.
void BM_lzss_decode_small_entries(benchmark::State& state) {
  auto palette = kelp::test::varied_palette(16, 3);
  ByteVec record = kelp::test::tx4_record(
      kelp::test::make_picture(32, palette, [](unsigned x, unsigned y) { return (x + y) & 15; }));
  ByteVec coded = kelp::lzss_encode(record);
  kelp::WorkBuffer work = kelp::make_work_buffer();
  for (auto _ : state) benchmark::DoNotOptimize(kelp::lzss_decode(coded, work));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_lzss_decode_small_entries);

}  // namespace
