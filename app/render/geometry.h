#pragma once
// Zoom, pan, rotation and flip rules of a pane, as pure functions over PaneDisplay
// that the widgets call, plus the size computation ConvertToDisplay uses.
#include <cstdint>
#include <string>
#include <string_view>

#include "render/pane_display.h"

namespace velmo {

struct DicomImage;

// Screen pixel size in millimetres ("詳細" "DotPitchX", "DotPitchY").
struct DisplayPitch {
  double x = 0.2646, y = 0.2646;
};

// The largest display bitmap a conversion makes (bytes, headers included). A zoom
// that would need more is refused; the size also always fits the 32-bit bfSize.
inline constexpr uint64_t kMaxDisplayBitmapBytes = uint64_t{1} << 30;

// Bytes of a display bitmap of W x H: W*H*2 + 1078 (8-bit) or W*H*4 + 54 (32-bit).
uint64_t DisplayBitmapBytes(int64_t W, int64_t H, bool bits32);
// True when the bitmap of the image shown by this pane is 32-bit.
bool UsesBits32(const PaneDisplay& pane, const DicomImage& im);

// Image pixel size over screen pixel size for the longer image side (sp / dp); 1 when
// either pixel-spacing value or the pitch is not positive (or not finite).
double SpacingToPitch(const DicomImage& im, const DisplayPitch& pitch);
// Sets displayScale from the pane's mode, zoom factor and canvas, and the zoom factor
// shown from the result. A canvas side or image of 0 gives scale 1.
void ComputeDisplayScale(PaneDisplay& pane, const DicomImage& im, const DisplayPitch& pitch);
// Keeps panX/panY valid after displayScale changed from previousScale.
void UpdatePan(PaneDisplay& pane, float previousScale);
// Sizes of the displayed image and of the bitmap for a scale, canvas and image.
DisplayGeometry ComputeGeometry(float displayScale, int32_t canvasWidth, int32_t canvasHeight, int32_t rows,
                                int32_t columns);
// Clamps the pan to the bitmap of `g` (0 .. W - Wc, 0 .. H - Hc).
void ClampPan(PaneDisplay& pane, const DisplayGeometry& g);

// The zoom factor text of the zoom combo: "%.2f".
std::string ZoomText(float zoomFactor);

enum class ScaleMode { kFit, kActualSize, kOneToOne };
// "全体", "実寸", "100%": sets that mode, clears the other two, recomputes scale and pan,
// raises needsConversion.
void SetScaleMode(PaneDisplay& pane, ScaleMode mode, const DicomImage& im, const DisplayPitch& pitch);
// A zoom combo item was selected ("0.25" .. "2.00"). Value 0 counts as 1. False (and
// nothing changed) when the bitmap would exceed kMaxDisplayBitmapBytes.
bool SelectZoomItem(PaneDisplay& pane, std::string_view itemText, const DicomImage& im, const DisplayPitch& pitch);
// The zoom combo text was edited: at most 9 characters are read; 0 and values below
// 0.05 are ignored (false), as is a zoom whose bitmap would be too large.
bool EditZoomText(PaneDisplay& pane, std::string_view text, const DicomImage& im, const DisplayPitch& pitch);
// When a typed or dragged zoom's bitmap would exceed kMaxDisplayBitmapBytes at the
// current canvas (a larger canvas after a layout change enlarges the bitmap of a
// zoomed pane), lowers the zoom to the largest hundredth that fits and returns true.
// The fixed modes (fit, actual size, 100%) are left as they are.
bool LimitZoomToFit(PaneDisplay& pane, const DicomImage& im, const DisplayPitch& pitch);
// One mouse move of a zoom drag by (dx, dy) screen pixels: right and up enlarge by
// 0.005 per pixel; never below 0.05; a growth that would make the bitmap too large
// is not taken. Returns true when the pane changed.
bool DragZoom(PaneDisplay& pane, int32_t dx, int32_t dy, const DicomImage& im, const DisplayPitch& pitch);

// The rotation combo text: at most 3 characters, atoi, normalised into 0..359.
int32_t ParseRotationAngle(std::string_view text);
// "左回転" / "右回転" pressed (on) or released (off) with the combo's angle.
void SetRotateLeft(PaneDisplay& pane, bool on, int32_t angle);
void SetRotateRight(PaneDisplay& pane, bool on, int32_t angle);
// The rotation combo changed (selection or edit). An edited text whose value is 0
// and that matches no item is ignored (false). Otherwise applies the angle to the
// rotation button that is on, if any.
bool RotationComboChanged(PaneDisplay& pane, std::string_view text, bool edited);
// "左右" / "上下".
void SetFlipHorizontal(PaneDisplay& pane, bool on);
void SetFlipVertical(PaneDisplay& pane, bool on);

// Orientation letters from the image orientation cosines, with the row direction
// reversed under a horizontal flip and the column direction under a vertical flip.
void ComputeOrientationLabels(const DicomImage& im, bool flipHorizontal, bool flipVertical,
                              FixedText<7>& horizontal, FixedText<7>& vertical);

// Fixed-point rotation constants (10-bit) of an angle in degrees.
struct RotationConstants {
  int32_t c = 1024, s = 0;
};
RotationConstants MakeRotationConstants(int32_t degrees);

}  // namespace velmo
