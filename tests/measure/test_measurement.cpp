// Measurements: value texts against hand computations, the mapping that keeps points
// on the same image features through zoom, rotation and flips, ROI statistics against
// a brute-force count, capacities, the select/move/reshape/delete protocol, the
// ratio's rebuilding and the label rules.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "base/text.h"
#include "dicom/dicom_image.h"
#include "measure/label_layout.h"
#include "measure/measurement.h"
#include "render/geometry.h"
#include "support/test_util.h"

namespace velmo {
namespace {

using test::RecordingNotifier;

// A grey image whose stored value at (x, y) of frame f is value(x, y, f).
template <typename F>
DicomImage MakeImage(int rows, int columns, int bitsAllocated, F value, int frames = 1) {
  DicomImage im;
  im.rows = rows;
  im.columns = columns;
  im.bitsAllocated = static_cast<uint16_t>(bitsAllocated);
  im.bitsStored = static_cast<uint16_t>(bitsAllocated);
  im.frameCount = frames;
  im.extracted = im.loaded = 1;
  const int bytes = bitsAllocated > 8 ? 2 : 1;
  im.pixelData.resize(size_t(rows) * columns * bytes * frames);
  for (int f = 0; f < frames; ++f)
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < columns; ++x) {
        const uint32_t v = value(x, y, f + 1);
        const size_t i = ((size_t(f) * rows + y) * columns + x) * bytes;
        im.pixelData[i] = uint8_t(v);
        if (bytes == 2) im.pixelData[i + 1] = uint8_t(v >> 8);
      }
  return im;
}

// A pane of canvas x canvas showing `im` at `scale` (1 = fit), as a conversion leaves it.
PaneDisplay MakePane(const DicomImage& im, int canvas, float scale = 1.0f, int rotation = 0, bool flipH = false,
                     bool flipV = false) {
  PaneDisplay pd;
  pd.canvasWidth = pd.canvasHeight = canvas;
  pd.displayScale = scale;
  pd.rotationAngle = rotation;
  pd.flipHorizontal = flipH;
  pd.flipVertical = flipV;
  pd.last = ComputeGeometry(scale, canvas, canvas, im.rows, im.columns);
  ClampPan(pd, pd.last);
  return pd;
}

// Maps and lays out as a paint would (labels 8 pixels per character, 12 high).
void Paint(PaneMeasurements& m, const MeasureContext& c) {
  m.MapForDrawing(c.view);
  TextMeasure t{[](std::string_view s) { return int32_t(s.size() * 8); }, 12};
  LayOutLabels(m, t, c.view.g.canvasWidth, c.view.g.canvasHeight);
}

TEST(MeasurementValues, AngleTexts) {
  struct Case {
    MeasurePoint p[4];
    const char* text;
  } cases[] = {
      {{{10, 10}, {110, 10}, {110, 50}, {10, 50}}, "0.0 (180.0)"},  // parallel, opposite directions
      {{{10, 10}, {110, 10}, {10, 50}, {110, 50}}, "0.0 (180.0)"},  // parallel, same direction
      {{{0, 0}, {100, 0}, {0, 0}, {0, 100}}, "90.0 (90.0)"},
      {{{0, 0}, {100, 0}, {0, 0}, {100, 100}}, "135.0 (45.0)"},  // directions 315 degrees apart
  };
  for (const Case& c : cases) EXPECT_EQ(AngleText(AngleValue(c.p)), c.text) << c.text;
  // Directions 200 degrees apart: shown as 20.0 with the supplement 160.0.
  const double r = 200 * 3.14159265358979 / 180;
  const MeasurePoint p[4] = {{1000, 0}, {0, 0}, {0, 0}, {int(std::lround(1000 * std::cos(r))),
                                                         int(std::lround(1000 * std::sin(r)))}};
  EXPECT_EQ(AngleText(AngleValue(p)), "20.0 (160.0)");
}

TEST(MeasurementValues, DistanceUsesColumnSpacingAcrossAndRowSpacingDown) {
  DicomImage im = MakeImage(256, 256, 16, [](int, int, int) { return 0u; });
  struct Case {
    float rowSpacing, columnSpacing;
    int rotation;
    MeasurePoint a, b;
    const char* text;
  } cases[] = {
      // 512 canvas, 256 image: 2 display pixels per image pixel.
      {0.5f, 0.25f, 0, {0, 0}, {200, 0}, "25.0 mm"},     // 100 columns x 0.25
      {0.5f, 0.25f, 0, {0, 0}, {0, 200}, "50.0 mm"},     // 100 rows x 0.5
      {0.5f, 0.25f, 0, {0, 0}, {120, 160}, "42.7 mm"},   // sqrt(15^2 + 40^2)
      {0.5f, 0.25f, 90, {0, 0}, {200, 0}, "50.0 mm"},    // turned a quarter: across the screen is down the image
      {0.f, 0.25f, 0, {0, 0}, {120, 160}, "100.0 pixel"},  // one spacing missing: pixels
      {-1.f, -1.f, 0, {5, 5}, {5, 5}, "0.0 pixel"},
  };
  for (const Case& c : cases) {
    im.pixelSpacing[0] = c.rowSpacing;
    im.pixelSpacing[1] = c.columnSpacing;
    const MeasureContext mc = MakeMeasureContext(MakePane(im, 512, 1.0f, c.rotation), im, nullptr);
    EXPECT_EQ(DistanceText(mc, c.a, c.b), c.text) << c.text;
  }
}

TEST(MeasurementValues, PixelValueRescaleSignAndFrames) {
  // 12 of 16 bits stored, signed: stored 0x0FFF reads -1; slope 2, intercept -100.
  DicomImage im = MakeImage(64, 64, 16, [](int x, int y, int f) { return x == 3 && y == 4 ? 0x0FFFu : 100u * f; }, 6);
  im.bitsStored = 12;
  im.pixelRepresentation = 1;
  im.rescaleSlope = 2;
  im.rescaleIntercept = -100;
  PaneDisplay pd = MakePane(im, 64);  // one display pixel per image pixel
  pd.frame = 5;
  const MeasureContext mc = MakeMeasureContext(pd, im, nullptr);
  EXPECT_EQ(PixelValueText(mc, {3, 4}), "-102");
  EXPECT_EQ(PixelValueText(mc, {10, 10}), "900");  // frame 5: 500 x 2 - 100
  EXPECT_EQ(PixelValueText(mc, {64, 10}), "0");    // right of the image
  EXPECT_EQ(PixelValueText(mc, {-1, 10}), "0");
  // A rescaled value beyond 16 bits wraps: 30000 x 2 = 60000 -> -5536.
  DicomImage big = MakeImage(8, 8, 16, [](int, int, int) { return 30000u; });
  big.rescaleSlope = 2;
  EXPECT_EQ(PixelValueText(MakeMeasureContext(MakePane(big, 8), big, nullptr), {1, 1}), "-5536");
  // Pixel data shorter than the frame: nothing is read.
  im.pixelData.resize(100);
  EXPECT_EQ(PixelValueText(MakeMeasureContext(pd, im, nullptr), {3, 4}), "0");
}

// The image pixel under a display point, for comparing views.
std::pair<int, int> ImagePixel(const PaneDisplay& pd, const DicomImage& im, MeasurePoint p) {
  int32_t c, r;
  DisplayToImagePixel(MakeMeasureView(pd, im.rows, im.columns), p, &c, &r);
  return {c, r};
}

TEST(MeasurementMapping, PointsStayOnTheSameImageFeatures) {
  const DicomImage im = MakeImage(200, 300, 16, [](int, int, int) { return 0u; });
  const PaneDisplay before = MakePane(im, 400);
  const MeasureView v0 = MakeMeasureView(before, im.rows, im.columns);
  const MeasurePoint pts[] = {{40, 30}, {250, 200}, {150, 100}};
  struct Case {
    float scale;
    int rotation;
    bool flipH, flipV;
  } cases[] = {{2.0f, 0, false, false}, {0.5f, 0, false, false}, {1.0f, 0, true, false}, {1.0f, 0, false, true},
               {1.5f, 0, true, true},   {1.0f, 90, false, false}, {1.0f, 180, true, false}, {2.0f, 270, false, true}};
  for (const Case& c : cases) {
    const PaneDisplay after = MakePane(im, 400, c.scale, c.rotation, c.flipH, c.flipV);
    const MeasureView v1 = MakeMeasureView(after, im.rows, im.columns);
    for (const MeasurePoint p : pts) {
      const auto [c0, r0] = ImagePixel(before, im, p);
      const MeasurePoint q = NormalisePoint(p, v0.Anchor(), v1);
      const auto [c1, r1] = ImagePixel(after, im, q);
      // Within the rounding of the two mappings (one image pixel is 1.33 display
      // pixels at fit, so 2 pixels is the allowance after a half-size zoom).
      EXPECT_NEAR(c1, c0, 2) << c.scale << " " << c.rotation << " " << c.flipH << c.flipV;
      EXPECT_NEAR(r1, r0, 2) << c.scale << " " << c.rotation << " " << c.flipH << c.flipV;
    }
  }
}

TEST(MeasurementMapping, SelectingAfterAZoomRewritesThePointsForTheNewDisplay) {
  const DicomImage im = MakeImage(100, 100, 8, [](int, int, int) { return 0u; });
  PaneMeasurements m;
  const MeasureContext fit = MakeMeasureContext(MakePane(im, 400), im, nullptr);
  m.Press(MeasurementTool::kDistance, {100, 100}, fit);
  m.Release({300, 100}, fit);
  // Twice the size: the line is drawn where the same image pixels now are.
  const MeasureContext zoomed = MakeMeasureContext(MakePane(im, 400, 2.0f), im, nullptr);
  Paint(m, zoomed);
  const MeasurePoint a = m.distances[0].drawn[0], b = m.distances[0].drawn[1];
  EXPECT_EQ(ImagePixel(MakePane(im, 400, 2.0f), im, zoomed.view.FromPane(a)),
            ImagePixel(MakePane(im, 400), im, {100, 100}));
  EXPECT_EQ(b.x - a.x, 400);
  m.Press(MeasurementTool::kSelect, {(a.x + b.x) / 2, a.y}, zoomed);  // selects
  m.Press(MeasurementTool::kSelect, {(a.x + b.x) / 2, a.y}, zoomed);  // starts a move: points rewritten
  m.Release({(a.x + b.x) / 2, a.y}, zoomed);
  EXPECT_EQ(m.distances[0].start, (MeasurePoint{200, 200}));
  EXPECT_EQ(m.distances[0].end, (MeasurePoint{600, 200}));
  EXPECT_EQ(m.distances[0].anchor, zoomed.view.Anchor());
}

TEST(MeasurementMapping, FlipNormalisationIsTheMirrorOfTheDisplayedImage) {
  const DicomImage im = MakeImage(100, 100, 8, [](int, int, int) { return 0u; });
  const MeasureView plain = MakeMeasureView(MakePane(im, 400), 100, 100);
  const MeasureView flipped = MakeMeasureView(MakePane(im, 800, 1.0f, 0, true, false), 100, 100);
  // Twice the side, mirrored: x' = w - 2x, y' = 2y.
  EXPECT_EQ(NormalisePoint({30, 40}, plain.Anchor(), flipped), (MeasurePoint{800 - 60, 80}));
  // A stored side of 0 counts as unchanged.
  MeasurementAnchor zero = flipped.Anchor();
  zero.displaySide = 0;
  EXPECT_EQ(NormalisePoint({30, 40}, zero, flipped), (MeasurePoint{30, 40}));
}

// Member count by a direct test of every pixel centre.
int64_t BruteCount(RoiShape shape, int minX, int minY, int maxX, int maxY, int columns, int rows, double* sum,
                   const DicomImage& im) {
  int64_t n = 0;
  *sum = 0;
  const double cx = (minX + maxX) / 2.0, cy = (minY + maxY) / 2.0;
  const double a = (maxX - minX) / 2.0 - 1.5, b = (maxY - minY) / 2.0 - 1.5;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) {
      bool in;
      if (shape == RoiShape::kRectangle) {
        in = x >= minX + 2 && x <= maxX - 3 && y >= minY + 2 && y <= maxY - 3;
      } else {
        const double dx = (x + 0.5 - cx) / a, dy = (y + 0.5 - cy) / b;
        in = a > 0 && b > 0 && dx * dx + dy * dy < 1;
      }
      if (!in) continue;
      ++n;
      *sum += int16_t(im.pixelData[(size_t(y) * columns + x) * 2] | im.pixelData[(size_t(y) * columns + x) * 2 + 1] << 8);
    }
  return n;
}

