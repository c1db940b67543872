#pragma once
// How one stored sample becomes a display value: reading the sample (byte order,
// sign extension), the fixed-point window mapping of grey images, the VOI table, the
// palette-colour blend and the integer brightness/saturation of colour images.
// ConvertToDisplay builds per-conversion tables from these functions.
#include <array>
#include <cstddef>
#include <cstdint>

namespace velmo {

struct DicomImage;

// How the stored samples of a grey (or palette-colour) image are read.
struct SampleFormat {
  bool twoBytes = false;        // bits allocated > 8
  bool bigEndian = false;       // native data of an explicit big-endian file
  bool isSigned = false;        // pixel representation 1
  int signShift = 0;            // sign extension from bits stored, in 16 bits
  bool unsignedValues = false;  // the window mapping reads 16-bit values as unsigned

  static SampleFormat Of(const DicomImage& im);
  // The 16-bit value word of a stored sample as read from memory (little-endian
  // load of two bytes, or the byte for one-byte samples): byte order, then sign
  // extension.
  uint16_t ValueWord(uint16_t stored) const {
    uint16_t v = stored;
    if (twoBytes && bigEndian) v = static_cast<uint16_t>((v >> 8) | (v << 8));
    if (isSigned) v = static_cast<uint16_t>(static_cast<int16_t>(static_cast<uint16_t>(v << signShift)) >> signShift);
    return v;
  }
  // The value the mapping and the interpolation work on.
  int32_t Value(uint16_t word) const {
    return unsignedValues ? static_cast<int32_t>(word) : static_cast<int32_t>(static_cast<int16_t>(word));
  }
  // The value word of the background sample of the enlarged display: -2000 (0xF830),
  // or for MONOCHROME1 1 << bits stored, kept within the values the mapping reads.
  static uint16_t Background(const DicomImage& im, const SampleFormat& format);
};

// The fixed-point window mapping of grey images for one conversion. Widths below 2
// map like width 1: values up to the level give 0, values above it 255.
struct WindowMapping {
  int64_t slope1024 = 1024;
  int64_t offset = 0;
  int64_t inv = 0;
  int32_t width = 1;  // the width in effect (at least 1)

