#include "render/geometry.h"

#include <algorithm>
#include <cmath>

#include "dicom/dicom_image.h"
#include "base/numbers.h"

namespace velmo {

namespace {

int32_t CanvasWidth4(int32_t wc) { return wc > 0 ? (wc & ~3) : 0; }
int32_t CanvasSide(const PaneDisplay& pane) {
  const int32_t w = CanvasWidth4(pane.canvasWidth);
  const int32_t h = pane.canvasHeight > 0 ? pane.canvasHeight : 0;
  return std::min(w, h);
}
int64_t RoundUp4(int64_t v) { return (v + 3) & ~int64_t{3}; }
int32_t Saturate32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX & ~3;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Scale and pan after a zoom change, with the zoom factor taken as given.
void ApplyZoom(PaneDisplay& pane, float zoom, const DicomImage& im, const DisplayPitch& pitch) {
  pane.fitMode = pane.actualSizeMode = pane.oneToOneMode = false;
  pane.zoomFactor = zoom;
  if (zoom == 1.0f) pane.actualSizeMode = true;
  const float previous = pane.displayScale;
  ComputeDisplayScale(pane, im, pitch);
  UpdatePan(pane, previous);
  pane.needsConversion = true;
}

// True when showing the image at this zoom factor keeps the bitmap within limits.
bool ZoomFits(const PaneDisplay& pane, float zoom, const DicomImage& im, const DisplayPitch& pitch) {
  PaneDisplay probe;
  probe.canvasWidth = pane.canvasWidth;
  probe.canvasHeight = pane.canvasHeight;
  probe.paletteColour = pane.paletteColour;
  probe.fitMode = false;
  probe.zoomFactor = zoom;
  probe.actualSizeMode = zoom == 1.0f;
  ComputeDisplayScale(probe, im, pitch);
  const DisplayGeometry g = ComputeGeometry(probe.displayScale, probe.canvasWidth, probe.canvasHeight, im.rows,
                                            im.columns);
  return DisplayBitmapBytes(g.W, g.H, UsesBits32(pane, im)) <= kMaxDisplayBitmapBytes;
}

}  // namespace

uint64_t DisplayBitmapBytes(int64_t W, int64_t H, bool bits32) {
  if (W <= 0 || H <= 0) return bits32 ? 54 : 1078;
  const uint64_t pixels = static_cast<uint64_t>(W) * static_cast<uint64_t>(H);
  return bits32 ? pixels * 4 + 54 : pixels * 2 + 1078;
}

bool UsesBits32(const PaneDisplay& pane, const DicomImage& im) { return im.isColour != 0 || pane.paletteColour; }

double SpacingToPitch(const DicomImage& im, const DisplayPitch& pitch) {
  // The longer side's own spacing: pixel spacing holds the row spacing (a vertical
  // distance) first and the column spacing (a horizontal one) second.
  const bool wide = im.columns > im.rows;
  const double sp = wide ? im.pixelSpacing[1] : im.pixelSpacing[0];
  const double dp = wide ? pitch.x : pitch.y;
  const double s0 = im.pixelSpacing[0], s1 = im.pixelSpacing[1];
  if (!(s0 > 0) || !(s1 > 0) || !std::isfinite(s0) || !std::isfinite(s1)) return 1.0;
  if (!(dp > 0) || !std::isfinite(dp)) return 1.0;
  const double r = sp / dp;
  return std::isfinite(r) && r > 0 ? r : 1.0;
}

void ComputeDisplayScale(PaneDisplay& pane, const DicomImage& im, const DisplayPitch& pitch) {
  const int32_t n = std::max(im.rows, im.columns);
  const int32_t s = CanvasSide(pane);
  if (n <= 0 || s <= 0) {
    pane.displayScale = 1.0f;
    return;
  }
  const double r = SpacingToPitch(im, pitch);
  double scale;
  if (pane.fitMode)
    scale = 1.0;
  else if (pane.actualSizeMode)
    scale = n * r / s;
  else if (pane.oneToOneMode)
    scale = static_cast<double>(n) / s;
  else
    scale = n * r * static_cast<double>(pane.zoomFactor) / s;
  pane.displayScale = static_cast<float>(scale);
  pane.zoomFactor = static_cast<float>(s * static_cast<double>(pane.displayScale) / (n * r));
}

void UpdatePan(PaneDisplay& pane, float previousScale) {
  if (!(pane.displayScale > 1.0f)) {
    pane.panX = pane.panY = 0;
    pane.hasPan = false;
    return;
  }
  const int32_t wc = CanvasWidth4(pane.canvasWidth);
  const int32_t hc = pane.canvasHeight > 0 ? pane.canvasHeight : 0;
  // Products of the float scale are taken in float, as the scale is kept.
  const float fs = pane.displayScale;
  if (!pane.hasPan || !(previousScale > 0)) {
    pane.panX = TruncToInt32(fs * static_cast<float>(wc) - static_cast<float>(wc)) >> 1;
    pane.panY = TruncToInt32(fs * static_cast<float>(hc) - static_cast<float>(hc)) >> 1;
    pane.hasPan = true;
    return;
  }
  auto keep = [&](int32_t pan, int32_t c) {
    const float moved_f = fs / previousScale * static_cast<float>(int64_t{pan} + c / 2);
    const int32_t moved = Saturate32(int64_t{TruncToInt32(moved_f)} - c / 2);
    const int32_t hi = Saturate32(int64_t{TruncToInt32(fs * static_cast<float>(c))} - c);
    return std::clamp(moved, 0, std::max(hi, 0));
  };
  pane.panX = keep(pane.panX, wc);
  pane.panY = keep(pane.panY, hc);
}

DisplayGeometry ComputeGeometry(float displayScale, int32_t canvasWidth, int32_t canvasHeight, int32_t rows,
                                int32_t columns) {
  DisplayGeometry g;
  g.canvasWidth = CanvasWidth4(canvasWidth);
  g.canvasHeight = canvasHeight > 0 ? canvasHeight : 0;
  if (g.canvasWidth == 0 || g.canvasHeight == 0 || rows <= 0 || columns <= 0) return g;
  // Products of the float scale are taken in float, as the scale is kept.
  const float scale = displayScale;
  const int64_t bw = RoundUp4(std::max<int64_t>(TruncToInt32(scale * static_cast<float>(g.canvasWidth)), 0));
  const int64_t bh = std::max<int64_t>(TruncToInt32(scale * static_cast<float>(g.canvasHeight)), 0);
  const int64_t side = std::min(bw, bh);
  int64_t w, h;
  if (rows < columns) {
    w = side;
    h = int64_t{rows} * side / columns;
  } else {
    h = side;
    w = RoundUp4(int64_t{columns} * side / rows);
  }
  g.side = Saturate32(side);
  g.w = Saturate32(w);
  g.h = Saturate32(h);
  if (scale > 1.0f) {
    g.W = Saturate32(bw);
    g.H = Saturate32(bh);
  } else {
    g.W = g.canvasWidth;
    g.H = g.canvasHeight;
  }
  g.offX = (g.W - g.w) >> 1;
  g.offY = (g.H - g.h) >> 1;
  g.drawable = g.side > 0 && g.w > 0 && g.h > 0;
  return g;
}

void ClampPan(PaneDisplay& pane, const DisplayGeometry& g) {
  pane.panX = std::clamp(pane.panX, 0, std::max(g.W - g.canvasWidth, 0));
  pane.panY = std::clamp(pane.panY, 0, std::max(g.H - g.canvasHeight, 0));
}

std::string ZoomText(float zoomFactor) { return Format("%.2f", static_cast<double>(zoomFactor)); }

void SetScaleMode(PaneDisplay& pane, ScaleMode mode, const DicomImage& im, const DisplayPitch& pitch) {
  pane.fitMode = mode == ScaleMode::kFit;
  pane.actualSizeMode = mode == ScaleMode::kActualSize;
  pane.oneToOneMode = mode == ScaleMode::kOneToOne;
  const float previous = pane.displayScale;
  ComputeDisplayScale(pane, im, pitch);
  UpdatePan(pane, previous);
  pane.needsConversion = true;
}

bool SelectZoomItem(PaneDisplay& pane, std::string_view itemText, const DicomImage& im, const DisplayPitch& pitch) {
  float zoom = static_cast<float>(ParseDouble(itemText));
  if (zoom == 0.0f) zoom = 1.0f;
  if (!ZoomFits(pane, zoom, im, pitch)) return false;
  ApplyZoom(pane, zoom, im, pitch);
  return true;
}

bool EditZoomText(PaneDisplay& pane, std::string_view text, const DicomImage& im, const DisplayPitch& pitch) {
  const double value = ParseDouble(text.substr(0, 9));
  if (value == 0.0 || value < 0.05) return false;
  const float zoom = static_cast<float>(value);
  if (!std::isfinite(zoom) || !ZoomFits(pane, zoom, im, pitch)) return false;
  ApplyZoom(pane, zoom, im, pitch);
  return true;
}

bool LimitZoomToFit(PaneDisplay& pane, const DicomImage& im, const DisplayPitch& pitch) {
  if (pane.fitMode || pane.actualSizeMode || pane.oneToOneMode) return false;
  const DisplayGeometry g = ComputeGeometry(pane.displayScale, pane.canvasWidth, pane.canvasHeight, im.rows,
                                            im.columns);
  if (DisplayBitmapBytes(g.W, g.H, UsesBits32(pane, im)) <= kMaxDisplayBitmapBytes) return false;
  // The bitmap grows with the zoom: the largest zoom in steps of 0.01 (as the combo
  // shows it) below the current one that fits, found by halving.
  int64_t lo = 0, hi = std::max<int64_t>(static_cast<int64_t>(pane.zoomFactor * 100.0), 1);
  while (lo < hi) {
    const int64_t mid = (lo + hi + 1) / 2;
    if (ZoomFits(pane, static_cast<float>(mid) / 100.0f, im, pitch))
      lo = mid;
    else
      hi = mid - 1;
  }
  ApplyZoom(pane, std::max<float>(static_cast<float>(lo) / 100.0f, 0.01f), im, pitch);
  return true;
}

bool DragZoom(PaneDisplay& pane, int32_t dx, int32_t dy, const DicomImage& im, const DisplayPitch& pitch) {
  double next = static_cast<double>(pane.zoomFactor) + 0.005 * (static_cast<double>(dx) - static_cast<double>(dy));
  if (next <= 0.05) next = 0.05;
  const float zoom = static_cast<float>(next);
  if (zoom > pane.zoomFactor && !ZoomFits(pane, zoom, im, pitch)) return false;
  ApplyZoom(pane, zoom, im, pitch);
  return true;
}

int32_t ParseRotationAngle(std::string_view text) {
  const int32_t v = ParseInt(text.substr(0, 3));
  return ((v % 360) + 360) % 360;
}

void SetRotateLeft(PaneDisplay& pane, bool on, int32_t angle) {
  pane.rotateLeft = on;
  pane.rotateRight = false;
  pane.rotationAngle = on ? ((angle % 360) + 360) % 360 : 0;
  pane.needsConversion = true;
}

void SetRotateRight(PaneDisplay& pane, bool on, int32_t angle) {
  pane.rotateRight = on;
  pane.rotateLeft = false;
  pane.rotationAngle = on ? ((360 - angle % 360) % 360 + 360) % 360 : 0;
  pane.needsConversion = true;
}

bool RotationComboChanged(PaneDisplay& pane, std::string_view text, bool edited) {
  static constexpr std::string_view kItems[] = {"30",  "60",  "90",  "120", "150", "180",
                                                "210", "240", "270", "300", "330"};
  const int32_t angle = ParseRotationAngle(text);
  if (edited && angle == 0 && std::find(std::begin(kItems), std::end(kItems), text) == std::end(kItems)) return false;
  if (pane.rotateLeft)
    SetRotateLeft(pane, true, angle);
  else if (pane.rotateRight)
    SetRotateRight(pane, true, angle);
  else
    return false;
  return true;
}

void SetFlipHorizontal(PaneDisplay& pane, bool on) {
  pane.flipHorizontal = on ? 1 : 0;
  pane.needsConversion = true;
}
void SetFlipVertical(PaneDisplay& pane, bool on) {
  pane.flipVertical = on ? 1 : 0;
  pane.needsConversion = true;
}

void ComputeOrientationLabels(const DicomImage& im, bool flipHorizontal, bool flipVertical,
                              FixedText<7>& horizontal, FixedText<7>& vertical) {
  auto label = [](const float* cosines, float sign, FixedText<7>& out) {
    out.Clear();
    if (cosines[0] + cosines[1] + cosines[2] == 0.0f) return;
    static constexpr char kPositive[] = {'L', 'P', 'H'};
    static constexpr char kNegative[] = {'R', 'A', 'F'};
    std::string letters;
    for (int k = 0; k < 3; ++k) {
      const double v = static_cast<double>(cosines[k] * sign);
      if (v >= 0.707 && v <= 1.0)
        letters += kPositive[k];
      else if (v >= -1.0 && v <= -0.707)
        letters += kNegative[k];
    }
    out = letters;
  };
  label(&im.imageOrientation[0], flipHorizontal ? -1.0f : 1.0f, horizontal);
  label(&im.imageOrientation[3], flipVertical ? -1.0f : 1.0f, vertical);
}

RotationConstants MakeRotationConstants(int32_t degrees) {
  const double theta = degrees * 3.14159 * (1.0 / 180.0);
  const float cosine = static_cast<float>(std::cos(theta));
  RotationConstants r;
  r.c = TruncToInt32(static_cast<double>(cosine) * 1024.0);
  r.s = TruncToInt32(std::sin(theta) * 1024.0);
  return r;
}

}  // namespace velmo