TEST(RoiStatistics, MembersMatchADirectCountAndTheAnalyticArea) {
  std::mt19937 rng(7);
  const DicomImage im = MakeImage(512, 512, 16, [&](int, int, int) { return uint32_t(rng() % 4000); });
  const PixelSource src = MakePixelSource(im, 1);
  const float spacing[2] = {0.5f, 0.25f};
  struct Case {
    RoiShape shape;
    int minX, minY, maxX, maxY;
  } cases[] = {{RoiShape::kRectangle, 10, 20, 400, 300},   {RoiShape::kEllipse, 56, 56, 456, 456},
               {RoiShape::kEllipse, 100, 40, 131, 400},    {RoiShape::kRectangle, -50, -50, 600, 600},
               {RoiShape::kEllipse, -100, 200, 200, 700},  {RoiShape::kRectangle, 10, 10, 14, 14},
               {RoiShape::kEllipse, 10, 10, 13, 13},       {RoiShape::kRectangle, 600, 600, 700, 700}};
  for (const Case& c : cases) {
    double sum = 0;
    const int64_t n = BruteCount(c.shape, c.minX, c.minY, c.maxX, c.maxY, 512, 512, &sum, im);
    const RoiStatistics s = ComputeRoiStatistics(c.shape, c.minX, c.minY, c.maxX, c.maxY, src, spacing);
    EXPECT_EQ(s.count, n) << c.minX << "," << c.minY;
    EXPECT_NEAR(s.mean, n ? sum / n : 0.0, 1e-9);
    EXPECT_NEAR(s.areaMm2, n * 0.125, 1e-6);
  }
  // The rectangle keeps exactly its inside less the outline: (390 - 4) x (280 - 4).
  EXPECT_EQ(ComputeRoiStatistics(RoiShape::kRectangle, 10, 20, 400, 300, src, spacing).count, 386 * 276);
  // The ellipse against pi a b of the half-axes less the outline, within 1 %.
  const double area = 3.14159265358979 * 198.5 * 198.5;
  EXPECT_NEAR(double(ComputeRoiStatistics(RoiShape::kEllipse, 56, 56, 456, 456, src, spacing).count), area,
              area * 0.01);
  // Tiny ROIs have no members; a ROI off the image neither.
  const RoiTexts none = MakeRoiTexts(ComputeRoiStatistics(RoiShape::kRectangle, 10, 10, 14, 14, src, spacing));
  EXPECT_EQ(Utf8FromSjis(none.mean.view()), "平均 0.00");
  EXPECT_EQ(Utf8FromSjis(none.maximum.view()), "最大 0");
  EXPECT_EQ(Utf8FromSjis(none.area.view()), "面積 0.00 mm2");
}

