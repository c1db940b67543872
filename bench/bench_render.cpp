// Display conversion speed: window mapping, enlarged interpolation, colour
// brightness/saturation and the two filters.
#include <benchmark/benchmark.h>

#include <random>

#include "dicom/dicom_image.h"
#include "render/convert.h"
#include "render/filters.h"

namespace {

using namespace velmo;

// A 512 x 512 CT-like slice: a disc of soft tissue with noise in air.
DicomImage CtSlice() {
  DicomImage im;
  im.rows = im.columns = 512;
  im.bitsAllocated = 16;
  im.bitsStored = 12;
  im.frameCount = 1;
  im.rescaleSlope = 1.0f;
  im.rescaleIntercept = -1024;
  im.level = 40;
  im.width = 400;
  im.pixelData.resize(512 * 512 * 2);
  std::mt19937 rng(1);
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) {
      const int dx = x - 256, dy = y - 256;
      int v = dx * dx + dy * dy < 200 * 200 ? 1000 + int(rng() % 200) : int(rng() % 60);
      if ((x / 40 + y / 40) % 7 == 0) v += 600;
      im.pixelData[(size_t(y) * 512 + x) * 2] = uint8_t(v);
      im.pixelData[(size_t(y) * 512 + x) * 2 + 1] = uint8_t(v >> 8);
    }
  return im;
}

DicomImage RgbImage() {
  DicomImage im;
  im.rows = im.columns = 512;
  im.bitsAllocated = im.bitsStored = 8;
  im.isColour = 1;
  im.photometric = "RGB";
  im.frameCount = 1;
  im.level = 150;
  im.width = 200;
  im.pixelData.resize(512 * 512 * 3);
  std::mt19937 rng(2);
  for (size_t i = 0; i < im.pixelData.size(); i += 3) {
    const size_t p = i / 3;
    im.pixelData[i] = uint8_t(p % 512 / 2);
    im.pixelData[i + 1] = uint8_t(p / 512 / 2);
    im.pixelData[i + 2] = uint8_t(rng());
  }
  return im;
}

void Convert(benchmark::State& state, DicomImage im, int canvas, float zoom, Interpolation interpolation) {
  RenderContext ctx;
  ctx.AllocateWorkBuffers();
  PaneDisplay pane;
  pane.canvasWidth = pane.canvasHeight = canvas;
  pane.interpolation = interpolation;
  if (zoom != 0.0f) {
    pane.fitMode = false;
    pane.zoomFactor = zoom;
  }
  for (auto _ : state) {
    pane.needsConversion = true;
    if (ConvertToDisplay(ctx, pane, im) != ConvertResult::kDrawn) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(im.displayBitmap.data());
  }
}

void BM_Render_Ct512Fit512Nearest(benchmark::State& state) {
  Convert(state, CtSlice(), 512, 0.0f, Interpolation::kBilinear);
}
void BM_Render_Ct512Zoom2On1024Bilinear(benchmark::State& state) {
  Convert(state, CtSlice(), 1024, 2.0f, Interpolation::kBilinear);
}
void BM_Render_Ct512Zoom2On1024Bicubic(benchmark::State& state) {
  Convert(state, CtSlice(), 1024, 2.0f, Interpolation::kBicubic);
}
void BM_Render_Rgb512BrightnessSaturation(benchmark::State& state) {
  Convert(state, RgbImage(), 512, 0.0f, Interpolation::kBilinear);
}

std::vector<uint8_t> Picture1024() {
  std::vector<uint8_t> px(1024 * 1024);
  std::mt19937 rng(3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i % 1024) / 4 + rng() % 32);
  return px;
}

void BM_Render_Median1024(benchmark::State& state) {
  const std::vector<uint8_t> src = Picture1024();
  std::vector<uint8_t> px = src;
  for (auto _ : state) {
    state.PauseTiming();
    px = src;
    state.ResumeTiming();
    MedianFilterInPlace(px.data(), 1024, 1024);
    benchmark::DoNotOptimize(px.data());
  }
}
void BM_Render_Sharpen1024(benchmark::State& state) {
  std::vector<uint8_t> px = Picture1024(), scratch(px.size());
  for (auto _ : state) {
    SharpenFilter(px.data(), 1024, 1024, scratch.data());
    benchmark::DoNotOptimize(px.data());
  }
}

BENCHMARK(BM_Render_Ct512Fit512Nearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Render_Ct512Zoom2On1024Bilinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Render_Ct512Zoom2On1024Bicubic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Render_Rgb512BrightnessSaturation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Render_Median1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Render_Sharpen1024)->Unit(benchmark::kMillisecond);

}  // namespace
