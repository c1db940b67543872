#include "measure/roi_stats.h"

#include <algorithm>
#include <cmath>

#include "base/numbers.h"
#include "base/text.h"
#include "dicom/dicom_image.h"

namespace velmo {

int16_t OutputValue(int32_t stored, const PixelSource& s) {
  int32_t v = stored;
  if (s.pixelRepresentation == 1) {
    if (s.bitsAllocated > 8) {
      const int shift = std::clamp(16 - std::clamp(s.bitsStored, 1, 16), 0, 15);
      v = static_cast<int16_t>(static_cast<uint16_t>(stored << shift)) >> shift;
    } else {
      const int shift = std::clamp(8 - std::clamp(s.bitsStored, 1, 8), 0, 7);
      v = static_cast<int8_t>(static_cast<uint8_t>(stored << shift)) >> shift;
    }
  }
  const int32_t out = TruncToInt32(static_cast<double>(v) * static_cast<double>(s.rescaleSlope) +
                                   static_cast<double>(s.rescaleIntercept));
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(out) & 0xFFFFu));
}

int16_t PixelSource::Value(int32_t x, int32_t y) const {
  const size_t index = static_cast<size_t>(y) * static_cast<size_t>(columns) + static_cast<size_t>(x);
  int32_t stored;
  if (bitsAllocated > 8) {
    const uint8_t* p = data + index * 2;
    stored = bigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
  } else {
    stored = data[index * static_cast<size_t>(samplesPerPixel)];
  }
  return OutputValue(stored, *this);
}

PixelSource MakePixelSource(const DicomImage& im, int32_t frame) {
  PixelSource s;
  s.rows = im.rows;
  s.columns = im.columns;
  s.bitsAllocated = im.bitsAllocated;
  s.bitsStored = im.bitsStored;
  s.pixelRepresentation = im.pixelRepresentation;
  s.samplesPerPixel = im.bitsAllocated > 8 ? 1 : im.SamplesInPixelData();
  s.bigEndian = im.bitsAllocated > 8 && im.syntaxType == kExplicitBig && im.pixelDataLength != 0xFFFFFFFFu;
  s.rescaleSlope = im.rescaleSlope;
  s.rescaleIntercept = im.rescaleIntercept;
  const uint64_t frameBytes = im.FrameBytes();
  // Colour frames of 16-bit samples are not read (their layout is not one word per
  // pixel); every read of such an image finds nothing.
  const bool readable = !(im.bitsAllocated > 8 && im.SamplesInPixelData() != 2);
  const int32_t f = std::clamp(frame, 1, im.Frames());
  if (readable && frameBytes > 0 && im.pixelData.size() / frameBytes >= static_cast<uint64_t>(f)) {
    s.data = im.pixelData.data() + (static_cast<uint64_t>(f) - 1) * frameBytes;
    s.size = static_cast<size_t>(frameBytes);
  } else {
    s.rows = s.columns = 0;  // nothing inside
  }
  return s;
}

void MemberSpans(RoiShape shape, int32_t minX, int32_t minY, int32_t maxX, int32_t maxY, int32_t columns,
                 int32_t rows, std::vector<RowSpan>& spans) {
  spans.clear();
  if (columns <= 0 || rows <= 0) return;
  if (shape == RoiShape::kRectangle) {
    const int64_t x0 = std::max<int64_t>(int64_t{minX} + 2, 0), x1 = std::min<int64_t>(int64_t{maxX} - 3, columns - 1);
    const int64_t y0 = std::max<int64_t>(int64_t{minY} + 2, 0), y1 = std::min<int64_t>(int64_t{maxY} - 3, rows - 1);
    if (x0 > x1) return;
    for (int64_t y = y0; y <= y1; ++y)
      spans.push_back({static_cast<int32_t>(y), static_cast<int32_t>(x0), static_cast<int32_t>(x1)});
    return;
  }
  const double cx = (double(minX) + double(maxX)) / 2, cy = (double(minY) + double(maxY)) / 2;
  const double a = (double(maxX) - double(minX)) / 2 - 1.5, b = (double(maxY) - double(minY)) / 2 - 1.5;
  if (a <= 0 || b <= 0) return;
  const int64_t y0 = std::max<int64_t>(minY, 0), y1 = std::min<int64_t>(int64_t{maxY} - 1, rows - 1);
  for (int64_t y = y0; y <= y1; ++y) {
    const double t = (double(y) + 0.5 - cy) / b;
    const double r = 1 - t * t;
    if (r <= 0) continue;
    const double half = a * std::sqrt(r);
    // Centres strictly inside: cx - half < x + 0.5 < cx + half.
    int64_t x0 = static_cast<int64_t>(std::floor(cx - half - 0.5)) + 1;
    int64_t x1 = static_cast<int64_t>(std::ceil(cx + half - 0.5)) - 1;
    x0 = std::max<int64_t>(x0, 0);
    x1 = std::min<int64_t>(x1, columns - 1);
    if (x0 <= x1) spans.push_back({static_cast<int32_t>(y), static_cast<int32_t>(x0), static_cast<int32_t>(x1)});
  }
}

