#include "render/value_map.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VELMO_COLOUR_AVX2 1
#endif

#include "dicom/dicom_image.h"
#include "base/numbers.h"

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

namespace {

template <typename Int>
void AdjustPixels(const uint32_t* in, uint8_t* out, size_t count, int32_t level, int32_t width) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t px = in[i];
    uint8_t rgb[3];
    AdjustColourT<Int>(static_cast<int>((px >> 16) & 0xFF), static_cast<int>((px >> 8) & 0xFF),
                       static_cast<int>(px & 0xFF), Int(level), Int(width), rgb);
    const uint32_t bgrx = uint32_t{rgb[2]} | uint32_t{rgb[1]} << 8 | uint32_t{rgb[0]} << 16;
    std::memcpy(out + i * 4, &bgrx, 4);
  }
}

#ifdef VELMO_COLOUR_AVX2
// Truncated n / d for 0 <= n < 2^18 and 1 <= d <= 255 in single precision. n and d
// are exact floats, and the rounding error of the quotient (below 2^-6 / d) is
// smaller than the distance 1/d from a non-integer quotient to the next integer, so
// truncation gives the integer quotient.
__attribute__((target("avx2"))) inline __m256i DivideSmall(__m256i n, __m256i d) {
  return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(n), _mm256_cvtepi32_ps(d)));
}

// floor(a * b / 2^20) for |a| < 2^26 and |b| < 2^15 in 32-bit lanes: a = ah * 2^10 + al
// with 0 <= al < 2^10, then floor((ah * b + floor(al * b / 2^10)) / 2^10), which is
// the same value.
__attribute__((target("avx2"))) inline __m256i MulShift20(__m256i a, __m256i b) {
  const __m256i ah = _mm256_srai_epi32(a, 10);
  const __m256i al = _mm256_and_si256(a, _mm256_set1_epi32(1023));
  const __m256i low = _mm256_srai_epi32(_mm256_mullo_epi32(al, b), 10);
  return _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(ah, b), low), 10);
}

__attribute__((target("avx2"))) inline __m256i ClampByte(__m256i o) {
  return _mm256_min_epi32(_mm256_max_epi32(o, _mm256_setzero_si256()), _mm256_set1_epi32(0xFF));
}

