#include "measure/measurement.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/notifier.h"
#include "base/numbers.h"
#include "base/text.h"
#include "dicom/dicom_image.h"
#include "render/geometry.h"

namespace velmo {

namespace {

constexpr double kPi = 3.14159265358979323846;

int32_t Sat(int64_t v) { return ClampCoord(v); }
int32_t RoundSat(double v) {
  if (!std::isfinite(v)) return 0;
  return Sat(static_cast<int64_t>(std::llround(std::clamp(v, -4e18, 4e18))));
}

bool Enlarged(const MeasureView& v) { return !v.nearestOnly && v.g.w > v.columns && v.g.h > v.rows; }

// Displayed image size for a display side (the sizes rule of the conversion).
void SizesForSide(int32_t side, int32_t rows, int32_t columns, int32_t* w, int32_t* h) {
  if (rows <= 0 || columns <= 0) {
    *w = *h = 0;
    return;
  }
  if (rows < columns) {
    *w = side;
    *h = Sat(int64_t{rows} * side / columns);
  } else {
    *h = side;
    *w = Sat((int64_t{columns} * side / rows + 3) / 4 * 4);
  }
}

// The view a record was written for, rebuilt from its anchor (for continuous mapping).
MeasureView ViewOfAnchor(const MeasureView& current, const MeasurementAnchor& a) {
  MeasureView v = current;
  v.g.side = a.displaySide;
  SizesForSide(a.displaySide, v.rows, v.columns, &v.g.w, &v.g.h);
  v.g.W = v.g.side;
  v.g.H = v.g.side;
  v.g.offX = (v.g.side - v.g.w) >> 1;
  v.g.offY = (v.g.side - v.g.h) >> 1;
  v.g.drawable = v.g.side > 0 && v.g.w > 0 && v.g.h > 0;
  v.flipHorizontal = a.flipHorizontal;
  v.flipVertical = a.flipVertical;
  v.rotationAngle = a.rotationAngle;
  return v;
}

MeasurePoint Add(MeasurePoint p, MeasurePoint d) { return {Sat(int64_t{p.x} + d.x), Sat(int64_t{p.y} + d.y)}; }
MeasurePoint Sub(MeasurePoint p, MeasurePoint d) { return {Sat(int64_t{p.x} - d.x), Sat(int64_t{p.y} - d.y)}; }

}  // namespace

MeasureView MakeMeasureView(const PaneDisplay& pane, int32_t rows, int32_t columns) {
  MeasureView v;
  v.rows = rows;
  v.columns = columns;
  v.g = pane.last;
  v.rotationAngle = pane.rotationAngle;
  v.flipHorizontal = pane.flipHorizontal;
  v.flipVertical = pane.flipVertical;
  v.nearestOnly = pane.nearestOnly;
  v.panX = pane.panX;
  v.panY = pane.panY;
  v.canvasSide = std::min(pane.last.canvasWidth, pane.last.canvasHeight);
  return v;
}

bool DisplayToImagePixel(const MeasureView& v, MeasurePoint p, int32_t* col, int32_t* row) {
  *col = *row = -1;
  if (!v.valid()) return false;
  const DisplayGeometry& g = v.g;
  // Position inside the side x side square the conversion writes.
  const int64_t u = int64_t{p.x} + g.offX - ((g.W - g.side) >> 1);
  const int64_t t = int64_t{p.y} + g.offY - ((g.H - g.side) >> 1);
  const bool flipH = v.flipHorizontal != 0, flipV = v.flipVertical != 0;
  const RotationConstants rc = MakeRotationConstants(v.rotationAngle);
  int64_t c, r;
  bool inside;
  if (!Enlarged(v)) {
    const int64_t side = g.side, w = g.w, h = g.h;
    const int64_t mx = (side - w) >> 1, my = (side - h) >> 1;
    const int64_t x = flipH ? side - 1 - u : u, y = flipV ? side - 1 - t : t;
    int64_t px, py;
    if (v.rotationAngle == 0) {
      px = x - mx;
      py = y - my;
    } else {
      const int64_t dx = x - mx - (w >> 1), dy = y - my - (h >> 1);
      px = ((w >> 1) * 1024 + rc.c * dx - rc.s * dy) >> 10;
      py = ((h >> 1) * 1024 + rc.s * dx + rc.c * dy) >> 10;
    }
    inside = px >= 0 && px < w && py >= 0 && py < h && u >= 0 && u < side && t >= 0 && t < side;
    const int64_t fx = (int64_t{v.columns} << 10) / w, fy = (int64_t{v.rows} << 10) / h;
    c = (px * fx) >> 10;
    r = (py * fy) >> 10;
  } else {
    const int64_t n = std::max(v.rows, v.columns);
    const int64_t q = (n << 8) / g.side;
    const int64_t bx = (u * q) >> 8, by = (t * q) >> 8;
    const int64_t x = flipH ? n - 1 - bx : bx, y = flipV ? n - 1 - by : by;
    const int64_t mx = (n - v.columns) / 2, my = (n - v.rows) / 2;
    if (v.rotationAngle == 0) {
      c = x - mx;
      r = y - my;
    } else {
      const int64_t dx = x - mx - (v.columns >> 1), dy = y - my - (v.rows >> 1);
      c = (int64_t{v.columns} * 512 - rc.s * dy + rc.c * dx) >> 10;
      r = (int64_t{v.rows} * 512 + rc.s * dx + rc.c * dy) >> 10;
    }
    inside = u >= 0 && u < g.side && t >= 0 && t < g.side;
  }
  *col = Sat(c);
  *row = Sat(r);
  return inside && c >= 0 && c < v.columns && r >= 0 && r < v.rows;
}

void DisplayToImageF(const MeasureView& v, double x, double y, double* col, double* row) {
  *col = *row = 0;
  if (!v.valid()) return;
  const DisplayGeometry& g = v.g;
  const double mx = (g.side - g.w) >> 1, my = (g.side - g.h) >> 1;
  double X = x + mx, Y = y + my;
  if (v.flipHorizontal) X = g.side - 1 - X;
  if (v.flipVertical) Y = g.side - 1 - Y;
  const double dx = X - mx - (g.w >> 1), dy = Y - my - (g.h >> 1);
  const double th = v.rotationAngle * kPi / 180, c = std::cos(th), s = std::sin(th);
  const double px = (g.w >> 1) + c * dx - s * dy, py = (g.h >> 1) + s * dx + c * dy;
  *col = px * v.columns / g.w;
  *row = py * v.rows / g.h;
}

void ImageToDisplayF(const MeasureView& v, double col, double row, double* x, double* y) {
  *x = *y = 0;
  if (!v.valid()) return;
  const DisplayGeometry& g = v.g;
  const double mx = (g.side - g.w) >> 1, my = (g.side - g.h) >> 1;
  const double px = col * g.w / v.columns - (g.w >> 1), py = row * g.h / v.rows - (g.h >> 1);
  const double th = v.rotationAngle * kPi / 180, c = std::cos(th), s = std::sin(th);
  const double dx = c * px + s * py, dy = -s * px + c * py;
  double X = dx + mx + (g.w >> 1), Y = dy + my + (g.h >> 1);
  if (v.flipHorizontal) X = g.side - 1 - X;
  if (v.flipVertical) Y = g.side - 1 - Y;
  *x = X - mx;
  *y = Y - my;
}

MeasurePoint NormalisePoint(MeasurePoint p, const MeasurementAnchor& stored, const MeasureView& v) {
  if (!v.valid()) return p;
  if (stored.rotationAngle != v.rotationAngle && stored.displaySide > 0) {
    const MeasureView old = ViewOfAnchor(v, stored);
    double col, row, x, y;
    DisplayToImageF(old, p.x, p.y, &col, &row);
    ImageToDisplayF(v, col, row, &x, &y);
    return {RoundSat(x), RoundSat(y)};
  }
  const int64_t G = stored.displaySide > 0 ? (int64_t{v.g.side} * 1024) / stored.displaySide : 1024;
  int64_t x = (G * p.x) >> 10, y = (G * p.y) >> 10;
  if (stored.flipHorizontal != v.flipHorizontal) x = v.g.w - x;
  if (stored.flipVertical != v.flipVertical) y = v.g.h - y;
  return {Sat(x), Sat(y)};
}

MeasureContext MakeMeasureContext(const PaneDisplay& pane, const DicomImage& im, Notifier* notifier) {
  MeasureContext c;
  c.view = MakeMeasureView(pane, im.rows, im.columns);
  c.pixels = MakePixelSource(im, pane.frame);
  c.pixelSpacing[0] = im.pixelSpacing[0];
  c.pixelSpacing[1] = im.pixelSpacing[1];
  c.notifier = notifier;
  return c;
}

// ---- values ----

double DistanceValue(const MeasureContext& c, MeasurePoint a, MeasurePoint b, bool* millimetres) {
  const MeasureView& v = c.view;
  const bool mm = c.pixelSpacing[0] > 0 && c.pixelSpacing[1] > 0 && std::isfinite(c.pixelSpacing[0]) &&
                  std::isfinite(c.pixelSpacing[1]);
  if (millimetres) *millimetres = mm;
  if (!v.valid()) return 0;
  double dx = double(a.x) - b.x, dy = double(a.y) - b.y;
  // Back to the image's own axes: undo the flips, then the rotation, so that each
  // extent meets the spacing of its own image direction.
  if (v.flipHorizontal) dx = -dx;
  if (v.flipVertical) dy = -dy;
  if (v.rotationAngle != 0) {
    const double th = v.rotationAngle * kPi / 180, cs = std::cos(th), sn = std::sin(th);
    const double ix = cs * dx - sn * dy, iy = sn * dx + cs * dy;
    dx = ix;
    dy = iy;
  }
  const double cols = dx * v.columns / v.g.w, rows = dy * v.rows / v.g.h;
  if (mm) {
    const double h = cols * c.pixelSpacing[1], vv = rows * c.pixelSpacing[0];
    return std::sqrt(vv * vv + h * h);
  }
  return std::sqrt(rows * rows + cols * cols);
}

std::string DistanceText(const MeasureContext& c, MeasurePoint a, MeasurePoint b) {
  bool mm = false;
  const float d = static_cast<float>(DistanceValue(c, a, b, &mm));
  return Format(mm ? "%.1f mm" : "%.1f pixel", static_cast<double>(d));
}

float AngleValue(const MeasurePoint p[4]) {
  double t = std::fabs(std::atan2(double(p[0].y) - p[1].y, double(p[0].x) - p[1].x) -
                       std::atan2(double(p[2].y) - p[3].y, double(p[2].x) - p[3].x)) *
             57.29582595825195;
  if (t > 180) t -= 180;
  return static_cast<float>(t);
}

std::string AngleText(float angle) {
  return Format("%.1f (%.1f)", static_cast<double>(angle), 180.0 - static_cast<double>(angle));
}

std::string PixelValueText(const MeasureContext& c, MeasurePoint p) {
  int32_t col, row;
  if (!c.pixels.data || !DisplayToImagePixel(c.view, p, &col, &row) || !c.pixels.Inside(col, row)) return "0";
  return Format("%.0f", static_cast<double>(c.pixels.Value(col, row)));
}

void ComputeRoi(RoiMeasurement& r, RoiShape shape, const MeasureContext& c) {
  int32_t x1, y1, x2, y2;
  DisplayToImagePixel(c.view, r.a, &x1, &y1);
  DisplayToImagePixel(c.view, r.b, &x2, &y2);
  r.stats = ComputeRoiStatistics(shape, std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2),
                                 c.pixels, c.pixelSpacing);
  r.texts = MakeRoiTexts(r.stats);
}

