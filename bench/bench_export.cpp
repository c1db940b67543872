// Export speed: the BMP file image of a pane snapshot and JPEG encoding at quality 80
// of a grey display bitmap and of a colour snapshot.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "shell/export.h"

namespace {

using namespace velmo;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A pane snapshot block: a smooth picture with noise, w x h.
std::vector<uint8_t> Snapshot(int w, int h, bool colour) {
  std::vector<uint8_t> b(40 + size_t(w) * h * 4, 0);
  Put32(b, 0, 40);
  Put32(b, 4, w);
  Put32(b, 8, h);
  b[12] = 1;
  b[14] = 32;
  std::mt19937 rng(3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = b.data() + 40 + (size_t(y) * w + x) * 4;
      const uint8_t v = uint8_t((x + y) / 8 + rng() % 16);
      p[0] = v;
      p[1] = colour ? uint8_t(x / 4) : v;
      p[2] = colour ? uint8_t(y / 4) : v;
    }
  return b;
}

void BM_SnapshotFileImage(benchmark::State& state) {
  const std::vector<uint8_t> block = Snapshot(1000, 700, true);
  for (auto _ : state) benchmark::DoNotOptimize(SnapshotFileImage(block));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block.size()));
}
BENCHMARK(BM_SnapshotFileImage)->Unit(benchmark::kMillisecond);

void BM_EncodeJpeg(benchmark::State& state) {
  const bool colour = state.range(0) != 0;
  const std::vector<uint8_t> file = SnapshotFileImage(Snapshot(1000, 700, colour));
  size_t bytes = 0;
  for (auto _ : state) {
    const std::vector<uint8_t> jpeg = EncodeJpeg(file, 80);
    bytes = jpeg.size();
    benchmark::DoNotOptimize(jpeg.data());
  }
  state.counters["jpegBytes"] = double(bytes);
}
BENCHMARK(BM_EncodeJpeg)->Arg(0)->Arg(1)->ArgName("colour")->Unit(benchmark::kMillisecond);

}  // namespace
