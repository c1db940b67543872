// Display scale, sizes, pan, zoom/rotation/flip rules and orientation labels.
#include <gtest/gtest.h>

#include "dicom/dicom_image.h"
#include "render/geometry.h"

namespace velmo {
namespace {

DicomImage Image(int rows, int cols) {
  DicomImage im;
  im.rows = rows;
  im.columns = cols;
  im.bitsAllocated = 16;
  return im;
}
PaneDisplay Pane(int wc, int hc) {
  PaneDisplay p;
  p.canvasWidth = wc;
  p.canvasHeight = hc;
  return p;
}
const DisplayPitch kPitch{0.25, 0.25};

TEST(Geometry, TwoPane512On400TakesTheNearestNeighbourPath) {
  const DicomImage im = Image(512, 512);
  PaneDisplay pane = Pane(400, 400);
  ComputeDisplayScale(pane, im, kPitch);
  DisplayGeometry g = ComputeGeometry(pane.displayScale, 400, 400, 512, 512);
  EXPECT_EQ(g.w, 400);
  EXPECT_EQ(g.h, 400);
  EXPECT_FALSE(g.w > im.columns && g.h > im.rows);
  SetScaleMode(pane, ScaleMode::kOneToOne, im, kPitch);  // "100%"
  g = ComputeGeometry(pane.displayScale, 400, 400, 512, 512);
  EXPECT_EQ(g.w, 512);
  EXPECT_EQ(g.h, 512);
  EXPECT_EQ(g.W, 512);
  EXPECT_FALSE(g.w > im.columns && g.h > im.rows);  // still nearest neighbour
  EXPECT_EQ(pane.panX, 56);
  EXPECT_EQ(pane.panY, 56);
}

TEST(Geometry, SizesOfWideAndTallImages) {
  DisplayGeometry g = ComputeGeometry(1.0f, 400, 300, 128, 256);
  EXPECT_EQ(g.side, 300);
  EXPECT_EQ(g.w, 300);
  EXPECT_EQ(g.h, 150);
  EXPECT_EQ(g.W, 400);
  EXPECT_EQ(g.offX, 50);
  EXPECT_EQ(g.offY, 75);
  g = ComputeGeometry(1.0f, 400, 301, 256, 128);
  EXPECT_EQ(g.h, 301);
  EXPECT_EQ(g.w, 152);  // 150 rounded up to a multiple of 4
  g = ComputeGeometry(2.0f, 402, 300, 100, 100);  // canvas width used as 400
  EXPECT_EQ(g.canvasWidth, 400);
  EXPECT_EQ(g.W, 800);
  EXPECT_EQ(g.H, 600);
  EXPECT_EQ(g.side, 600);
  EXPECT_FALSE(ComputeGeometry(1.0f, 3, 300, 100, 100).drawable);
  EXPECT_FALSE(ComputeGeometry(1.0f, 400, 0, 100, 100).drawable);
  EXPECT_FALSE(ComputeGeometry(1.0f, 400, 400, 0, 100).drawable);
}

TEST(Geometry, ActualSizeUsesSpacingOverPitchOrOne) {
  DicomImage im = Image(200, 100);
  PaneDisplay pane = Pane(400, 400);
  pane.fitMode = false;
  pane.actualSizeMode = true;
  ComputeDisplayScale(pane, im, kPitch);
  EXPECT_FLOAT_EQ(pane.displayScale, 0.5f);  // no spacing: one image pixel per screen pixel
  im.pixelSpacing[0] = 0.5f;
  im.pixelSpacing[1] = 0.5f;
  ComputeDisplayScale(pane, im, kPitch);
  EXPECT_FLOAT_EQ(pane.displayScale, 1.0f);
  EXPECT_FLOAT_EQ(pane.zoomFactor, 1.0f);
  ComputeDisplayScale(pane, im, DisplayPitch{0.25, 0.0});  // a pitch <= 0 counts as sp = dp
  EXPECT_FLOAT_EQ(pane.displayScale, 0.5f);
  pane.actualSizeMode = false;
  pane.fitMode = true;
  im.pixelSpacing[0] = im.pixelSpacing[1] = 1.0f;
  ComputeDisplayScale(pane, im, kPitch);
  EXPECT_FLOAT_EQ(pane.displayScale, 1.0f);
  EXPECT_FLOAT_EQ(pane.zoomFactor, 0.5f);  // shown factor of fit
  EXPECT_EQ(ZoomText(pane.zoomFactor), "0.50");
}

// Pixel spacing holds the row spacing first and the column spacing second: at actual
// size the longer side is measured with its own spacing and pitch. A 300-row,
// 400-column image of 0.5 mm rows and 0.25 mm columns is 400 x 0.25 = 100 mm wide on
// screen (it was shown 200 mm wide); a tall image uses the row spacing and DotPitchY.
TEST(Geometry, ActualSizePairsEachSideWithItsOwnSpacing) {
  struct Case {
    int rows, columns;
    float rowSpacing, columnSpacing;
    DisplayPitch pitch;
    double longerSideMm;
  };
  const Case cases[] = {
      {300, 400, 0.5f, 0.25f, {0.2646, 0.2646}, 100.0},  // wide: columns x column spacing
      {400, 300, 0.25f, 0.5f, {0.2646, 0.2646}, 100.0},  // tall: rows x row spacing
      {400, 300, 0.25f, 0.5f, {0.2, 0.25}, 100.0},       // tall: measured with DotPitchY
      {512, 512, 0.7f, 0.7f, {0.2646, 0.2646}, 358.4},   // square pixels: unchanged
  };
  for (const Case& c : cases) {
    DicomImage im = Image(c.rows, c.columns);
    im.pixelSpacing[0] = c.rowSpacing;
    im.pixelSpacing[1] = c.columnSpacing;
    PaneDisplay pane = Pane(800, 600);
    pane.fitMode = false;
    pane.actualSizeMode = true;
    ComputeDisplayScale(pane, im, c.pitch);
    const DisplayGeometry g = ComputeGeometry(pane.displayScale, 800, 600, c.rows, c.columns);
    const bool wide = c.columns > c.rows;
    const double shownMm = (wide ? g.w : g.h) * (wide ? c.pitch.x : c.pitch.y);
    EXPECT_NEAR(shownMm, c.longerSideMm, 1.0) << c.rows << "x" << c.columns;
  }
}

TEST(Geometry, PanStartsCentredKeepsTheCentreAndIsClamped) {
  const DicomImage im = Image(100, 100);
  PaneDisplay pane = Pane(400, 400);
  ASSERT_TRUE(SelectZoomItem(pane, "2.00", im, kPitch));  // 2x of actual size = 0.5 of fit
  EXPECT_FALSE(pane.hasPan);
  ASSERT_TRUE(EditZoomText(pane, "8", im, kPitch));  // scale 2
  EXPECT_FLOAT_EQ(pane.displayScale, 2.0f);
  EXPECT_EQ(pane.panX, 200);
  pane.panX = 0;
  ASSERT_TRUE(EditZoomText(pane, "16", im, kPitch));  // scale 4: the canvas centre stays put
  EXPECT_EQ(pane.panX, 2 * (0 + 200) - 200);
  pane.panX = 5000;
  ClampPan(pane, ComputeGeometry(pane.displayScale, 400, 400, 100, 100));
  EXPECT_EQ(pane.panX, 1600 - 400);
  SetScaleMode(pane, ScaleMode::kFit, im, kPitch);
  EXPECT_EQ(pane.panX, 0);
  EXPECT_FALSE(pane.hasPan);
}

TEST(Geometry, ZoomInputRules) {
  const DicomImage im = Image(512, 512);
  PaneDisplay pane = Pane(400, 400);
  EXPECT_FALSE(EditZoomText(pane, "abc", im, kPitch));
  EXPECT_FALSE(EditZoomText(pane, "0.04", im, kPitch));
  EXPECT_TRUE(pane.fitMode);
  EXPECT_TRUE(EditZoomText(pane, "1.0000000009", im, kPitch));  // 9 characters read: 1.0000000
  EXPECT_TRUE(pane.actualSizeMode);
  EXPECT_FALSE(pane.fitMode);
  EXPECT_TRUE(SelectZoomItem(pane, "0", im, kPitch));
  EXPECT_FLOAT_EQ(pane.zoomFactor, 1.0f);
  // A bitmap beyond 1 GiB is refused when typed ...
  EXPECT_FALSE(EditZoomText(pane, "200", im, kPitch));
  EXPECT_FLOAT_EQ(pane.zoomFactor, 1.0f);
  // ... and a drag stops growing before it.
  for (int i = 0; i < 100; ++i) DragZoom(pane, 1000, 0, im, kPitch);
  const DisplayGeometry g = ComputeGeometry(pane.displayScale, 400, 400, 512, 512);
  EXPECT_LE(DisplayBitmapBytes(g.W, g.H, false), kMaxDisplayBitmapBytes);
  EXPECT_GT(pane.zoomFactor, 10.0f);
  // Dragging down and left never goes below 0.05.
  for (int i = 0; i < 100; ++i) DragZoom(pane, -1000, 1000, im, kPitch);
  EXPECT_FLOAT_EQ(pane.zoomFactor, 0.05f);
  DragZoom(pane, 190, 0, im, kPitch);  // 0.05 + 0.95 = 1.0: actual size
  EXPECT_TRUE(pane.actualSizeMode);
}

TEST(Geometry, RotationAngles) {
  PaneDisplay pane;
  EXPECT_EQ(ParseRotationAngle("-30"), 330);
  EXPECT_EQ(ParseRotationAngle("720"), 0);
  EXPECT_EQ(ParseRotationAngle("4500"), 90);  // only 3 characters are read
  SetRotateLeft(pane, true, 90);
  EXPECT_EQ(pane.rotationAngle, 90);
  SetRotateRight(pane, true, 90);
  EXPECT_EQ(pane.rotationAngle, 270);
  EXPECT_FALSE(pane.rotateLeft);
  EXPECT_TRUE(RotationComboChanged(pane, "30", false));
  EXPECT_EQ(pane.rotationAngle, 330);
  EXPECT_FALSE(RotationComboChanged(pane, "0", true));
  EXPECT_FALSE(RotationComboChanged(pane, "360", true));
  EXPECT_EQ(pane.rotationAngle, 330);
  SetRotateRight(pane, false, 30);
  EXPECT_EQ(pane.rotationAngle, 0);
  EXPECT_FALSE(RotationComboChanged(pane, "60", false));  // no rotation button on
  const RotationConstants r90 = MakeRotationConstants(90);
  EXPECT_EQ(r90.c, 0);
  EXPECT_EQ(r90.s, 1023);  // sin of the truncated pi times 1024, truncated
  EXPECT_EQ(MakeRotationConstants(180).c, -1024);
}

TEST(Geometry, OrientationLabels) {
  DicomImage im;
  const float axial[6] = {1, 0, 0, 0, 1, 0};
  std::copy(axial, axial + 6, im.imageOrientation);
  FixedText<7> h, v;
  ComputeOrientationLabels(im, false, false, h, v);
  EXPECT_EQ(h.view(), "L");
  EXPECT_EQ(v.view(), "P");
  ComputeOrientationLabels(im, true, false, h, v);
  EXPECT_EQ(h.view(), "R");
  EXPECT_EQ(v.view(), "P");
  ComputeOrientationLabels(im, false, true, h, v);
  EXPECT_EQ(v.view(), "A");
  const float oblique[6] = {0.8f, 0, -0.75f, 0, 0, -1};
  std::copy(oblique, oblique + 6, im.imageOrientation);
  ComputeOrientationLabels(im, false, false, h, v);
  EXPECT_EQ(h.view(), "LF");
  EXPECT_EQ(v.view(), "F");
  const float none[6] = {0.5f, -0.5f, 0, 0, 0, 0};
  std::copy(none, none + 6, im.imageOrientation);
  ComputeOrientationLabels(im, false, false, h, v);
  EXPECT_TRUE(h.empty());
  EXPECT_TRUE(v.empty());
}

}  // namespace
}  // namespace velmo
