#pragma once
// Print layout geometry: the fifteen frame layouts of the print preview, the paper and
// orientation codes of the "印刷" settings, where the printable area, the frames and
// the pictures go on a page, and the aspect-preserving fit of a picture in a frame.
// All sizes are device pixels of the printer (or of the preview's scaled page).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmo {

struct PrintSettings;

inline constexpr int kPrintFrames = 12;

// A layout, read as columns x rows ("2×3": two columns, three rows).
struct FrameLayout {
  int columns = 1, rows = 1;
  int Count() const { return columns * rows; }
};

// The fifteen layout names of the "コマ数" box, in its order (Shift-JIS), and the
// layouts they stand for.
const std::array<std::string, 15>& LayoutNames();
FrameLayout LayoutAt(int index);
// The index of a layout name (Shift-JIS "C×R", or "CxR" as typed on a command line);
// -1 when it is none of the fifteen.
int LayoutIndex(std::string_view name);
// The layout of a "コマ数" value; an unknown value means "1×1".
FrameLayout LayoutFromSetting(std::string_view name);

// Paper names of "用紙" and the printer paper-size codes they stand for: A3 8, A4 9,
// A5 11, B4 12, B5 13, "はがき" 43; anything else counts as A4 (9).
int PaperCode(std::string_view paperSjis);
// The "用紙" name of a paper-size code, "" for codes without a name.
std::string PaperName(int code);
// Orientation code: "横" is landscape (2), everything else portrait (1).
int OrientationCode(std::string_view orientationSjis);

// What the printing code reads from the device.
struct PrintDevice {
  double dpiX = 0, dpiY = 0;                 // pixels per inch
  int64_t physicalWidth = 0, physicalHeight = 0;  // the whole sheet, device pixels
  int64_t offsetX = 0, offsetY = 0;          // physical offsets of the printable area
};

struct PixelRect {
  int64_t x = 0, y = 0, width = 0, height = 0;
  bool Empty() const { return width <= 0 || height <= 0; }
  bool operator==(const PixelRect&) const = default;
};

// The page of one print: the printable area (relative to the printable origin of the
// device, i.e. the physical offsets already taken off) and the frame size.
struct PageGeometry {
  PixelRect area;
  int64_t frameWidth = 0, frameHeight = 0;
  FrameLayout layout;
  // Nothing can be printed: an empty area or frames of zero size.
  bool Empty() const { return area.Empty() || frameWidth <= 0 || frameHeight <= 0; }
  // Frame k (row k / columns, column k % columns); empty for k outside the layout.
  PixelRect Frame(int k) const;
};

// Margins in hundredths of a millimetre become device pixels (inch factor
// 0.0003937007874015748) minus the physical offset; header and footer bands in
// millimetres become dpiY x mm x 0.03937007874015748. The area starts at the left
// margin and the top margin plus the header band; its width is the physical width
// less twice the offset and both margins, its height likewise less the bands.
// Frames are the area divided by integer division.
PageGeometry ComputePageGeometry(const PrintDevice& device, const PrintSettings& settings, FrameLayout layout);

// Where a picture of imageWidth x imageHeight goes in `frame`: compares the scale
// factors frameHeight*256/imageHeight and frameWidth*256/imageWidth (integer
// division). Equal: the picture fills the frame. The height factor smaller: as high
// as the frame and centred horizontally. Otherwise as wide as the frame and centred
// vertically. Empty for an empty picture or frame.
PixelRect FitInFrame(const PixelRect& frame, int64_t imageWidth, int64_t imageHeight);

}  // namespace velmo