TEST(RoiStatistics, SignedRescaledValuesDeviationAndTexts) {
  // Half the members -1 (stored 0x0FFF in 12 signed bits), half 3; slope 2, intercept 10.
  DicomImage im = MakeImage(40, 40, 16, [](int x, int, int) { return x % 2 ? 0x0FFFu : 3u; });
  im.bitsStored = 12;
  im.pixelRepresentation = 1;
  im.rescaleSlope = 2;
  im.rescaleIntercept = 10;
  const float noSpacing[2] = {0, 0};
  // Columns 2..33, rows 2..33 -> 32 x 32 members, values 8 and 16.
  const RoiStatistics s = ComputeRoiStatistics(RoiShape::kRectangle, 0, 0, 36, 36, MakePixelSource(im, 1), noSpacing);
  EXPECT_EQ(s.count, 32 * 32);
  EXPECT_DOUBLE_EQ(s.mean, 12.0);
  EXPECT_DOUBLE_EQ(s.deviation, 4.0);
  EXPECT_EQ(s.maximum, 16);
  EXPECT_EQ(s.minimum, 8);
  const RoiTexts t = MakeRoiTexts(s);
  EXPECT_EQ(Utf8FromSjis(t.mean.view()), "平均 12.00");
  EXPECT_EQ(Utf8FromSjis(t.maximum.view()), "最大 16");
  EXPECT_EQ(Utf8FromSjis(t.minimum.view()), "最小 8");
  EXPECT_EQ(Utf8FromSjis(t.deviation.view()), "標準偏差 4.00");
  EXPECT_EQ(Utf8FromSjis(t.area.view()), "面積 1024 pixel");
}