  static WindowMapping Of(const DicomImage& im);
  // x = t * inv with t = (v * slope1024 + offset) >> 10; 12-bit fraction of the
  // display value (v * slope + intercept - L + W/2) * 256 / W.
  int64_t X(int32_t v) const { return ((v * slope1024 + offset) >> 10) * inv; }
  uint8_t Index(int32_t v) const {
    const int64_t i = X(v) >> 12;
    return static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
  }
};

// The display byte of window index `index`: the low byte of VOI table entry
// `index` (the last entry past the end) when the record has an 8-bit VOI table,
// else the index.
struct VoiTable {
  const uint16_t* data = nullptr;
  uint32_t entries = 0;
  static VoiTable Of(const DicomImage& im);
  uint8_t Apply(uint8_t index) const {
    if (entries == 0) return index;
    return static_cast<uint8_t>(data[index < entries ? index : entries - 1] & 0xFF);
  }
};

// Palette-colour display of a grey value with window fraction x (see WindowMapping):
// a 12-bit blend between two rows of the palette (red, green, blue rows). Returns
// the 32-bit pixel blue | green << 8 | red << 16.
uint32_t PaletteBlend(int64_t x, const std::array<uint8_t, 768>& palette);

// Exact n / d for 0 <= n < 2^18 and 1 <= d <= 255 by a multiply with the rounded-up
// reciprocal (the error term n * (m * d - 2^32) stays below 2^32).
inline constexpr std::array<uint64_t, 256> kSmallReciprocals = [] {
  std::array<uint64_t, 256> r{};
  for (uint64_t d = 1; d < 256; ++d) r[d] = ((uint64_t{1} << 32) + d - 1) / d;
  return r;
}();
inline int DivSmall(int n, int d) {
  return static_cast<int>((static_cast<uint64_t>(n) * kSmallReciprocals[static_cast<size_t>(d)]) >> 32);
}

// Brightness (level) and saturation (width) of a colour pixel through integer HSV;
// level 128 and width 256 are neutral. Writes clamped red, green, blue. Branch-free
// selections keep noisy colour pictures fast.
template <typename Int>
inline void AdjustColourT(int r, int g, int b, Int level, Int width, uint8_t rgb[3]) {
  const int v = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int m = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int d = v - m;
  int s = 0, hue = 0;
  {
    // d = 0 gives s = 0 and hue = 0 through a divisor of 0, whose reciprocal is 0.
    s = DivSmall(d * 1024, v);
    // V = R: (V - B, V - G, 0); V = G: (V - R, V - B, 2048); else (V - G, V - R, 4096).
    // Selections by masks rather than branches: which channel is largest is
    // unpredictable in noisy pictures.
    const int mR = -static_cast<int>(v == r);             // all ones when V = R
    const int mG = ~mR & -static_cast<int>(v == g);       // all ones when V = G (and not R)
    const int mB = ~(mR | mG);
    const int x = (mR & (v - b)) | (mG & (v - r)) | (mB & (v - g));
    const int y = (mR & (v - g)) | (mG & (v - b)) | (mB & (v - r));
    const int base = (mG & 2048) | (mB & 4096);
    hue = DivSmall(x << 10, d) - DivSmall(y << 10, d) + base;
    hue += (hue >> 31) & 6144;
  }
  const Int s2 = (width * s) >> 8;
  const Int v2 = (level * v) >> 7;
  const int k = hue >> 10;
  const Int f = hue - (k << 10);
  const Int p = ((1024 - s2) * v2) >> 10;
  const Int q = ((Int{1 << 20} - s2 * f) * v2) >> 20;
  const Int t = ((Int{1 << 20} - s2 * (1024 - f)) * v2) >> 20;
  // Sectors 0..5 as (R, G, B): (V', t, p), (q, V', p), (p, V', t), (p, q, V'), (t, p, V'), (V', p, q).
  static constexpr uint8_t kPick[6][3] = {{0, 2, 3}, {1, 0, 3}, {3, 0, 2}, {3, 1, 0}, {2, 3, 0}, {0, 3, 1}};
  const Int vals[4] = {v2, q, t, p};
  const uint8_t* pick = kPick[k < 0 ? 0 : (k > 5 ? 5 : k)];
  for (int c = 0; c < 3; ++c) {
    const Int o = vals[pick[c]];
    rgb[c] = static_cast<uint8_t>(o < 0 ? 0 : (o > 255 ? 255 : o));
  }
}

// 64-bit arithmetic is exact while |level| and |width| stay below 2^20; beyond that
// the products need 128 bits.
inline bool ColourFitsInt64(int32_t level, int32_t width) {
  return level >= -(1 << 20) && level <= (1 << 20) && width >= -(1 << 20) && width <= (1 << 20);
}
inline void AdjustColour(int r, int g, int b, int32_t level, int32_t width, uint8_t rgb[3]) {
  if (ColourFitsInt64(level, width))
    AdjustColourT<int64_t>(r, g, b, level, width, rgb);
  else
    AdjustColourT<__int128>(r, g, b, level, width, rgb);
}

// AdjustColour over `count` pixels at once. Each input pixel is blue | green << 8 |
// red << 16; each output pixel is written as the four bytes blue, green, red, 0
// (unaligned `out` is fine). The bytes are those of AdjustColour pixel by pixel.
// While |level| and |width| stay within kColourLanesLimit every intermediate fits
// 32 bits, and on processors with AVX2 eight pixels are computed together; other
// values and processors take the per-pixel form.
inline constexpr int32_t kColourLanesLimit = 8192;
void AdjustColourRow(const uint32_t* in, uint8_t* out, size_t count, int32_t level, int32_t width);
// The per-pixel form of AdjustColourRow, for comparison.
void AdjustColourRowScalar(const uint32_t* in, uint8_t* out, size_t count, int32_t level, int32_t width);

}  // namespace velmo