// ---- cardiothoracic ratio ----

namespace {

int32_t RatioScale(const MeasureContext& c, int64_t t) {
  const int64_t S = c.view.canvasSide;
  const int64_t k = S > 0 ? (int64_t{c.view.g.side} * 1024) / S : 1024;
  return Sat((t * k) >> 10);
}

}  // namespace

void RebuildRatioMarks(CardiothoracicRatio& r, int32_t half) {
  const MeasurePoint* lines[2] = {r.heart, r.thorax};
  for (int l = 0; l < 2; ++l) {
    const MeasurePoint a = lines[l][0], b = lines[l][1];
    double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    const double len = std::hypot(dx, dy);
    // Marks stand across their line; vertical for a horizontal (or zero-length) line.
    double px = 0, py = 1;
    if (len > 0) {
      px = -dy / len;
      py = dx / len;
    }
    if (py < 0 || (py == 0 && px < 0)) {
      px = -px;
      py = -py;
    }
    for (int e = 0; e < 2; ++e) {
      const MeasurePoint p = lines[l][e];
      r.marks[l * 2 + e][0] = {RoundSat(p.x - half * px), RoundSat(p.y - half * py)};
      r.marks[l * 2 + e][1] = {RoundSat(p.x + half * px), RoundSat(p.y + half * py)};
    }
  }
}

