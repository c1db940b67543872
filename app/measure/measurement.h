#pragma once
// Measurements of one pane: distances, angles, the cardiothoracic ratio, pixel-value
// probes and circular/rectangular ROIs. This file holds the records, the mapping
// between pane, display-image and image-pixel coordinates, the value texts, the hit
// tests, and the press/move/release protocol that creates, selects, moves, reshapes
// and deletes them. Everything here is Qt-free so the CLI, the benchmarks and the
// tests run the same code as the pane.
//
// Points are stored in display-image coordinates: pixels of the zoomed, rotated and
// flipped image as drawn, (0,0) at the displayed image's top-left corner. Each
// record keeps the display it was written for (MeasurementAnchor); before it is
// edited or drawn its points are brought to the current display.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/fixed_text.h"
#include "measure/roi_stats.h"
#include "render/pane_display.h"

namespace velmo {

class Notifier;
struct DicomImage;

inline constexpr int kMeasureCapacity = 30;

enum class MeasurementTool { kNone, kDistance, kAngle, kRatio, kPixelValue, kRoiCircle, kRoiBox, kSelect, kDelete };

struct MeasurePoint {
  int32_t x = 0, y = 0;
  bool operator==(const MeasurePoint&) const = default;
};

// Every coordinate a measurement keeps lies within +-2^28, so the small offsets of the
// hit tests and label rules never overflow, whatever a caller passes in.
inline constexpr int64_t kCoordLimit = int64_t{1} << 28;
inline int32_t ClampCoord(int64_t v) {
  return static_cast<int32_t>(v < -kCoordLimit ? -kCoordLimit : (v > kCoordLimit ? kCoordLimit : v));
}

// A rectangle with exclusive right and bottom edges.
struct LabelRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(MeasurePoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  bool operator==(const LabelRect&) const = default;
};

// The display a record's points were written for. The rotation is kept as well, so a
// measurement stays on the same image features when the image is rotated after it
// was drawn.
struct MeasurementAnchor {
  int32_t displaySide = 0;
  int16_t flipHorizontal = 0, flipVertical = 0;
  int32_t rotationAngle = 0;
  bool operator==(const MeasurementAnchor&) const = default;
};

// What mapping points needs from a pane: the image size, the geometry of the pane's
// last conversion, its rotation, flips and pan.
struct MeasureView {
  int32_t rows = 0, columns = 0;
  DisplayGeometry g;
  int32_t rotationAngle = 0;
  int16_t flipHorizontal = 0, flipVertical = 0;
  bool nearestOnly = false;
  int32_t panX = 0, panY = 0;
  int32_t canvasSide = 0;  // S = min(Wc, Hc)

  bool valid() const { return g.drawable && rows > 0 && columns > 0; }
  MeasurementAnchor Anchor() const { return {g.side, flipHorizontal, flipVertical, rotationAngle}; }
  // Pane (canvas, device pixel) position <-> display-image point.
  MeasurePoint FromPane(MeasurePoint p) const {
    return {ClampCoord(int64_t{p.x} + panX - g.offX), ClampCoord(int64_t{p.y} + panY - g.offY)};
  }
  MeasurePoint ToPane(MeasurePoint p) const {
    return {ClampCoord(int64_t{p.x} - panX + g.offX), ClampCoord(int64_t{p.y} - panY + g.offY)};
  }
};
MeasureView MakeMeasureView(const PaneDisplay& pane, int32_t rows, int32_t columns);

// The image pixel under a display-image point, by the exact inverse of the pane's
// display mapping (the nearest-neighbour or the enlarged path, rotation and flips).
// False when the point lies outside the image (col/row are still written).
bool DisplayToImagePixel(const MeasureView& v, MeasurePoint p, int32_t* col, int32_t* row);
// Continuous forms (image coordinates in pixels, 0 at the left/top edge) used to
// carry points across a rotation change.
void DisplayToImageF(const MeasureView& v, double x, double y, double* col, double* row);
void ImageToDisplayF(const MeasureView& v, double col, double row, double* x, double* y);

// The point written under `stored` brought to the display of `v`: scaled by the
// display side, mirrored when a flip changed, and carried through image coordinates
// when the rotation changed.
MeasurePoint NormalisePoint(MeasurePoint p, const MeasurementAnchor& stored, const MeasureView& v);

// ---- records ----

struct MeasureBase {
  bool exists = false, selected = false, inProgress = false, moving = false;
  MeasurementAnchor anchor;
  LabelRect label;  // as last drawn (pane coordinates)
};

struct DistanceMeasurement : MeasureBase {
  MeasurePoint start, end;
  FixedText<32> text;
  int8_t dragEnd = 0;  // while reshaping: 1 start was grabbed (swapped), else 0
  MeasurePoint drawn[2];
};

struct AngleMeasurement : MeasureBase {
  MeasurePoint p[4];  // first line p[0]-p[1], second line p[2]-p[3]
  bool firstInProgress = false, firstDone = false, secondInProgress = false, secondDone = false;
  FixedText<32> text;
  float angle = 0;
  MeasurePoint drawn[4];
};

struct PixelValueProbe : MeasureBase {
  MeasurePoint point;
  FixedText<16> text;
  MeasurePoint drawn;
};

struct RoiMeasurement : MeasureBase {
  MeasurePoint a, b;  // opposite corners; b follows the mouse while in progress
  int8_t axis = 0;    // while reshaping by an edge: 1 only x follows, 2 only y, 0 both
  RoiTexts texts;
  RoiStatistics stats;
  MeasurePoint drawn[2];
};

enum class RatioPart : int8_t {
  kNone, kMidStart, kMidEnd, kHeartStart, kHeartEnd, kThoraxStart, kThoraxEnd, kMidBody, kHeartBody, kThoraxBody
};

struct CardiothoracicRatio : MeasureBase {
  MeasurePoint mid[2], heart[2], thorax[2];
  MeasurePoint marks[4][2];  // heart start, heart end, thorax start, thorax end
  RatioPart drag = RatioPart::kNone;
  FixedText<30> ratioText, sizeText;
  float heartSize = 0, thoraxSize = 0;
  // While a midline end is dragged: each heart/thorax end as (fraction along the
  // midline, offset across it in pixels).
  double along[4] = {}, across[4] = {};
  MeasurePoint drawnMid[2], drawnHeart[2], drawnThorax[2], drawnMarks[4][2];
  LabelRect ratioLabel, sizeLabel;
};

// Pixel values and spacing the values are computed from.
struct MeasureContext {
  MeasureView view;
  PixelSource pixels;        // the pane's current frame
  float pixelSpacing[2] = {0, 0};  // row spacing, column spacing
  Notifier* notifier = nullptr;
};
// View from the pane's last conversion, pixels of the pane's current frame.
MeasureContext MakeMeasureContext(const PaneDisplay& pane, const DicomImage& im, Notifier* notifier);

// ---- value texts ----

// "%.1f mm" with both spacings > 0, else "%.1f pixel". Horizontal image extents use
// the column spacing, vertical ones the row spacing.
double DistanceValue(const MeasureContext& c, MeasurePoint a, MeasurePoint b, bool* millimetres);
std::string DistanceText(const MeasureContext& c, MeasurePoint a, MeasurePoint b);
// The angle between two lines in degrees (0..180) and its "%.1f (%.1f)" text.
float AngleValue(const MeasurePoint p[4]);
std::string AngleText(float angle);
// The value under a display point, "%.0f", or "0" outside the image.
std::string PixelValueText(const MeasureContext& c, MeasurePoint p);

// ---- one pane's measurements ----

class PaneMeasurements {
 public:
  std::array<DistanceMeasurement, kMeasureCapacity> distances;
  std::array<AngleMeasurement, kMeasureCapacity> angles;
  std::array<PixelValueProbe, kMeasureCapacity> probes;
  std::array<RoiMeasurement, kMeasureCapacity> circles, boxes;
  CardiothoracicRatio ratio;

