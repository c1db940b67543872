// Measurement speed: ROI statistics of a large ellipse (recomputed at every mouse move
// while a ROI is dragged) and one pane's drawing of a full set of measurements.
#include <benchmark/benchmark.h>

#include <random>

#include "dicom/dicom_image.h"
#include "measure/measurement.h"
#include "render/geometry.h"

#ifdef VELMO_BENCH_WITH_UI
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "measure/ui/measurement_tool.h"
#endif

namespace {

using namespace velmo;

DicomImage Slice512() {
  DicomImage im;
  im.rows = im.columns = 512;
  im.bitsAllocated = 16;
  im.bitsStored = 12;
  im.frameCount = 1;
  im.rescaleSlope = 1.0f;
  im.rescaleIntercept = -1024;
  im.pixelSpacing[0] = im.pixelSpacing[1] = 0.7f;
  im.extracted = im.loaded = 1;
  im.pixelData.resize(512 * 512 * 2);
  std::mt19937 rng(3);
  for (size_t i = 0; i < 512 * 512; ++i) {
    const int v = int(rng() % 2000);
    im.pixelData[i * 2] = uint8_t(v);
    im.pixelData[i * 2 + 1] = uint8_t(v >> 8);
  }
  return im;
}

PaneDisplay Pane512(const DicomImage& im) {
  PaneDisplay pd;
  pd.canvasWidth = pd.canvasHeight = 512;
  pd.last = ComputeGeometry(1.0f, 512, 512, im.rows, im.columns);
  return pd;
}

// A 400 x 400 ellipse on a 512 x 512 image, as one mouse move of a ROI drag computes it.
void BM_RoiEllipse400(benchmark::State& state) {
  const DicomImage im = Slice512();
  const MeasureContext c = MakeMeasureContext(Pane512(im), im, nullptr);
  RoiMeasurement r;
  r.a = {56, 56};
  r.b = {456, 456};
  for (auto _ : state) {
    ComputeRoi(r, RoiShape::kEllipse, c);
    benchmark::DoNotOptimize(r.stats.mean);
  }
  state.counters["members"] = double(r.stats.count);
}
BENCHMARK(BM_RoiEllipse400)->Unit(benchmark::kMicrosecond);

// The same with signed, rescaled samples (the general read path).
void BM_RoiEllipse400Signed(benchmark::State& state) {
  DicomImage im = Slice512();
  im.pixelRepresentation = 1;
  im.rescaleSlope = 2.0f;
  const MeasureContext c = MakeMeasureContext(Pane512(im), im, nullptr);
  RoiMeasurement r;
  r.a = {56, 56};
  r.b = {456, 456};
  for (auto _ : state) {
    ComputeRoi(r, RoiShape::kEllipse, c);
    benchmark::DoNotOptimize(r.stats.mean);
  }
}
BENCHMARK(BM_RoiEllipse400Signed)->Unit(benchmark::kMicrosecond);

// Thirty of each kind placed over the pane, as the mouse would.
void Fill(PaneMeasurements& m, const MeasureContext& c) {
  for (int i = 0; i < kMeasureCapacity; ++i) {
    const int y = 10 + i * 16;
    m.Press(MeasurementTool::kDistance, {10, y}, c), m.Release({200, y + 5}, c);
    m.Press(MeasurementTool::kAngle, {250, y}, c), m.Release({350, y}, c);
    m.Press(MeasurementTool::kAngle, {250, y}, c), m.Release({300, y + 12}, c);
    m.Press(MeasurementTool::kRoiCircle, {380, y}, c), m.Release({500, y + 40}, c);
  }
  m.RatioToolOn(c);
}

void BM_LayOutFullPane(benchmark::State& state) {
  const DicomImage im = Slice512();
  const MeasureContext c = MakeMeasureContext(Pane512(im), im, nullptr);
  PaneMeasurements m;
  Fill(m, c);
  for (auto _ : state) {
    m.MapForDrawing(c.view);
    benchmark::DoNotOptimize(m.distances[29].drawn[1]);
  }
}
BENCHMARK(BM_LayOutFullPane)->Unit(benchmark::kMicrosecond);

#ifdef VELMO_BENCH_WITH_UI
// One pane repaint of the measurement graphics: 30 distances, 30 angles, 30 ROIs and
// the ratio, drawn with their labels on a 512 x 512 canvas.
void BM_DrawFullPane(benchmark::State& state) {
  static int argc = 1;
  static char name[] = "velmo-bench";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QGuiApplication* app = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
  (void)app;
  DicomImage im = Slice512();
  PaneDisplay pd = Pane512(im);
  ui::MeasurementHost host;
  host.activePane = [] { return 1; };
  host.paneDisplay = [&pd](int) -> PaneDisplay& { return pd; };
  host.paneImage = [&im](int) -> const DicomImage* { return &im; };
  host.setMeasuring = [](int, bool) {};
  host.measuring = [](int) { return true; };
  host.repaint = [](int) {};
  host.paneWidget = [](int) -> QWidget* { return nullptr; };
  ui::MeasurementToolController tools(host, {}, {Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red, Qt::blue});
  Fill(tools.measurements(1), MakeMeasureContext(pd, im, nullptr));
  QImage canvas(512, 512, QImage::Format_RGB32);
  canvas.fill(Qt::gray);
  for (auto _ : state) {
    QPainter p(&canvas);
    tools.Draw(1, p);
  }
}
BENCHMARK(BM_DrawFullPane)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