TEST(RoiStatistics, DrawnOnTheFifthFrame) {
  const DicomImage im = MakeImage(64, 64, 8, [](int, int, int f) { return uint32_t(f * 10); }, 6);
  PaneDisplay pd = MakePane(im, 256);  // 4 display pixels per image pixel
  pd.frame = 5;
  const MeasureContext mc = MakeMeasureContext(pd, im, nullptr);
  PaneMeasurements m;
  ASSERT_TRUE(m.Press(MeasurementTool::kRoiCircle, mc.view.ToPane({40, 40}), mc));
  m.Move(mc.view.ToPane({200, 160}), mc);
  m.Release(mc.view.ToPane({200, 160}), mc);
  const RoiMeasurement& r = m.circles[0];
  EXPECT_FALSE(r.inProgress);
  EXPECT_GT(r.stats.count, 0);
  EXPECT_EQ(r.stats.mean, 50.0);
  EXPECT_EQ(Utf8FromSjis(r.texts.maximum.view()), "最大 50");
}

TEST(MeasurementProtocol, CapacityMessagesAndOtherPanes) {
  const DicomImage im = MakeImage(100, 100, 8, [](int, int, int) { return 0u; });
  RecordingNotifier rec;
  const MeasureContext mc = MakeMeasureContext(MakePane(im, 400), im, &rec);
  struct Case {
    MeasurementTool tool;
    const char* message;
  } cases[] = {{MeasurementTool::kDistance, "距離計測は最大で30箇所です。"},
               {MeasurementTool::kAngle, "角度計測は最大で30箇所です。"},
               {MeasurementTool::kPixelValue, "ピクセル値計測は最大で30箇所です。"},
               {MeasurementTool::kRoiCircle, "ROI計測は最大で30箇所です。"},
               {MeasurementTool::kRoiBox, "ROI計測は最大で30箇所です。"}};
  PaneMeasurements left, right;
  for (const Case& c : cases) {
    rec.entries.clear();
    const int strokes = c.tool == MeasurementTool::kAngle ? 60 : 30;
    for (int i = 0; i < strokes; ++i) {
      ASSERT_TRUE(left.Press(c.tool, {10 + i, 10}, mc));
      left.Release({20 + i, 30}, mc);
    }
    EXPECT_TRUE(rec.entries.empty());
    EXPECT_FALSE(left.Press(c.tool, {50, 50}, mc));
    ASSERT_EQ(rec.entries.size(), 1u);
    EXPECT_EQ(Utf8FromSjis(rec.entries[0].caption), "情報");
    EXPECT_EQ(Utf8FromSjis(rec.entries[0].message), c.message);
    EXPECT_FALSE(left.Busy());
    EXPECT_TRUE(right.Press(c.tool, {50, 50}, mc));  // the other pane keeps its own slots
    right.Release({60, 60}, mc);
  }
  for (const auto& a : left.angles) EXPECT_TRUE(a.firstDone && a.secondDone);
}

