#pragma once
// The display state of one pane (left = 1, right = 2): the flags that choose how the
// image is mapped to display values, the zoom/rotation/flip state, the canvas the
// pane draws on, and the geometry of the pane's last conversion. The main window
// keeps one per pane; the widgets change it through the functions of geometry.h and
// raise needsConversion, and ConvertToDisplay (convert.h) reads it.
#include <cstdint>
#include <functional>

#include "base/fixed_text.h"

namespace velmo {

// Where the displayed image lies in the display bitmap. All sizes in bitmap pixels.
struct DisplayGeometry {
  int32_t canvasWidth = 0, canvasHeight = 0;  // Wc (a multiple of 4), Hc
  int32_t side = 0;                           // the square the image is drawn in
  int32_t w = 0, h = 0;                       // the displayed image
  int32_t W = 0, H = 0;                       // the bitmap (W a multiple of 4)
  int32_t offX = 0, offY = 0;                 // (W - w) >> 1, (H - h) >> 1
  // False when any of Wc, Hc, side, w or h is 0: the pane is painted black and
  // nothing is converted.
  bool drawable = false;
  bool operator==(const DisplayGeometry&) const = default;
};

enum class Interpolation { kBilinear, kBicubic };

struct PaneDisplay {
  int32_t pane = 1;  // 1 left, 2 right

  // Display flags ("白黒反転", "ﾊﾟﾚｯﾄｶﾗｰ", "ﾉｲｽﾞ除去", "鮮鋭化").
  bool negative = false;
  bool paletteColour = false;
  bool noiseRemoval = false;
  bool sharpen = false;
  // Raised by every control that changes the picture; cleared by a successful
  // conversion. Starts raised so that the first paint converts.
  bool needsConversion = true;

  // Zoom ("全体", "実寸", "100%", the zoom combo and the zoom drag).
  float zoomFactor = 1.0f;    // the factor shown in the zoom combo; 1.00 is actual size
  float displayScale = 1.0f;  // displayed longer image side / canvas side
  bool fitMode = true, actualSizeMode = false, oneToOneMode = false;
  bool zoomDragMode = false;

  // Rotation ("左回転", "右回転") and flips ("左右", "上下").
  bool rotateLeft = false, rotateRight = false;
  int32_t rotationAngle = 0;  // degrees 0..359, 0 when neither rotation is on
  int16_t flipHorizontal = 0, flipVertical = 0;

  // Top-left corner of the visible canvas inside a bitmap larger than the canvas.
  int32_t panX = 0, panY = 0;
  bool hasPan = false;  // a pan was set up for an enlarged bitmap

  // The canvas the pane draws on (set by the layout). The width is used rounded down
  // to a multiple of 4.
  int32_t canvasWidth = 0, canvasHeight = 0;

  Interpolation interpolation = Interpolation::kBilinear;  // "画像処理" "拡大方法"
  bool nearestOnly = false;    // the right pane while an MPR cut line is dragged
  bool showsReformat = false;  // the right pane shows an MPR or MIP result
  int32_t frame = 1;           // current frame, 1-based (clamped at conversion)

  // The size of the last display bitmap that could not be had (shown once), 0 after a
  // conversion that got its bitmap.
  uint64_t refusedBitmapBytes = 0;

  // Geometry of the last successful conversion of this pane.
  DisplayGeometry last;
  // Orientation letters, horizontal and vertical (at most 7 bytes each).
  FixedText<7> labelHorizontal, labelVertical;

  // Called by ConvertToDisplay with the previous and the new geometry before pixels
  // are filled, so measurement points can follow the display.
  std::function<void(const DisplayGeometry& before, const DisplayGeometry& after)> remapMeasurements;
};

}  // namespace velmo
