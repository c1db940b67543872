#pragma once
// ROI statistics: mean, maximum, minimum, population standard deviation and area of
// the output values (stored value, sign-extended, times the rescale slope plus the
// intercept, cut to 16 bits) of the pixels inside an ellipse or rectangle.
//
// Membership follows the drawing the shape would get with a solid black brush and a
// white pen 3 pixels wide centred on its outline: a pixel counts when its centre lies
// inside the shape and more than 1.5 pixels away from the outline. The outline runs
// along the pixel edges of the bounding rectangle [minX, maxX) x [minY, maxY), so a
// rectangle keeps the pixels minX + 2 .. maxX - 3 of each row; an ellipse keeps the
// centres inside the ellipse whose half-axes are 1.5 pixels shorter.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/fixed_text.h"

namespace velmo {

struct DicomImage;

// The samples of one frame and how to read them. `data` may be null (no members,
// every read gives 0).
struct PixelSource {
  const uint8_t* data = nullptr;
  size_t size = 0;  // bytes at data
  int32_t rows = 0, columns = 0;
  int32_t bitsAllocated = 16, bitsStored = 16, pixelRepresentation = 0;
  int32_t samplesPerPixel = 1;  // bytes of 8-bit samples per pixel (3 for colour)
  bool bigEndian = false;
  float rescaleSlope = 1.0f;
  int32_t rescaleIntercept = 0;

  // The output value of pixel (x, y); the caller checks the bounds.
  int16_t Value(int32_t x, int32_t y) const;
  bool Inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < columns && y < rows; }
};
// Frame `frame` (1-based, clamped) of the image, or an empty source when its bytes
// are not all there.
PixelSource MakePixelSource(const DicomImage& im, int32_t frame);
// Stored value -> output value: sign extension, rescale, truncation, 16-bit wrap.
int16_t OutputValue(int32_t stored, const PixelSource& s);

enum class RoiShape { kEllipse, kRectangle };

// One member run per row: x from x0 to x1 inclusive.
struct RowSpan {
  int32_t y, x0, x1;
};
// The member pixels of the shape with bounding rectangle [minX, maxX) x [minY, maxY)
// in image pixels, clipped to 0 .. columns - 1, 0 .. rows - 1.
void MemberSpans(RoiShape shape, int32_t minX, int32_t minY, int32_t maxX, int32_t maxY, int32_t columns,
                 int32_t rows, std::vector<RowSpan>& spans);

struct RoiStatistics {
  int64_t count = 0;
  double mean = 0, deviation = 0;
  int32_t maximum = 0, minimum = 0;
  double areaMm2 = 0;
  bool hasSpacing = false;
};

// Statistics over the members. `spacing` is (row spacing, column spacing); the area
// is in mm² when both are non-zero, else a pixel count.
RoiStatistics ComputeRoiStatistics(RoiShape shape, int32_t minX, int32_t minY, int32_t maxX, int32_t maxY,
                                   const PixelSource& src, const float spacing[2]);

// The five label texts (Shift-JIS).
struct RoiTexts {
  FixedText<32> mean, maximum, minimum, deviation, area;
};
RoiTexts MakeRoiTexts(const RoiStatistics& s);

}  // namespace velmo