void ComputeRatioValues(CardiothoracicRatio& r, const MeasureContext& c) {
  bool mm = false;
  r.heartSize = static_cast<float>(DistanceValue(c, r.heart[0], r.heart[1], &mm));
  r.thoraxSize = static_cast<float>(DistanceValue(c, r.thorax[0], r.thorax[1], &mm));
  // A thorax line of length 0 gives no ratio (0) rather than a division by zero.
  const double ratio = r.thoraxSize > 0 ? double(r.heartSize) / double(r.thoraxSize) * 100 : 0.0;
  r.ratioText = Format("%.1f %%", ratio);
  r.sizeText = Format(mm ? "%.0f mm / %.0f mm" : "%.0f pixel / %.0f pixel", double(r.heartSize), double(r.thoraxSize));
}

void PlaceDefaultRatio(CardiothoracicRatio& r, const MeasureContext& c) {
  const int32_t S = c.view.canvasSide;
  auto sc = [&](int64_t t) { return RatioScale(c, t); };
  r.mid[0] = {sc(S / 2), sc(30)};
  r.mid[1] = {sc(S / 2), sc(int64_t{S} - 30)};
  const int32_t hy = S - S / 3;
  r.heart[0] = {sc(S / 5 * 2), sc(hy)};
  r.heart[1] = {sc(S / 3 * 2), sc(hy)};
  const int32_t ty = S - (S >> 2);
  r.thorax[0] = {sc(S >> 3), sc(ty)};
  r.thorax[1] = {sc(int64_t{S >> 3} * 7), sc(ty)};
  RebuildRatioMarks(r, sc(40));
  r.ratioText.Clear();
  r.sizeText.Clear();
  r.anchor = c.view.Anchor();
  r.drag = RatioPart::kNone;
  ComputeRatioValues(r, c);
}

namespace {

// The heart or thorax end `p` put on the line through `other` across the midline.
MeasurePoint AcrossMidline(MeasurePoint p, MeasurePoint other, const MeasurePoint mid[2]) {
  const double ux = double(mid[1].x) - mid[0].x, uy = double(mid[1].y) - mid[0].y;
  const double len = std::hypot(ux, uy);
  if (len == 0) return {p.x, other.y};
  const double nx = -uy / len, ny = ux / len;
  const double k = (double(p.x) - other.x) * nx + (double(p.y) - other.y) * ny;
  return {RoundSat(other.x + k * nx), RoundSat(other.y + k * ny)};
}

void KeepRelativeToMidline(CardiothoracicRatio& r) {
  const double ux = double(r.mid[1].x) - r.mid[0].x, uy = double(r.mid[1].y) - r.mid[0].y;
  const double len = std::hypot(ux, uy);
  MeasurePoint* ends[4] = {&r.heart[0], &r.heart[1], &r.thorax[0], &r.thorax[1]};
  if (len == 0) {
    for (double& a : r.along) a = 0;
    for (double& a : r.across) a = 0;
    return;
  }
  const double ex = ux / len, ey = uy / len, nx = -ey, ny = ex;
  for (int i = 0; i < 4; ++i) {
    const double px = double(ends[i]->x) - r.mid[0].x, py = double(ends[i]->y) - r.mid[0].y;
    r.along[i] = (px * ex + py * ey) / len;
    r.across[i] = px * nx + py * ny;
  }
  // Both ends of a line share one place along the midline, so the lines stay across it.
  for (int l = 0; l < 2; ++l) r.along[l * 2] = r.along[l * 2 + 1] = (r.along[l * 2] + r.along[l * 2 + 1]) / 2;
}

void RebuildFromMidline(CardiothoracicRatio& r) {
  const double ux = double(r.mid[1].x) - r.mid[0].x, uy = double(r.mid[1].y) - r.mid[0].y;
  const double len = std::hypot(ux, uy);
  if (len == 0) return;
  const double ex = ux / len, ey = uy / len, nx = -ey, ny = ex;
  MeasurePoint* ends[4] = {&r.heart[0], &r.heart[1], &r.thorax[0], &r.thorax[1]};
  for (int i = 0; i < 4; ++i) {
    const double a = r.along[i] * len, b = r.across[i];
    *ends[i] = {RoundSat(r.mid[0].x + a * ex + b * nx), RoundSat(r.mid[0].y + a * ey + b * ny)};
  }
}

void NormaliseRatio(CardiothoracicRatio& r, const MeasureView& v) {
  for (MeasurePoint* p : {&r.mid[0], &r.mid[1], &r.heart[0], &r.heart[1], &r.thorax[0], &r.thorax[1]})
    *p = NormalisePoint(*p, r.anchor, v);
  for (auto& m : r.marks)
    for (MeasurePoint& p : m) p = NormalisePoint(p, r.anchor, v);
  r.anchor = v.Anchor();
}

template <typename Slots>
int FreeSlot(const Slots& s) {
  for (int i = 0; i < kMeasureCapacity; ++i)
    if (!s[i].exists && !s[i].inProgress) return i;
  return -1;
}

void Full(const MeasureContext& c, const std::string& message) {
  if (c.notifier) c.notifier->Show(SJ("情報"), Format(message, kMeasureCapacity), NoticeIcon::Information);
}

}  // namespace