namespace {

// Sum, sum of squares, extremes over one run, reading samples with `read`.
struct Fold {
  int64_t count = 0, sum = 0, sumSquares = 0;
  int32_t maximum = 0, minimum = 0;
  void Add(int32_t v) {
    if (count == 0) maximum = minimum = v;
    maximum = std::max(maximum, v);
    minimum = std::min(minimum, v);
    ++count;
    sum += v;
    sumSquares += int64_t{v} * v;
  }
};

}  // namespace

RoiStatistics ComputeRoiStatistics(RoiShape shape, int32_t minX, int32_t minY, int32_t maxX, int32_t maxY,
                                   const PixelSource& src, const float spacing[2]) {
  thread_local std::vector<RowSpan> spans;
  MemberSpans(shape, minX, minY, maxX, maxY, src.data ? src.columns : 0, src.data ? src.rows : 0, spans);
  Fold f;
  const bool plain16 = src.bitsAllocated > 8 && src.pixelRepresentation != 1 && !src.bigEndian &&
                       src.rescaleSlope == 1.0f && src.rescaleIntercept == 0;
  for (const RowSpan& s : spans) {
    if (plain16) {
      // Unsigned little-endian words without rescale: the output value is the word
      // seen as a signed 16-bit number. One tight loop per run.
      const uint8_t* p = src.data + (static_cast<size_t>(s.y) * static_cast<size_t>(src.columns) + size_t(s.x0)) * 2;
      const int32_t n = s.x1 - s.x0 + 1;
      int32_t lo = INT32_MAX, hi = INT32_MIN;
      int64_t sum = 0, squares = 0;
      for (int32_t i = 0; i < n; ++i) {
        const int32_t v = static_cast<int16_t>(static_cast<uint16_t>(p[2 * i] | p[2 * i + 1] << 8));
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        sum += v;
        squares += v * v;  // |v| <= 32768: fits 32 bits before widening
      }
      if (f.count == 0) f.maximum = hi, f.minimum = lo;
      f.maximum = std::max(f.maximum, hi);
      f.minimum = std::min(f.minimum, lo);
      f.count += n;
      f.sum += sum;
      f.sumSquares += squares;
    } else {
      for (int32_t x = s.x0; x <= s.x1; ++x) f.Add(src.Value(x, s.y));
    }
  }
  RoiStatistics r;
  r.count = f.count;
  if (f.count > 0) {
    r.maximum = f.maximum;
    r.minimum = f.minimum;
    r.mean = static_cast<double>(f.sum) / static_cast<double>(f.count);
    // n * Σv² - (Σv)² is exact in 128 bits; the variance is that over n².
    const __int128 n = f.count;
    const __int128 num = n * f.sumSquares - __int128{f.sum} * f.sum;
    r.deviation = std::sqrt(static_cast<double>(num) / (static_cast<double>(f.count) * static_cast<double>(f.count)));
  }
  r.hasSpacing = spacing[0] != 0 && spacing[1] != 0 && std::isfinite(spacing[0]) && std::isfinite(spacing[1]);
  if (r.hasSpacing) r.areaMm2 = static_cast<double>(r.count) * spacing[1] * spacing[0];
  return r;
}

RoiTexts MakeRoiTexts(const RoiStatistics& s) {
  RoiTexts t;
  t.mean = Format(SJ("平均 %.2f"), s.mean);
  t.maximum = Format(SJ("最大 %d"), s.maximum);
  t.minimum = Format(SJ("最小 %d"), s.minimum);
  t.deviation = Format(SJ("標準偏差 %.2f"), s.deviation);
  if (s.hasSpacing)
    t.area = Format(SJ("面積 %.2f mm2"), s.areaMm2);
  else
    t.area = Format(SJ("面積 %d pixel"), static_cast<long long>(s.count));
  return t;
}

}  // namespace velmo