TEST(MeasurementProtocol, SelectMoveReshapeDelete) {
  DicomImage im = MakeImage(100, 100, 8, [](int, int, int) { return 0u; });
  im.pixelSpacing[0] = im.pixelSpacing[1] = 1.0f;
  const MeasureContext mc = MakeMeasureContext(MakePane(im, 400), im, nullptr);
  PaneMeasurements m;
  m.Press(MeasurementTool::kDistance, {100, 100}, mc);
  m.Move({200, 100}, mc);
  m.Release({300, 100}, mc);
  EXPECT_EQ(m.distances[0].text.view(), "50.0 mm");
  m.Press(MeasurementTool::kPixelValue, {50, 300}, mc);
  m.Release({50, 300}, mc);
  Paint(m, mc);

  // First press selects, and only the distance.
  m.probes[0].selected = true;
  m.Press(MeasurementTool::kSelect, {200, 102}, mc);
  EXPECT_TRUE(m.distances[0].selected);
  EXPECT_FALSE(m.probes[0].selected);
  // A press on the selected line's body moves it.
  m.Press(MeasurementTool::kSelect, {200, 102}, mc);
  EXPECT_TRUE(m.distances[0].moving);
  m.Move({210, 122}, mc);
  m.Release({210, 122}, mc);
  EXPECT_EQ(m.distances[0].start, (MeasurePoint{110, 120}));
  EXPECT_EQ(m.distances[0].end, (MeasurePoint{310, 120}));
  EXPECT_FALSE(m.Busy());
  // Grabbing the start point reshapes: it becomes the moving end.
  Paint(m, mc);
  m.Press(MeasurementTool::kSelect, {112, 118}, mc);
  EXPECT_TRUE(m.distances[0].inProgress);
  m.Move({310, 20}, mc);
  m.Release({310, 20}, mc);
  EXPECT_EQ(m.distances[0].start, (MeasurePoint{310, 120}));
  EXPECT_EQ(m.distances[0].end, (MeasurePoint{310, 20}));
  EXPECT_EQ(m.distances[0].text.view(), "25.0 mm");
  // A press on nothing deselects.
  Paint(m, mc);
  m.Press(MeasurementTool::kSelect, {5, 395}, mc);
  EXPECT_FALSE(m.distances[0].selected);
  // Delete by label, then the Delete key takes the selected probe.
  Paint(m, mc);
  const LabelRect lab = m.distances[0].label;
  m.Press(MeasurementTool::kDelete, {lab.left + 1, lab.top + 1}, mc);
  EXPECT_FALSE(m.distances[0].exists);
  EXPECT_TRUE(m.probes[0].exists);
  Paint(m, mc);
  m.Press(MeasurementTool::kSelect, {52, 301}, mc);
  EXPECT_TRUE(m.probes[0].selected);
  EXPECT_TRUE(m.DeleteSelected());
  EXPECT_TRUE(m.Empty());
}

