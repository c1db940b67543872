#include "shell/print_layout.h"

#include <cmath>

#include "base/numbers.h"
#include "base/settings.h"
#include "base/text.h"

namespace velmo {

namespace {

constexpr FrameLayout kLayouts[15] = {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 1}, {2, 2}, {2, 3}, {2, 4},
                                      {3, 1}, {3, 2}, {3, 3}, {3, 4}, {4, 1}, {4, 2}, {4, 3}};

struct Paper {
  const char* name;
  int code;
};
constexpr Paper kPapers[] = {{"A3", 8}, {"A4", 9}, {"A5", 11}, {"B4", 12}, {"B5", 13}, {"はがき", 43}};

// Device pixels of a length, truncated as the integer device coordinates of the
// printing code are; saturated so that absurd settings cannot overflow.
int64_t ToPixels(double v) {
  if (!std::isfinite(v)) return 0;
  if (v > 1e12) return int64_t{1000000000000};
  if (v < -1e12) return -int64_t{1000000000000};
  return static_cast<int64_t>(v);
}

}  // namespace

const std::array<std::string, 15>& LayoutNames() {
  static const std::array<std::string, 15> names = [] {
    std::array<std::string, 15> n;
    for (int i = 0; i < 15; ++i)
      n[i] = Format("%d%s%d", kLayouts[i].columns, SjisFromUtf8("×"), kLayouts[i].rows);
    return n;
  }();
  return names;
}

FrameLayout LayoutAt(int index) { return index >= 0 && index < 15 ? kLayouts[index] : kLayouts[0]; }

int LayoutIndex(std::string_view name) {
  const std::array<std::string, 15>& names = LayoutNames();
  for (int i = 0; i < 15; ++i) {
    if (name == names[i]) return i;
    if (name == Format("%dx%d", kLayouts[i].columns, kLayouts[i].rows)) return i;
  }
  return -1;
}

FrameLayout LayoutFromSetting(std::string_view name) { return LayoutAt(LayoutIndex(name)); }

int PaperCode(std::string_view paper) {
  for (const Paper& p : kPapers)
    if (paper == SjisFromUtf8(p.name)) return p.code;
  return 9;
}

std::string PaperName(int code) {
  for (const Paper& p : kPapers)
    if (p.code == code) return SjisFromUtf8(p.name);
  return "";
}

int OrientationCode(std::string_view orientation) { return orientation == SJ("横") ? 2 : 1; }

PixelRect PageGeometry::Frame(int k) const {
  if (k < 0 || k >= layout.Count() || Empty()) return {};
  const int row = k / layout.columns, column = k % layout.columns;
  return {area.x + column * frameWidth, area.y + row * frameHeight, frameWidth, frameHeight};
}

PageGeometry ComputePageGeometry(const PrintDevice& d, const PrintSettings& s, FrameLayout layout) {
  constexpr double kInchPerHundredthMm = 0.0003937007874015748;
  constexpr double kInchPerMm = 0.03937007874015748;
  const int64_t left = ToPixels(d.dpiX * (s.marginLeft * kInchPerHundredthMm)) - d.offsetX;
  const int64_t right = ToPixels(d.dpiX * (s.marginRight * kInchPerHundredthMm)) - d.offsetX;
  const int64_t top = ToPixels(d.dpiY * (s.marginTop * kInchPerHundredthMm)) - d.offsetY;
  const int64_t bottom = ToPixels(d.dpiY * (s.marginBottom * kInchPerHundredthMm)) - d.offsetY;
  const int64_t header = ToPixels(d.dpiY * s.header * kInchPerMm);
  const int64_t footer = ToPixels(d.dpiY * s.footer * kInchPerMm);
  if (layout.columns <= 0 || layout.rows <= 0) layout = kLayouts[0];
  PageGeometry g;
  g.layout = layout;
  g.area.x = left;
  g.area.y = top + header;
  g.area.width = d.physicalWidth - 2 * d.offsetX - left - right;
  g.area.height = d.physicalHeight - 2 * d.offsetY - top - bottom - header - footer;
  if (g.area.Empty()) return g;
  g.frameWidth = g.area.width / layout.columns;
  g.frameHeight = g.area.height / layout.rows;
  return g;
}

PixelRect FitInFrame(const PixelRect& frame, int64_t imageWidth, int64_t imageHeight) {
  if (frame.Empty() || imageWidth <= 0 || imageHeight <= 0) return {};
  const int64_t heightFactor = frame.height * 256 / imageHeight;
  const int64_t widthFactor = frame.width * 256 / imageWidth;
  if (heightFactor == widthFactor) return frame;
  if (heightFactor < widthFactor) {
    const int64_t w = imageWidth * frame.height / imageHeight;
    return {frame.x + (frame.width - w) / 2, frame.y, w, frame.height};
  }
  const int64_t h = imageHeight * frame.width / imageWidth;
  return {frame.x, frame.y + (frame.height - h) / 2, frame.width, h};
}

}  // namespace velmo