// ---- pane measurements ----

void PaneMeasurements::Clear() {
  distances = {};
  angles = {};
  probes = {};
  circles = {};
  boxes = {};
  ratio = {};
  anyMoving_ = false;
}

bool PaneMeasurements::Empty() const {
  auto none = [](const auto& set) {
    return std::none_of(set.begin(), set.end(), [](const auto& m) { return m.exists; });
  };
  return none(distances) && none(angles) && none(probes) && none(circles) && none(boxes) && !ratio.exists;
}

void PaneMeasurements::ClearSelection(bool ratioToo) {
  for (auto& m : distances) m.selected = false;
  for (auto& m : angles) m.selected = false;
  for (auto& m : probes) m.selected = false;
  for (auto& m : circles) m.selected = false;
  for (auto& m : boxes) m.selected = false;
  if (ratioToo) ratio.selected = false;
}

bool PaneMeasurements::DeleteSelected() {
  bool any = false;
  auto del = [&](auto& set) {
    using T = typename std::decay_t<decltype(set)>::value_type;
    for (auto& m : set)
      if (m.exists && m.selected) {
        m = T{};
        any = true;
      }
  };
  del(distances);
  del(angles);
  del(probes);
  del(circles);
  del(boxes);
  if (ratio.exists && ratio.selected) {
    ratio = {};
    any = true;
  }
  return any;
}

void PaneMeasurements::RatioToolOn(const MeasureContext& c) {
  if (!ratio.exists) {
    if (!c.view.valid()) return;
    ratio = {};
    ratio.exists = true;
    PlaceDefaultRatio(ratio, c);
  }
  ratio.selected = true;
}

bool PaneMeasurements::Busy() const {
  auto busy = [](const auto& set) {
    return std::any_of(set.begin(), set.end(), [](const auto& m) { return m.inProgress || m.moving; });
  };
  const bool angleBusy = std::any_of(angles.begin(), angles.end(),
                                     [](const auto& a) { return a.firstInProgress || a.secondInProgress || a.moving; });
  return busy(distances) || angleBusy || busy(probes) || busy(circles) || busy(boxes) || ratio.drag != RatioPart::kNone;
}

void PaneMeasurements::CancelDrags() {
  for (auto& m : distances) m.inProgress = m.moving = false;
  for (auto& m : angles) {
    if (m.firstInProgress) m.firstDone = true;
    if (m.secondInProgress) m.secondDone = true;
    m.firstInProgress = m.secondInProgress = m.moving = false;
  }
  for (auto& m : probes) m.inProgress = m.moving = false;
  for (auto* set : {&circles, &boxes})
    for (auto& m : *set) m.inProgress = m.moving = false, m.axis = 0;
  ratio.drag = RatioPart::kNone;
}

void PaneMeasurements::MapForDrawing(const MeasureView& v) {
  auto map = [&](MeasurePoint p, const MeasurementAnchor& a) { return v.ToPane(NormalisePoint(p, a, v)); };
  for (auto& d : distances)
    if (d.exists) d.drawn[0] = map(d.start, d.anchor), d.drawn[1] = map(d.end, d.anchor);
  for (auto& a : angles)
    if (a.exists)
      for (int i = 0; i < 4; ++i) a.drawn[i] = map(a.p[i], a.anchor);
  for (auto& p : probes)
    if (p.exists) p.drawn = map(p.point, p.anchor);
  for (auto* set : {&circles, &boxes})
    for (auto& r : *set)
      if (r.exists) r.drawn[0] = map(r.a, r.anchor), r.drawn[1] = map(r.b, r.anchor);
  CardiothoracicRatio& r = ratio;
  if (r.exists) {
    for (int i = 0; i < 2; ++i) {
      r.drawnMid[i] = map(r.mid[i], r.anchor);
      r.drawnHeart[i] = map(r.heart[i], r.anchor);
      r.drawnThorax[i] = map(r.thorax[i], r.anchor);
    }
    for (int k = 0; k < 4; ++k)
      for (int i = 0; i < 2; ++i) r.drawnMarks[k][i] = map(r.marks[k][i], r.anchor);
  }
}

