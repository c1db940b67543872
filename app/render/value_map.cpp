#include "render/value_map.h"

#include <algorithm>

#include "dicom/dicom_image.h"
#include "shell/numbers.h"

namespace velmo {

SampleFormat SampleFormat::Of(const DicomImage& im) {
  SampleFormat f;
  f.twoBytes = im.bitsAllocated > 8;
  // Native data keeps the file's byte order; decoded (encapsulated) data is little endian.
  f.bigEndian = f.twoBytes && im.syntaxType == kExplicitBig && im.pixelDataLength != 0xFFFFFFFFu;
  f.isSigned = im.pixelRepresentation == 1;
  // Sign extension from bits stored within the 16-bit word. For two-byte samples this
  // is bits allocated - bits stored; one-byte samples extend from bit 7 at most.
  const int maxBits = f.twoBytes ? 16 : 8;
  const int stored = std::clamp<int>(im.bitsStored, 1, maxBits);
  f.signShift = 16 - stored;
  if (f.twoBytes && im.bitsAllocated <= 16) f.signShift = std::clamp<int>(im.bitsAllocated - im.bitsStored, 0, 15);
  f.unsignedValues = im.bitsStored == 16 && im.pixelRepresentation == 0 && im.rescaleIntercept >= 0;
  return f;
}

uint16_t SampleFormat::Background(const DicomImage& im, const SampleFormat& format) {
  if (!im.isMonochrome1) return 0xF830;
  const int bits = std::clamp<int>(im.bitsStored, 0, 16);
  const int32_t wanted = int32_t{1} << bits;
  const int32_t highest = format.unsignedValues ? 0xFFFF : 0x7FFF;
  return static_cast<uint16_t>(std::min(wanted, highest));
}

WindowMapping WindowMapping::Of(const DicomImage& im) {
  WindowMapping m;
  m.width = im.width < 2 ? 1 : im.width;
  m.slope1024 = TruncToInt32(static_cast<double>(im.rescaleSlope) * 1024.0);
  m.offset = ((int64_t{m.width} & ~int64_t{1}) + 2 * (int64_t{im.rescaleIntercept} - im.level)) * 512;
  m.inv = (int64_t{1} << 20) / m.width;
  return m;
}

VoiTable VoiTable::Of(const DicomImage& im) {
  VoiTable t;
  if (im.hasVoiLut && im.voiLutBits == 8 && !im.voiLutData.empty()) {
    t.data = im.voiLutData.data();
    t.entries = static_cast<uint32_t>(std::min<size_t>(im.voiLutData.size(), UINT32_MAX));
  }
  return t;
}

uint32_t PaletteBlend(int64_t x, const std::array<uint8_t, 768>& palette) {
  int row = 0;
  int64_t fraction = 0;
  if (x >= 0) {
    // The top of the window is x = 2^20 (row 256, shown as row 255).
    if (x > (int64_t{1} << 20)) x = int64_t{1} << 20;
    row = static_cast<int>(std::min<int64_t>(x >> 12, 255));
    fraction = x - int64_t{row} * 4096;
  }
  const int next = std::min(row, 254) + 1;
  uint32_t c[3];
  for (int k = 0; k < 3; ++k) {
    const int a = palette[static_cast<size_t>(row) * 3 + k];
    const int b = palette[static_cast<size_t>(next) * 3 + k];
    c[k] = static_cast<uint32_t>(a + (((b - a) * fraction) >> 12));
  }
  if (x < 0) c[0] = palette[0], c[1] = palette[1], c[2] = palette[2];
  return c[2] | (c[1] << 8) | (c[0] << 16);
}

}  // namespace velmo