TEST(MeasurementProtocol, RoiEdgeReshapeMovesOneSide) {
  const DicomImage im = MakeImage(100, 100, 8, [](int, int, int) { return 7u; });
  const MeasureContext mc = MakeMeasureContext(MakePane(im, 400), im, nullptr);
  PaneMeasurements m;
  m.Press(MeasurementTool::kRoiBox, {100, 100}, mc);
  m.Release({300, 200}, mc);
  Paint(m, mc);
  m.Press(MeasurementTool::kSelect, {100, 150}, mc);  // left edge: selects
  ASSERT_TRUE(m.boxes[0].selected);
  m.Press(MeasurementTool::kSelect, {101, 150}, mc);  // left edge midpoint: reshapes x only
  m.Move({60, 10}, mc);
  m.Release({60, 10}, mc);
  const RoiMeasurement& r = m.boxes[0];
  EXPECT_EQ(std::min(r.a.x, r.b.x), 60);
  EXPECT_EQ(std::min(r.a.y, r.b.y), 100);
  EXPECT_EQ(std::max(r.a.y, r.b.y), 200);
  EXPECT_EQ(r.stats.count, (60 - 4) * (25 - 4));  // image 15..75 x 25..50
}

TEST(CardiothoracicRatio, DefaultPlacementAndDrags) {
  DicomImage im = MakeImage(512, 512, 8, [](int, int, int) { return 0u; });
  im.pixelSpacing[0] = im.pixelSpacing[1] = 0.5f;
  const MeasureContext mc = MakeMeasureContext(MakePane(im, 512), im, nullptr);
  PaneMeasurements m;
  m.RatioToolOn(mc);
  const CardiothoracicRatio& r = m.ratio;
  ASSERT_TRUE(r.exists && r.selected);
  EXPECT_EQ(r.mid[0], (MeasurePoint{256, 30}));
  EXPECT_EQ(r.mid[1], (MeasurePoint{256, 482}));
  EXPECT_EQ(r.heart[0], (MeasurePoint{204, 342}));
  EXPECT_EQ(r.heart[1], (MeasurePoint{340, 342}));
  EXPECT_EQ(r.thorax[0], (MeasurePoint{64, 384}));
  EXPECT_EQ(r.thorax[1], (MeasurePoint{448, 384}));
  EXPECT_EQ(r.marks[1][0], (MeasurePoint{340, 302}));
  EXPECT_EQ(r.marks[1][1], (MeasurePoint{340, 382}));
  EXPECT_EQ(r.ratioText.view(), "35.4 %");  // 136 / 384
  EXPECT_EQ(r.sizeText.view(), "68 mm / 192 mm");

  // A heart end dragged off its line stays on the line across the midline.
  Paint(m, mc);
  ASSERT_TRUE(m.Press(MeasurementTool::kRatio, {340, 342}, mc));
  m.Move({380, 300}, mc);
  m.Release({380, 300}, mc);
  EXPECT_EQ(r.heart[1], (MeasurePoint{380, 342}));
  EXPECT_EQ(r.marks[1][0], (MeasurePoint{380, 302}));
  EXPECT_EQ(r.ratioText.view(), "45.8 %");  // 176 / 384

  // Turning the midline turns the two lines with it: they stay perpendicular to it.
  Paint(m, mc);
  ASSERT_TRUE(m.Press(MeasurementTool::kRatio, {256, 482}, mc));
  m.Move({356, 482}, mc);
  m.Release({356, 482}, mc);
  const double mx = r.mid[1].x - r.mid[0].x, my = r.mid[1].y - r.mid[0].y;
  for (const MeasurePoint* line : {r.heart, r.thorax}) {
    const double lx = line[1].x - line[0].x, ly = line[1].y - line[0].y;
    EXPECT_LT(std::fabs(mx * lx + my * ly) / std::hypot(mx, my) / std::hypot(lx, ly), 0.02);
  }
  // Without spacing the sizes are pixels; a thorax of length 0 gives 0.0 %.
  im.pixelSpacing[0] = 0;
  const MeasureContext px = MakeMeasureContext(MakePane(im, 512), im, nullptr);
  CardiothoracicRatio flat;
  flat.heart[1] = {10, 0};
  ComputeRatioValues(flat, px);
  EXPECT_EQ(flat.ratioText.view(), "0.0 %");
  EXPECT_EQ(flat.sizeText.view(), "10 pixel / 0 pixel");
}

