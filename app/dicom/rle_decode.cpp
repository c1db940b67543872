#include "dicom/rle_decode.h"

#include <algorithm>
#include <cstring>

namespace velmo {

namespace {

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The PackBits loop for one stride. kStride 0 means "use the runtime stride"; the
// common strides (1 for 8-bit grey, 2 for 16-bit grey, 3 for RGB) get their own
// instantiation so the inner loops run with a constant step.
template <size_t kStride>
size_t PackBitsLoop(const uint8_t* p, const uint8_t* end, uint8_t* out, size_t remaining, size_t runtimeStride) {
  const size_t stride = kStride ? kStride : runtimeStride;
  const size_t total = remaining;
  while (p < end && remaining > 0) {
    const int c = static_cast<int8_t>(*p++);
    if (c >= 0) {
      size_t count = static_cast<size_t>(c) + 1;
      count = std::min({count, static_cast<size_t>(end - p), remaining});
      if (stride == 1) {
        std::memcpy(out, p, count);
        out += count;
      } else {
        for (size_t i = 0; i < count; ++i) out[i * stride] = p[i];
        // Step only as far as the last write when the destination is used up, so the
        // pointer never leaves the frame.
        out += (count < remaining ? count : count - 1) * stride;
      }
      p += count;
      remaining -= count;
    } else if (c != -128) {
      if (p >= end) break;
      const uint8_t value = *p++;
      const size_t count = std::min(static_cast<size_t>(1 - c), remaining);
      if (stride == 1) {
        std::memset(out, value, count);
        out += count;
      } else {
        for (size_t i = 0; i < count; ++i) out[i * stride] = value;
        out += (count < remaining ? count : count - 1) * stride;
      }
      remaining -= count;
    }
  }
  return total - remaining;
}

}  // namespace

size_t DecodePackBits(const uint8_t* src, size_t srcLength, uint8_t* dst, size_t dstLength, size_t first,
                      size_t stride) {
  if (src == nullptr || dst == nullptr || stride == 0 || first >= dstLength) return 0;
  const size_t positions = (dstLength - first - 1) / stride + 1;
  const uint8_t* end = src + srcLength;
  uint8_t* out = dst + first;
  switch (stride) {
    case 1: return PackBitsLoop<1>(src, end, out, positions, 1);
    case 2: return PackBitsLoop<2>(src, end, out, positions, 2);
    case 3: return PackBitsLoop<3>(src, end, out, positions, 3);
    default: return PackBitsLoop<0>(src, end, out, positions, stride);
  }
}

RleFrameResult DecodeRleFrame(const uint8_t* fragment, size_t fragmentLength, uint8_t* frame, size_t frameBytes,
                              int bitsAllocated) {
  RleFrameResult result;
  if (fragment == nullptr || fragmentLength < 4) return result;
  const uint32_t count = Le32(fragment);
  result.segmentCount = count;
  if (count == 0 || count > kMaxRleSegments) return result;
  result.headerValid = true;

  // Offsets from the start of the header; reading stops at `count` offsets, at the
  // first zero offset, or where the fragment ends.
  uint32_t offsets[kMaxRleSegments] = {};
  uint32_t read = 0;
  while (read < count && 4 + 4 * (static_cast<size_t>(read) + 1) <= fragmentLength) {
    const uint32_t offset = Le32(fragment + 4 + 4 * read);
    if (offset == 0) break;
    offsets[read++] = offset;
  }
  result.segmentsRead = read;

  for (uint32_t k = 0; k < read; ++k) {
    const size_t begin = offsets[k];
    size_t end = k + 1 < read ? offsets[k + 1] : fragmentLength;
    if (end > fragmentLength) end = fragmentLength;
    if (begin >= end) continue;
    size_t first = k;
    if (bitsAllocated > 8 && k < 2) first = 1 - k;  // high bytes first in the stream, little endian out
    result.bytesWritten += DecodePackBits(fragment + begin, end - begin, frame, frameBytes, first, count);
  }
  return result;
}

namespace {

struct YbrTables {
  double rCr[256], gCb[256], gCr[256], bCb[256];
  YbrTables() {
    for (int i = 0; i < 256; ++i) {
      const double d = i - 128;
      rCr[i] = 1.402 * d;
      gCb[i] = 0.34414 * d;
      gCr[i] = 0.71414 * d;
      bCb[i] = 1.772 * d;
    }
  }
};

inline uint8_t ClampTrunc(double v) {
  // Truncation toward zero, then 0..255. Values lie within about -230..490.
  const int i = static_cast<int>(v);
  return static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
}

}  // namespace

void ConvertYbrFullToRgb(uint8_t* pixels, size_t pixelCount) {
  static const YbrTables t;
  for (size_t i = 0; i < pixelCount; ++i) {
    uint8_t* p = pixels + 3 * i;
    const double y = p[0];
    const uint8_t cb = p[1], cr = p[2];
    p[0] = ClampTrunc(y + t.rCr[cr]);
    p[1] = ClampTrunc(y - t.gCb[cb] - t.gCr[cr]);
    p[2] = ClampTrunc(y + t.bCb[cb]);
  }
}

}  // namespace velmo