// AdjustColourT for eight pixels per step, all in 32-bit lanes. With |level| and
// |width| at most 8192: |S'| <= 32768, |V'| <= 16320, |(1024 - S') V'| < 2^30, and
// 2^20 - S' f stays below 2^26 in size, so MulShift20 applies.
__attribute__((target("avx2"))) void AdjustPixelsAvx2(const uint32_t* in, uint8_t* out, size_t count,
                                                        int32_t level, int32_t width) {
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i levelV = _mm256_set1_epi32(level), widthV = _mm256_set1_epi32(width);
  const __m256i c1024 = _mm256_set1_epi32(1024), c2048 = _mm256_set1_epi32(2048);
  const __m256i c4096 = _mm256_set1_epi32(4096), c6144 = _mm256_set1_epi32(6144);
  const __m256i c2p20 = _mm256_set1_epi32(1 << 20);
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i b = _mm256_and_si256(px, byte);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(px, 8), byte);
    const __m256i r = _mm256_and_si256(_mm256_srli_epi32(px, 16), byte);
    const __m256i v = _mm256_max_epi32(r, _mm256_max_epi32(g, b));
    const __m256i m = _mm256_min_epi32(r, _mm256_min_epi32(g, b));
    const __m256i d = _mm256_sub_epi32(v, m);
    // S = (V - m) * 1024 / V; 0 when V = 0 (then d = 0, divided by 1).
    const __m256i s = DivideSmall(_mm256_slli_epi32(d, 10), _mm256_max_epi32(v, one));
    // Hue: V = R: (V - B, V - G, 0); V = G: (V - R, V - B, 2048); else (V - G, V - R, 4096).
    const __m256i isR = _mm256_cmpeq_epi32(v, r);
    const __m256i isG = _mm256_andnot_si256(isR, _mm256_cmpeq_epi32(v, g));
    const __m256i isB = _mm256_andnot_si256(_mm256_or_si256(isR, isG), _mm256_set1_epi32(-1));
    const __m256i vr = _mm256_sub_epi32(v, r), vg = _mm256_sub_epi32(v, g), vb = _mm256_sub_epi32(v, b);
    const __m256i x = _mm256_blendv_epi8(_mm256_blendv_epi8(vg, vr, isG), vb, isR);
    const __m256i y = _mm256_blendv_epi8(_mm256_blendv_epi8(vr, vb, isG), vg, isR);
    const __m256i base = _mm256_or_si256(_mm256_and_si256(isG, c2048), _mm256_and_si256(isB, c4096));
    const __m256i dd = _mm256_max_epi32(d, one);  // d = 0 has x = y = 0
    __m256i hue = _mm256_add_epi32(
        _mm256_sub_epi32(DivideSmall(_mm256_slli_epi32(x, 10), dd), DivideSmall(_mm256_slli_epi32(y, 10), dd)), base);
    hue = _mm256_add_epi32(hue, _mm256_and_si256(_mm256_srai_epi32(hue, 31), c6144));
    const __m256i k = _mm256_srai_epi32(hue, 10);
    const __m256i f = _mm256_and_si256(hue, _mm256_set1_epi32(1023));
    const __m256i s2 = _mm256_srai_epi32(_mm256_mullo_epi32(widthV, s), 8);
    const __m256i v2 = _mm256_srai_epi32(_mm256_mullo_epi32(levelV, v), 7);
    const __m256i p = _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(c1024, s2), v2), 10);
    const __m256i q = MulShift20(_mm256_sub_epi32(c2p20, _mm256_mullo_epi32(s2, f)), v2);
    const __m256i t = MulShift20(_mm256_sub_epi32(c2p20, _mm256_mullo_epi32(s2, _mm256_sub_epi32(c1024, f))), v2);
    // Sectors 0..5 as (R, G, B): (V', t, p), (q, V', p), (p, V', t), (p, q, V'), (t, p, V'), (V', p, q).
    const __m256i k0 = _mm256_cmpeq_epi32(k, zero), k1 = _mm256_cmpeq_epi32(k, one);
    const __m256i k2 = _mm256_cmpeq_epi32(k, _mm256_set1_epi32(2)), k3 = _mm256_cmpeq_epi32(k, _mm256_set1_epi32(3));
    const __m256i k4 = _mm256_cmpeq_epi32(k, _mm256_set1_epi32(4));
    __m256i ro = v2;  // sectors 0 and 5
    ro = _mm256_blendv_epi8(ro, q, k1);
    ro = _mm256_blendv_epi8(ro, p, _mm256_or_si256(k2, k3));
    ro = _mm256_blendv_epi8(ro, t, k4);
    __m256i go = p;  // sectors 4 and 5
    go = _mm256_blendv_epi8(go, t, k0);
    go = _mm256_blendv_epi8(go, v2, _mm256_or_si256(k1, k2));
    go = _mm256_blendv_epi8(go, q, k3);
    __m256i bo = q;  // sector 5
    bo = _mm256_blendv_epi8(bo, p, _mm256_or_si256(k0, k1));
    bo = _mm256_blendv_epi8(bo, t, k2);
    bo = _mm256_blendv_epi8(bo, v2, _mm256_or_si256(k3, k4));
    const __m256i bgrx = _mm256_or_si256(_mm256_or_si256(ClampByte(bo), _mm256_slli_epi32(ClampByte(go), 8)),
                                         _mm256_slli_epi32(ClampByte(ro), 16));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * 4), bgrx);
  }
  AdjustPixels<int64_t>(in + i, out + i * 4, count - i, level, width);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

void AdjustColourRowScalar(const uint32_t* in, uint8_t* out, size_t count, int32_t level, int32_t width) {
  if (ColourFitsInt64(level, width))
    AdjustPixels<int64_t>(in, out, count, level, width);
  else
    AdjustPixels<__int128>(in, out, count, level, width);
}

void AdjustColourRow(const uint32_t* in, uint8_t* out, size_t count, int32_t level, int32_t width) {
#ifdef VELMO_COLOUR_AVX2
  if (level >= -kColourLanesLimit && level <= kColourLanesLimit && width >= -kColourLanesLimit &&
      width <= kColourLanesLimit && HasAvx2()) {
    AdjustPixelsAvx2(in, out, count, level, width);
    return;
  }
#endif
  AdjustColourRowScalar(in, out, count, level, width);
}

}  // namespace velmo
