#pragma once
// ConvertToDisplay: turns the samples of the image a pane shows into the pane's
// display bitmap.
//
// The display bitmap (DicomImage::displayBitmap) is a complete BMP file image in one
// buffer, little endian. The vector may be larger than the bitmap (it is reused);
// the bitmap's bytes are the first bfSize bytes.
//
//   offset  size  field            value
//   0       2     bfType           "BM"
//   2       4     bfSize           W*H*2 + 1078 (8-bit) or W*H*4 + 54 (32-bit)
//   6       4     bfReserved1/2    0
//   10      4     bfOffBits        1078 (8-bit) or 54 (32-bit)
//   14      4     biSize           40
//   18      4     biWidth          W, a multiple of 4
//   22      4     biHeight         H, positive: rows are stored bottom-up
//   26      2     biPlanes         1
//   28      2     biBitCount       8 or 32
//   30      4     biCompression    0
//   34      4     biSizeImage      0
//   38      8     biX/YPelsPerMeter 3780
//   46      8     biClrUsed/Important 0
//   54      1024  colour table     8-bit only: 256 entries blue, green, red, 0
//   bfOffBits     pixels           8-bit: W*H index bytes (then W*H unused bytes);
//                                  32-bit: W*H pixels of blue, green, red, 0
//
// Rows have no padding (W is a multiple of 4). Row 0 in memory is the bottom row of
// the picture. For Qt: an 8-bit bitmap is QImage::Format_Indexed8 with the colour
// table as its colour table (0xFFRRGGBB) and bytesPerLine W; a 32-bit bitmap is
// QImage::Format_RGB32 with bytesPerLine 4*W; either is mirrored vertically.
// The pane shows the canvas-sized window at (panX, panY) of the picture (top-left
// origin); PaneDisplay::last holds the sizes of the last conversion.
#include <cstdint>
#include <vector>

#include "render/display_tables.h"
#include "render/geometry.h"
#include "render/pane_display.h"

namespace velmo {

struct DicomImage;
class Log;
class Notifier;

// What the main window owns for both panes: the display tables, the two work buffers
// of the enlarged display (only ever grown), the monitor pitch, and where to report.
struct RenderContext {
  DisplayTables tables;
  std::vector<uint8_t> rotationBuffer;
  std::vector<uint8_t> interpolationBuffer;
  DisplayPitch pitch;
  const Log* log = nullptr;  // nullptr logs nothing
  Notifier* notifier = nullptr;

  // Start-up allocation of the work buffers (4,194,304 bytes each). False after
  // reporting a failure.
  bool AllocateWorkBuffers();
};

enum class ConvertResult {
  kDrawn,   // the display bitmap is up to date
  kBlank,   // nothing to show at this size or no pixel data: paint the pane black
  kFailed,  // allocation failure, reported; paint the pane black
};

// One conversion of the pane's image, run by every paint of the pane. Recomputes the
// display scale and geometry, raises needsConversion when the geometry changed or the
// bitmap was last converted by another pane, writes the headers and colour table on
// every call (so "negative" costs no pixel work), and fills the pixels and runs the
// filters only when needsConversion is set. The frame is pane.frame clamped to the
// image's frames.
ConvertResult ConvertToDisplay(RenderContext& ctx, PaneDisplay& pane, DicomImage& im);

// Little-endian header readers for callers of the bitmap.
inline uint32_t BitmapU32(const std::vector<uint8_t>& b, size_t at) {
  return at + 4 <= b.size() ? uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
                                  uint32_t{b[at + 3]} << 24
                            : 0;
}
inline uint16_t BitmapU16(const std::vector<uint8_t>& b, size_t at) {
  return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0;
}

}  // namespace velmo