namespace {

enum Kind { kKindDistance, kKindRatio, kKindAngle, kKindProbe, kKindCircle, kKindBox };

// Which corner or edge midpoint of the ROI drawn from a to b is under the press:
// 0..3 corners (left-top, right-top, right-bottom, left-bottom), 4..7 midpoints
// (left, top, right, bottom), -1 none.
int RoiHandle(MeasurePoint press, MeasurePoint a, MeasurePoint b, bool edges) {
  const int32_t l = std::min(a.x, b.x), r = std::max(a.x, b.x), t = std::min(a.y, b.y), bo = std::max(a.y, b.y);
  const MeasurePoint corners[4] = {{l, t}, {r, t}, {r, bo}, {l, bo}};
  for (int i = 0; i < 4; ++i)
    if (Near4(press, corners[i])) return i;
  if (edges) {
    const int32_t mx = l + (r - l) / 2, my = t + (bo - t) / 2;
    const MeasurePoint mids[4] = {{l, my}, {mx, t}, {r, my}, {mx, bo}};
    for (int i = 0; i < 4; ++i)
      if (Near4(press, mids[i])) return 4 + i;
  }
  return -1;
}

// Turns a ROI back into one in progress with the grabbed corner or edge following
// the mouse (record points, normalised).
void GrabRoi(RoiMeasurement& r, int handle) {
  const int32_t l = std::min(r.a.x, r.b.x), rt = std::max(r.a.x, r.b.x), t = std::min(r.a.y, r.b.y),
                bo = std::max(r.a.y, r.b.y);
  const MeasurePoint corners[4] = {{l, t}, {rt, t}, {rt, bo}, {l, bo}};
  r.axis = 0;
  if (handle < 4) {
    r.a = corners[(handle + 2) % 4];
    r.b = corners[handle];
  } else {
    switch (handle) {
      case 4: r.a = {rt, t}, r.b = {l, bo}, r.axis = 1; break;
      case 5: r.a = {l, bo}, r.b = {rt, t}, r.axis = 2; break;
      case 6: r.a = {l, t}, r.b = {rt, bo}, r.axis = 1; break;
      default: r.a = {l, t}, r.b = {rt, bo}, r.axis = 2; break;
    }
  }
  r.inProgress = true;
}

void NormaliseRoi(RoiMeasurement& r, const MeasureView& v) {
  r.a = NormalisePoint(r.a, r.anchor, v);
  r.b = NormalisePoint(r.b, r.anchor, v);
  r.anchor = v.Anchor();
}

void FollowRoi(RoiMeasurement& r, MeasurePoint p) {
  if (r.axis != 2) r.b.x = p.x;
  if (r.axis != 1) r.b.y = p.y;
}

bool HitRatio(const CardiothoracicRatio& r, MeasurePoint press) {
  if (r.ratioLabel.Contains(press) || r.sizeLabel.Contains(press)) return true;
  if (HitLine(press, r.drawnMid[0], r.drawnMid[1]) || HitLine(press, r.drawnHeart[0], r.drawnHeart[1]) ||
      HitLine(press, r.drawnThorax[0], r.drawnThorax[1]))
    return true;
  for (const auto& m : r.drawnMarks)
    if (HitLine(press, m[0], m[1])) return true;
  return false;
}

RatioPart RatioPartAt(const CardiothoracicRatio& r, MeasurePoint press) {
  if (Near4(press, r.drawnMid[0])) return RatioPart::kMidStart;
  if (Near4(press, r.drawnMid[1])) return RatioPart::kMidEnd;
  if (Near4(press, r.drawnHeart[0])) return RatioPart::kHeartStart;
  if (Near4(press, r.drawnHeart[1])) return RatioPart::kHeartEnd;
  if (Near4(press, r.drawnThorax[0])) return RatioPart::kThoraxStart;
  if (Near4(press, r.drawnThorax[1])) return RatioPart::kThoraxEnd;
  if (HitLine(press, r.drawnMid[0], r.drawnMid[1])) return RatioPart::kMidBody;
  if (HitLine(press, r.drawnHeart[0], r.drawnHeart[1])) return RatioPart::kHeartBody;
  if (HitLine(press, r.drawnThorax[0], r.drawnThorax[1])) return RatioPart::kThoraxBody;
  return RatioPart::kNone;
}

// Starts a drag of the ratio's part under the press. False when no part is there.
bool StartRatioDrag(CardiothoracicRatio& r, MeasurePoint panePress, const MeasureView& v) {
  const RatioPart part = RatioPartAt(r, panePress);
  if (part == RatioPart::kNone) return false;
  NormaliseRatio(r, v);
  r.drag = part;
  if (part == RatioPart::kMidStart || part == RatioPart::kMidEnd) KeepRelativeToMidline(r);
  return true;
}

}  // namespace

void PaneMeasurements::DeselectOthers(int kind) {
  if (kind != kKindDistance)
    for (auto& m : distances) m.selected = false;
  if (kind != kKindRatio) ratio.selected = false;
  if (kind != kKindAngle)
    for (auto& m : angles) m.selected = false;
  if (kind != kKindProbe)
    for (auto& m : probes) m.selected = false;
  if (kind != kKindCircle)
    for (auto& m : circles) m.selected = false;
  if (kind != kKindBox)
    for (auto& m : boxes) m.selected = false;
}