TEST(LabelLayout, LabelsStayInsideThePane) {
  // Below the end point, above it for a rising line, pulled in at the borders.
  EXPECT_EQ(PlaceLineLabel({0, 100}, {50, 200}, 40, 12, 400, 300), (LabelRect{55, 205, 95, 217}));
  EXPECT_EQ(PlaceLineLabel({0, 100}, {50, 50}, 40, 12, 400, 300), (LabelRect{55, 30, 95, 42}));
  EXPECT_EQ(PlaceLineLabel({0, 100}, {390, 295}, 40, 12, 400, 300), (LabelRect{355, 277, 395, 289}));
  EXPECT_EQ(PlaceLineLabel({0, 100}, {50, 10}, 40, 12, 400, 300).top, 5);
  EXPECT_EQ(PlaceProbeLabel({398, 2}, 30, 12, 400, 300), (LabelRect{360, 5, 390, 17}));
  LabelRect ratio, size;
  PlaceRatioLabels({390, 50}, 40, 100, 12, 400, 300, &ratio, &size);
  EXPECT_EQ(ratio, (LabelRect{295, 5, 335, 17}));
  EXPECT_EQ(size, (LabelRect{295, 23, 395, 35}));
  const LabelRect roi = PlaceRoiLabel({100, 280, 390, 299}, {60, 50, 50, 90, 120}, 400, 300);
  EXPECT_EQ(roi.left, 400 - 110 - 10);
  EXPECT_EQ(roi.top, 300 - 77);
  EXPECT_EQ(roi.right - roi.left, 120);  // widened to the area text
  EXPECT_EQ(roi.bottom - roi.top, 72);
}

TEST(MeasurementProtocol, NothingShownNothingCreated) {
  DicomImage im;  // rows and columns 0
  PaneDisplay pd;
  RecordingNotifier rec;
  const MeasureContext mc = MakeMeasureContext(pd, im, &rec);
  PaneMeasurements m;
  for (MeasurementTool t : {MeasurementTool::kDistance, MeasurementTool::kAngle, MeasurementTool::kPixelValue,
                            MeasurementTool::kRoiCircle, MeasurementTool::kSelect, MeasurementTool::kDelete}) {
    EXPECT_FALSE(m.Press(t, {10, 10}, mc));
    m.Move({20, 20}, mc);
    m.Release({20, 20}, mc);
  }
  m.RatioToolOn(mc);
  EXPECT_TRUE(m.Empty());
  EXPECT_TRUE(rec.entries.empty());
}

}  // namespace
}  // namespace velmo
