// The element scanner walking a long header: (7FE0,0010) after 10,000 short elements.
#include <benchmark/benchmark.h>

#include "scanner/sifton.h"
#include "support/dicom_writer.h"

namespace {

const velmo::test::Bytes& LongHeader(int syntax) {
  static velmo::test::Bytes streams[3];
  velmo::test::Bytes& b = streams[syntax];
  if (b.empty()) {
    velmo::test::DicomWriter w(syntax);
    for (int i = 0; i < 10000; ++i) {
      w.Element(0x0009, static_cast<uint16_t>(0x1000 + i), "LO", "VALUE123");
    }
    w.PixelData(velmo::test::Bytes(1024, 0), "OW");
    b = w.bytes();
  }
  return b;
}

// args: syntax, mode
void BM_TagFindPixelDataAfter10000Elements(benchmark::State& state) {
  const int syntax = static_cast<int>(state.range(0));
  const int mode = static_cast<int>(state.range(1));
  const velmo::test::Bytes& b = LongHeader(syntax);
  for (auto _ : state) {
    const unsigned char* p =
        Dll_DcmTagFind(b.data(), static_cast<uint32_t>(b.size()), syntax, mode, 0x7F, 0xE0, 0x00, 0x10);
    if (p == nullptr) state.SkipWithError("pixel data not found");
    benchmark::DoNotOptimize(p);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}
BENCHMARK(BM_TagFindPixelDataAfter10000Elements)
    ->ArgNames({"syntax", "mode"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Args({2, 0})
    ->Unit(benchmark::kMicrosecond);

void BM_TagPositionPastEveryElement(benchmark::State& state) {
  const velmo::test::Bytes& b = LongHeader(1);
  for (auto _ : state) {
    const unsigned char* p =
        Dll_DcmTagPosition(b.data(), static_cast<int32_t>(b.size()), 1, 0, 0x7F, 0xE0, 0x00, 0x10);
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_TagPositionPastEveryElement)->Unit(benchmark::kMicrosecond);

}  // namespace