void PaneMeasurements::SelectPress(MeasurePoint pp, const MeasureContext& c) {
  const MeasureView& v = c.view;
  const MeasurePoint p = v.FromPane(pp);
  last_ = p;
  bool got = false;
  // Runs the select rule over the slots of one kind, 29 down to 0.
  auto kind = [&](auto& set, int k, auto hit, auto grab) {
    if (got) return;
    bool gotKind = false;
    for (int i = kMeasureCapacity - 1; i >= 0; --i) {
      auto& m = set[i];
      if (!m.exists) continue;
      if (!hit(m) || gotKind) {
        m.selected = false;
        continue;
      }
      gotKind = true;
      if (m.selected) {
        grab(m);
      } else {
        m.selected = true;
        DeselectOthers(k);
      }
    }
    got = gotKind;
  };

  kind(
      distances, kKindDistance,
      [&](DistanceMeasurement& d) { return d.label.Contains(pp) || HitLine(pp, d.drawn[0], d.drawn[1]); },
      [&](DistanceMeasurement& d) {
        d.start = NormalisePoint(d.start, d.anchor, v);
        d.end = NormalisePoint(d.end, d.anchor, v);
        d.anchor = v.Anchor();
        if (Near4(pp, d.drawn[1])) {
          d.inProgress = true;
        } else if (Near4(pp, d.drawn[0])) {
          std::swap(d.start, d.end);
          d.inProgress = true;
        } else {
          d.moving = true;
        }
      });
  if (!got && ratio.exists) {
    if (HitRatio(ratio, pp)) {
      got = true;
      if (ratio.selected) {
        StartRatioDrag(ratio, pp, v);
      } else {
        ratio.selected = true;
        DeselectOthers(kKindRatio);
      }
    } else {
      ratio.selected = false;
    }
  }
  kind(
      angles, kKindAngle,
      [&](AngleMeasurement& a) {
        return a.label.Contains(pp) || HitLine(pp, a.drawn[0], a.drawn[1]) ||
               ((a.secondDone || a.secondInProgress) && HitLine(pp, a.drawn[2], a.drawn[3]));
      },
      [&](AngleMeasurement& a) {
        for (MeasurePoint& q : a.p) q = NormalisePoint(q, a.anchor, v);
        a.anchor = v.Anchor();
        const bool second = a.secondDone;
        if (Near4(pp, a.drawn[1])) {
          a.firstInProgress = true;
        } else if (Near4(pp, a.drawn[0])) {
          std::swap(a.p[0], a.p[1]);
          a.firstInProgress = true;
        } else if (second && Near4(pp, a.drawn[3])) {
          a.secondInProgress = true;
        } else if (second && Near4(pp, a.drawn[2])) {
          std::swap(a.p[2], a.p[3]);
          a.secondInProgress = true;
        } else {
          a.moving = true;
        }
      });
  kind(
      probes, kKindProbe, [&](PixelValueProbe& q) { return q.label.Contains(pp) || HitProbe(pp, q.drawn); },
      [&](PixelValueProbe& q) {
        q.point = NormalisePoint(q.point, q.anchor, v);
        q.anchor = v.Anchor();
        q.inProgress = true;  // a selected probe follows the mouse until the release
      });
  auto roiKind = [&](auto& set, int k, bool ellipse) {
    kind(
        set, k,
        [&](RoiMeasurement& r) {
          return r.label.Contains(pp) || (ellipse ? HitEllipseOutline(pp, r.drawn[0], r.drawn[1])
                                                  : HitBoxEdges(pp, r.drawn[0], r.drawn[1])) ||
                 RoiHandle(pp, r.drawn[0], r.drawn[1], !ellipse) >= 0;
        },
        [&](RoiMeasurement& r) {
          const int handle = RoiHandle(pp, r.drawn[0], r.drawn[1], !ellipse);
          NormaliseRoi(r, v);
          if (handle >= 0)
            GrabRoi(r, handle);
          else
            r.moving = true;
        });
  };
  roiKind(circles, kKindCircle, true);
  roiKind(boxes, kKindBox, false);
}

void PaneMeasurements::DeletePress(MeasurePoint pp) {
  auto del = [&](auto& set, auto hit) {
    using T = typename std::decay_t<decltype(set)>::value_type;
    for (int i = kMeasureCapacity - 1; i >= 0; --i)
      if (set[i].exists && hit(set[i])) {
        set[i] = T{};
        return;
      }
  };
  del(distances, [&](auto& d) { return d.label.Contains(pp) || HitLine(pp, d.drawn[0], d.drawn[1]); });
  if (ratio.exists && HitRatio(ratio, pp)) ratio = {};
  del(angles, [&](auto& a) {
    return a.label.Contains(pp) || HitLine(pp, a.drawn[0], a.drawn[1]) ||
           ((a.secondDone || a.secondInProgress) && HitLine(pp, a.drawn[2], a.drawn[3]));
  });
  del(probes, [&](auto& q) { return q.label.Contains(pp) || HitProbe(pp, q.drawn); });
  del(circles, [&](auto& r) { return r.label.Contains(pp) || HitEllipseOutline(pp, r.drawn[0], r.drawn[1]); });
  del(boxes, [&](auto& r) { return r.label.Contains(pp) || HitBoxEdges(pp, r.drawn[0], r.drawn[1]); });
}