  // Everything gone (loading an image, starting MPR/MIP).
  void Clear();
  bool Empty() const;
  // Clears the selected flag of every measurement (and the ratio when `ratioToo`).
  void ClearSelection(bool ratioToo = true);
  // Deletes every selected measurement and the ratio when selected. True when
  // something was deleted.
  bool DeleteSelected();
  // The ratio tool switched on: creates the ratio at its default place when there is
  // none, and selects it.
  void RatioToolOn(const MeasureContext& c);

  // Mouse protocol; positions are pane (canvas) pixels. Press returns true when the
  // pane needs a repaint. A press starting a new measurement of a full kind shows the
  // capacity message through c.notifier.
  bool Press(MeasurementTool tool, MeasurePoint panePos, const MeasureContext& c);
  bool Move(MeasurePoint panePos, const MeasureContext& c);
  bool Release(MeasurePoint panePos, const MeasureContext& c);
  // True while a press of this pane is being dragged or rubber-banded.
  bool Busy() const;
  // Ends every rubber band and drag where it is (the image was replaced meanwhile).
  void CancelDrags();

  // Positions of every figure in the pane for the current display (recorded for the
  // hit tests and the drawing). Label rectangles are set by LayOutLabels.
  void MapForDrawing(const MeasureView& v);

 private:
  MeasurePoint last_;  // last mouse position of a move (display-image coordinates)
  bool anyMoving_ = false;
  void SelectPress(MeasurePoint panePos, const MeasureContext& c);
  void DeletePress(MeasurePoint panePos);
  void DeselectOthers(int kind);
};

// The default placement of the ratio for the display of `c`, with its values.
void PlaceDefaultRatio(CardiothoracicRatio& r, const MeasureContext& c);
// Heart and thorax sizes and the two texts.
void ComputeRatioValues(CardiothoracicRatio& r, const MeasureContext& c);
// The end marks rebuilt perpendicular to their lines.
void RebuildRatioMarks(CardiothoracicRatio& r, int32_t halfLength);
// ROI statistics of a record for the display of `c`.
void ComputeRoi(RoiMeasurement& r, RoiShape shape, const MeasureContext& c);

// ---- hit tests (pane coordinates) ----
bool HitLine(MeasurePoint press, MeasurePoint a, MeasurePoint b);
bool HitProbe(MeasurePoint press, MeasurePoint p);
bool HitBoxEdges(MeasurePoint press, MeasurePoint a, MeasurePoint b);
// On the ellipse inscribed in a-b as drawn with a 10-pixel pen.
bool HitEllipseOutline(MeasurePoint press, MeasurePoint a, MeasurePoint b);
inline bool Near4(MeasurePoint press, MeasurePoint p) {
  return press.x >= p.x - 4 && press.x <= p.x + 4 && press.y >= p.y - 4 && press.y <= p.y + 4;
}

}  // namespace velmo
