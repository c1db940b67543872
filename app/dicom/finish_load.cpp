// FinishImageLoad: window limits and the window in use, then the pane reset.
#include <algorithm>
#include <cmath>
#include <string_view>

#include "dicom/view_load.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

int32_t Sat(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The text of a level or width box as the window in use: at most 1,024 characters,
// read as an integer.
int32_t BoxValue(const std::string& text) { return ParseInt(std::string_view(text).substr(0, 1024)); }

// Fills levelMax/levelMin/widthMax/widthMin from the bit depth and rescale values.
// bitsStored is clamped to 1..bitsAllocated so a damaged header cannot ask for 2^65535;
// everything is computed in double and saturated to 32 bits; a range that comes out
// inverted (negative slope, say) collapses to max = min.
void ComputeWindowLimits(DicomImage& im) {
  const int allocated = std::max<int>(im.bitsAllocated, 1);
  const int stored = std::clamp<int>(im.bitsStored, 1, allocated);
  const double slope = im.rescaleSlope;
  const double intercept = im.rescaleIntercept;
  const int exponent = stored - (im.pixelRepresentation != 0 ? 1 : 0);
  const double range = std::ldexp(1.0, exponent);
  const int64_t top = TruncToInt32(range * slope + intercept);
  if (im.pixelRepresentation != 0) {
    im.levelMax = Sat(top - 1);
    im.levelMin = Sat(-top);
  } else {
    im.levelMax = Sat(top);
    im.levelMin = im.rescaleIntercept;
  }
  if (im.isColour) im.levelMax = 1024;
  if (im.levelMax < im.levelMin) im.levelMax = im.levelMin;

  im.widthMax = im.isColour ? 1024 : TruncToInt32(std::ldexp(1.0, stored) * slope);
  im.widthMin = 2;
  if (im.widthMax < im.widthMin) im.widthMax = im.widthMin;
}

}  // namespace

bool FinishImageLoad(LoadContext& ctx, int viewPos) {
  DicomImage* slot = ctx.Slot(viewPos);
  if (slot == nullptr) return false;
  DicomImage& im = *slot;  // nothing below can fail, so the slot is the current record

  ComputeWindowLimits(im);
  const PaneLoadState& pane = ctx.panes[viewPos];
  if (pane.levelWidthHold) {
    // The window the user set carries over to the new image.
    im.level = BoxValue(pane.levelText);
    im.width = BoxValue(pane.widthText);
  } else {
    im.level = im.fileWindowCenter[0];
    im.width = im.fileWindowWidth[0];
  }

  ctx.panes[viewPos].multiFrame = im.frameCount > 1;
  if (ctx.paneReset) ctx.paneReset(viewPos);
  ctx.Write(SJ("DICOM形式ファイル（画像データ）の読み込みと解析を終了"), kLogNormal, 2);
  return true;
}

}  // namespace velmo