bool PaneMeasurements::Press(MeasurementTool tool, MeasurePoint pp, const MeasureContext& c) {
  const MeasureView& v = c.view;
  if (!v.valid()) return false;
  MapForDrawing(v);  // hit tests compare with the figures as they stand now
  const MeasurePoint p = v.FromPane(pp);
  last_ = p;
  switch (tool) {
    case MeasurementTool::kDistance: {
      const int i = FreeSlot(distances);
      if (i < 0) {
        Full(c, SJ("距離計測は最大で%d箇所です。"));
        return false;
      }
      DistanceMeasurement& d = distances[i];
      d = {};
      d.exists = d.inProgress = true;
      d.start = d.end = p;
      d.anchor = v.Anchor();
      d.text = DistanceText(c, p, p);
      return true;
    }
    case MeasurementTool::kAngle: {
      // An angle waiting for its second line takes the press first.
      for (AngleMeasurement& a : angles) {
        if (a.exists && a.firstDone && !a.secondDone && !a.firstInProgress && !a.secondInProgress) {
          for (MeasurePoint& q : a.p) q = NormalisePoint(q, a.anchor, v);
          a.anchor = v.Anchor();
          a.p[2] = a.p[3] = p;
          a.secondInProgress = true;
          return true;
        }
      }
      for (AngleMeasurement& a : angles) {
        if (!a.exists && a.firstDone == a.secondDone) {
          a = {};
          a.exists = a.firstInProgress = true;
          a.p[0] = a.p[1] = p;
          a.anchor = v.Anchor();
          return true;
        }
      }
      Full(c, SJ("角度計測は最大で%d箇所です。"));
      return false;
    }
    case MeasurementTool::kPixelValue: {
      const int i = FreeSlot(probes);
      if (i < 0) {
        Full(c, SJ("ピクセル値計測は最大で%d箇所です。"));
        return false;
      }
      PixelValueProbe& q = probes[i];
      q = {};
      q.exists = q.inProgress = true;
      q.point = p;
      q.anchor = v.Anchor();
      q.text = PixelValueText(c, p);
      return true;
    }
    case MeasurementTool::kRoiCircle:
    case MeasurementTool::kRoiBox: {
      auto& set = tool == MeasurementTool::kRoiCircle ? circles : boxes;
      const int i = FreeSlot(set);
      if (i < 0) {
        Full(c, SJ("ROI計測は最大で%d箇所です。"));
        return false;
      }
      RoiMeasurement& r = set[i];
      r = {};
      r.exists = r.inProgress = true;
      r.a = r.b = p;
      r.anchor = v.Anchor();
      return true;
    }
    case MeasurementTool::kRatio:
      if (ratio.exists && ratio.selected) return StartRatioDrag(ratio, pp, v);
      return false;
    case MeasurementTool::kSelect:
      SelectPress(pp, c);
      return true;
    case MeasurementTool::kDelete:
      DeletePress(pp);
      return true;
    case MeasurementTool::kNone:
      break;
  }
  return false;
}

bool PaneMeasurements::Move(MeasurePoint pp, const MeasureContext& c) {
  const MeasureView& v = c.view;
  if (!v.valid()) return false;
  const MeasurePoint p = v.FromPane(pp);
  const MeasurePoint delta = Sub(p, last_);
  last_ = p;
  bool changed = false;

  bool first = true;
  for (DistanceMeasurement& d : distances) {
    if (d.inProgress && first) {
      first = false;
      d.end = p;
      d.anchor = v.Anchor();
      d.text = DistanceText(c, d.start, d.end);
      changed = true;
    } else if (d.moving && !d.inProgress) {
      d.start = Add(d.start, delta);
      d.end = Add(d.end, delta);
      d.text = DistanceText(c, d.start, d.end);
      changed = true;
    }
  }
  first = true;
  for (AngleMeasurement& a : angles) {
    if ((a.firstInProgress || a.secondInProgress) && first) {
      first = false;
      a.p[a.secondInProgress ? 3 : 1] = p;
      a.anchor = v.Anchor();
      changed = true;
    } else if (a.moving) {
      for (MeasurePoint& q : a.p) q = Add(q, delta);
      changed = true;
    } else {
      continue;
    }
    if (a.firstDone && a.secondDone) {
      a.angle = AngleValue(a.p);
      a.text = AngleText(a.angle);
    }
  }
  first = true;
  for (PixelValueProbe& q : probes) {
    if (q.inProgress && first) {
      first = false;
      q.point = p;
      q.anchor = v.Anchor();
    } else if (q.moving) {
      q.point = Add(q.point, delta);
    } else {
      continue;
    }
    q.text = PixelValueText(c, q.point);
    changed = true;
  }
  for (auto* set : {&circles, &boxes}) {
    const RoiShape shape = set == &circles ? RoiShape::kEllipse : RoiShape::kRectangle;
    first = true;
    for (RoiMeasurement& r : *set) {
      if (r.inProgress && first) {
        first = false;
        FollowRoi(r, p);
        r.anchor = v.Anchor();
      } else if (r.moving) {
        r.a = Add(r.a, delta);
        r.b = Add(r.b, delta);
      } else {
        continue;
      }
      ComputeRoi(r, shape, c);
      changed = true;
    }
  }
  CardiothoracicRatio& r = ratio;
  if (r.exists && r.drag != RatioPart::kNone) {
    const int32_t half = RatioScale(c, 40);
    switch (r.drag) {
      case RatioPart::kMidStart:
      case RatioPart::kMidEnd:
        r.mid[r.drag == RatioPart::kMidStart ? 0 : 1] = p;
        RebuildFromMidline(r);
        RebuildRatioMarks(r, half);
        break;
      case RatioPart::kHeartStart: r.heart[0] = AcrossMidline(p, r.heart[1], r.mid); break;
      case RatioPart::kHeartEnd: r.heart[1] = AcrossMidline(p, r.heart[0], r.mid); break;
      case RatioPart::kThoraxStart: r.thorax[0] = AcrossMidline(p, r.thorax[1], r.mid); break;
      case RatioPart::kThoraxEnd: r.thorax[1] = AcrossMidline(p, r.thorax[0], r.mid); break;
      case RatioPart::kMidBody:
        for (MeasurePoint* q : {&r.mid[0], &r.mid[1], &r.heart[0], &r.heart[1], &r.thorax[0], &r.thorax[1]})
          *q = Add(*q, delta);
        for (auto& m : r.marks)
          for (MeasurePoint& q : m) q = Add(q, delta);
        break;
      case RatioPart::kHeartBody:
      case RatioPart::kThoraxBody: {
        const int l = r.drag == RatioPart::kHeartBody ? 0 : 1;
        MeasurePoint* line = l == 0 ? r.heart : r.thorax;
        line[0] = Add(line[0], delta);
        line[1] = Add(line[1], delta);
        for (int k = l * 2; k < l * 2 + 2; ++k)
          for (MeasurePoint& q : r.marks[k]) q = Add(q, delta);
        break;
      }
      case RatioPart::kNone: break;
    }
    if (r.drag >= RatioPart::kHeartStart && r.drag <= RatioPart::kThoraxEnd) RebuildRatioMarks(r, half);
    r.anchor = v.Anchor();
    ComputeRatioValues(r, c);
    changed = true;
  }
  return changed;
}

bool PaneMeasurements::Release(MeasurePoint pp, const MeasureContext& c) {
  const MeasureView& v = c.view;
  if (!v.valid()) {
    CancelDrags();
    return true;
  }
  const MeasurePoint p = v.FromPane(pp);
  bool changed = false;
  for (DistanceMeasurement& d : distances)
    if (d.inProgress) {
      d.inProgress = false;
      d.end = p;
      d.anchor = v.Anchor();
      d.text = DistanceText(c, d.start, d.end);
      changed = true;
      break;
    }
  for (AngleMeasurement& a : angles)
    if (a.firstInProgress || a.secondInProgress) {
      if (a.secondInProgress) {
        a.secondInProgress = false;
        a.secondDone = true;
        a.p[3] = p;
      } else {
        a.firstInProgress = false;
        a.firstDone = true;
        a.p[1] = p;
      }
      a.anchor = v.Anchor();
      if (a.firstDone && a.secondDone) {
        a.angle = AngleValue(a.p);
        a.text = AngleText(a.angle);
      }
      changed = true;
      break;
    }
  for (PixelValueProbe& q : probes)
    if (q.inProgress) {
      q.inProgress = false;
      q.point = p;
      q.anchor = v.Anchor();
      q.text = PixelValueText(c, p);
      changed = true;
      break;
    }
  for (auto* set : {&circles, &boxes}) {
    const RoiShape shape = set == &circles ? RoiShape::kEllipse : RoiShape::kRectangle;
    for (RoiMeasurement& r : *set)
      if (r.inProgress) {
        r.inProgress = false;
        FollowRoi(r, p);
        r.axis = 0;
        r.anchor = v.Anchor();
        ComputeRoi(r, shape, c);
        changed = true;
        break;
      }
    for (RoiMeasurement& r : *set)
      if (r.moving) ComputeRoi(r, shape, c);
  }
  if (ratio.exists && ratio.drag != RatioPart::kNone) {
    if (ratio.drag != RatioPart::kMidBody && ratio.drag != RatioPart::kHeartBody &&
        ratio.drag != RatioPart::kThoraxBody)
      RebuildRatioMarks(ratio, RatioScale(c, 40));
    ratio.anchor = v.Anchor();
    ComputeRatioValues(ratio, c);
    ratio.drag = RatioPart::kNone;
    changed = true;
  }
  // Every moving and dragged flag of the pane ends here.
  for (auto& m : distances) changed |= std::exchange(m.moving, false);
  for (auto& m : angles) changed |= std::exchange(m.moving, false);
  for (auto& m : probes) changed |= std::exchange(m.moving, false);
  for (auto& m : circles) changed |= std::exchange(m.moving, false);
  for (auto& m : boxes) changed |= std::exchange(m.moving, false);
  return changed;
}

// ---- hit tests ----

bool HitLine(MeasurePoint press, MeasurePoint a, MeasurePoint b) {
  if (press.x < std::min(a.x, b.x) - 5 || press.x > std::max(a.x, b.x) + 5 || press.y < std::min(a.y, b.y) - 5 ||
      press.y > std::max(a.y, b.y) + 5)
    return false;
  const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
  const double len = std::hypot(dx, dy);
  if (len == 0) return std::hypot(double(press.x) - a.x, double(press.y) - a.y) < 5;
  const double dist = std::fabs(dx * (double(a.y) - press.y) - dy * (double(a.x) - press.x)) / len;
  return dist < 5;
}

bool HitProbe(MeasurePoint press, MeasurePoint p) {
  return press.x >= p.x - 5 && press.x <= p.x + 5 && press.y >= p.y - 5 && press.y <= p.y + 5;
}

bool HitBoxEdges(MeasurePoint press, MeasurePoint a, MeasurePoint b) {
  const MeasurePoint lt{std::min(a.x, b.x), std::min(a.y, b.y)}, rb{std::max(a.x, b.x), std::max(a.y, b.y)};
  const bool inX = press.x >= lt.x - 5 && press.x <= rb.x + 5, inY = press.y >= lt.y - 5 && press.y <= rb.y + 5;
  const bool nearX = std::abs(press.x - lt.x) <= 5 || std::abs(press.x - rb.x) <= 5;
  const bool nearY = std::abs(press.y - lt.y) <= 5 || std::abs(press.y - rb.y) <= 5;
  return (nearX && inY) || (nearY && inX);
}

bool HitEllipseOutline(MeasurePoint press, MeasurePoint a, MeasurePoint b) {
  const double cx = (double(a.x) + b.x) / 2, cy = (double(a.y) + b.y) / 2;
  const double rx = std::fabs(double(b.x) - a.x) / 2, ry = std::fabs(double(b.y) - a.y) / 2;
  const double px = press.x - cx, py = press.y - cy;
  const double dist = std::hypot(px, py);
  if (rx < 1 || ry < 1) return std::fabs(px) <= rx + 5 && std::fabs(py) <= ry + 5;
  if (dist == 0) return std::min(rx, ry) <= 5;
  // Distance from the press to the outline along the ray from the centre: within
  // half the 10-pixel pen.
  const double k = std::hypot(px / rx, py / ry);  // 1 on the outline
  const double onOutline = dist / k;
  return std::fabs(dist - onOutline) <= 5;
}

}  // namespace velmo
