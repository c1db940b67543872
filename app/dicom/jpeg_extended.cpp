#include "dicom/jpeg_extended.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "dicom/codec_frame.h"
#include "dicom/jpeg_lossless.h"

namespace velmo {

namespace {

constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// cos((2x + 1) u pi / 16) scaled by C(u) / 2, for the separable inverse DCT.
struct IdctTable {
  float c[8][8];
  IdctTable() {
    for (int x = 0; x < 8; ++x)
      for (int u = 0; u < 8; ++u)
        c[x][u] = static_cast<float>((u == 0 ? std::sqrt(0.5) : 1.0) * std::cos((2 * x + 1) * u * M_PI / 16) / 2);
  }
};

// Inverse DCT of one block of dequantised coefficients (natural order) into samples
// with the level shift, clamped to 0 .. 2^precision - 1.
void InverseDct(const int32_t in[64], int precision, uint16_t out[64]) {
  static const IdctTable t;
  float tmp[64];
  for (int v = 0; v < 8; ++v)
    for (int x = 0; x < 8; ++x) {
      float s = 0;
      for (int u = 0; u < 8; ++u) s += t.c[x][u] * static_cast<float>(in[v * 8 + u]);
      tmp[v * 8 + x] = s;
    }
  const float shift = static_cast<float>(1 << (precision - 1));
  const float top = static_cast<float>((1 << precision) - 1);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      float s = 0;
      for (int v = 0; v < 8; ++v) s += t.c[y][v] * tmp[v * 8 + x];
      out[y * 8 + x] = static_cast<uint16_t>(std::clamp(std::nearbyint(s + shift), 0.0f, top));
    }
}

struct Component {
  int h = 1, v = 1, table = 0;
  int blocksWide = 0, blocksHigh = 0;  // blocks in the padded plane
  std::vector<uint16_t> plane;         // blocksWide * 8 x blocksHigh * 8 samples
  int dcPrediction = 0;
};

}  // namespace

bool DecodeJpegExtended(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int bytesPerPixel) {
  if (data == nullptr || frame == nullptr || rows <= 0 || columns <= 0) return false;
  if (bytesPerPixel != 1 && bytesPerPixel != 2 && bytesPerPixel != 3) return false;
  JpegMarkerWalker walk(data, length);
  if (!walk.StartOfImage()) return false;
  JpegFrameHeader h;
  bool haveFrame = false;
  HuffmanTable dcTables[4], acTables[4];
  uint16_t quant[4][64] = {};
  Component comps[4];
  int hMax = 1, vMax = 1, mcusWide = 0, mcusHigh = 0;
  int restartInterval = 0;
  int scans = 0;
  bool broken = false;
  const uint8_t* s;
  size_t n;
  try {
    for (int m; !broken && (m = walk.Next(&s, &n)) != 0;) {
      if (m == 0xD9) break;
      if (IsJpegFrameMarker(m)) {
        if (haveFrame) break;
        if (!ParseJpegFrameHeader(m, s, n, &h)) return false;
        if (m != 0xC0 && m != 0xC1) return false;  // sequential Huffman DCT only
        if ((h.precision != 8 && h.precision != 12) || h.width == 0 || h.height == 0 || h.components > 3) return false;
        if (!PlausibleDecodedSize(h.width, h.height, h.components, rows, columns)) return false;
        for (int c = 0; c < h.components; ++c) {
          comps[c].h = h.sampling[c] >> 4;
          comps[c].v = h.sampling[c] & 15;
          comps[c].table = s[8 + 3 * c] & 3;
          if (comps[c].h < 1 || comps[c].h > 4 || comps[c].v < 1 || comps[c].v > 4) return false;
          hMax = std::max(hMax, comps[c].h);
          vMax = std::max(vMax, comps[c].v);
        }
        mcusWide = (h.width + 8 * hMax - 1) / (8 * hMax);
        mcusHigh = (h.height + 8 * vMax - 1) / (8 * vMax);
        for (int c = 0; c < h.components; ++c) {
          comps[c].blocksWide = mcusWide * comps[c].h;
          comps[c].blocksHigh = mcusHigh * comps[c].v;
          comps[c].plane.assign(static_cast<size_t>(comps[c].blocksWide) * comps[c].blocksHigh * 64, 0);
        }
        haveFrame = true;
      } else if (m == 0xC4) {
        while (n >= 17) {
          const int cls = s[0] >> 4, id = s[0] & 15;
          size_t count = 0;
          for (int i = 0; i < 16; ++i) count += s[1 + i];
          if (count > 256 || 17 + count > n || id > 3 || cls > 1) return false;
          if (!(cls == 0 ? dcTables : acTables)[id].Build(s + 1, s + 17, count)) return false;
          s += 17 + count;
          n -= 17 + count;
        }
      } else if (m == 0xDB) {
        while (n >= 1) {
          const int pq = s[0] >> 4, id = s[0] & 3;
          const size_t need = 1 + 64 * (pq ? 2 : 1);
          if (n < need || pq > 1) return false;
          for (int k = 0; k < 64; ++k) quant[id][k] = pq ? static_cast<uint16_t>(s[1 + 2 * k] << 8 | s[2 + 2 * k]) : s[1 + k];
          s += need;
          n -= need;
        }
      } else if (m == 0xDD) {
        if (n >= 2) restartInterval = s[0] << 8 | s[1];
      } else if (m == 0xDA) {
        if (!haveFrame || n < 1) return false;
        const int count = s[0];
        if (count < 1 || count > h.components || n < 4 + 2u * count) return false;
        int index[4], dc[4], ac[4];
        for (int k = 0; k < count; ++k) {
          index[k] = -1;
          for (int c = 0; c < h.components; ++c)
            if (h.ids[c] == s[1 + 2 * k]) index[k] = c;
          dc[k] = s[2 + 2 * k] >> 4;
          ac[k] = s[2 + 2 * k] & 15;
          if (index[k] < 0 || dc[k] > 3 || ac[k] > 3 || !dcTables[dc[k]].defined() || !acTables[ac[k]].defined())
            return false;
        }
        JpegBitReader reader(s + n, walk.end());
        ++scans;
        for (int k = 0; k < count; ++k) comps[index[k]].dcPrediction = 0;
        // One component alone is coded block by block over its own size; several are
        // coded in MCUs of every component's h x v blocks.
        const int unitsWide = count == 1 ? (static_cast<int>(std::ceil(h.width * comps[index[0]].h / double(hMax))) + 7) / 8
                                         : mcusWide;
        const int unitsHigh = count == 1
                                  ? (static_cast<int>(std::ceil(h.height * comps[index[0]].v / double(vMax))) + 7) / 8
                                  : mcusHigh;
        int left = restartInterval;
        int32_t coef[64];
        uint16_t samples[64];
        auto decodeBlock = [&](int k, int bx, int by) {
          Component& c = comps[index[k]];
          std::memset(coef, 0, sizeof coef);
          const int category = reader.Decode(dcTables[dc[k]]);
          if (category < 0 || category > 15) return false;
          if (category > 0) c.dcPrediction += ExtendJpegDifference(reader.Bits(category), category);
          const uint16_t* q = quant[c.table];
          coef[0] = c.dcPrediction * q[0];
          for (int i = 1; i < 64;) {
            const int rs = reader.Decode(acTables[ac[k]]);
            if (rs < 0) return false;
            const int r = rs >> 4, size = rs & 15;
            if (size == 0) {
              if (r != 15) break;
              i += 16;
              continue;
            }
            i += r;
            if (i > 63) return false;
            coef[kZigzag[i]] = ExtendJpegDifference(reader.Bits(size), size) * q[i];
            ++i;
          }
          if (bx >= c.blocksWide || by >= c.blocksHigh) return true;  // padding outside the plane
          InverseDct(coef, h.precision, samples);
          const size_t stride = static_cast<size_t>(c.blocksWide) * 8;
          uint16_t* dst = c.plane.data() + static_cast<size_t>(by) * 8 * stride + static_cast<size_t>(bx) * 8;
          for (int y = 0; y < 8; ++y) std::memcpy(dst + y * stride, samples + y * 8, 16);
          return true;
        };
        for (int uy = 0; uy < unitsHigh && !broken; ++uy) {
          for (int ux = 0; ux < unitsWide && !broken; ++ux) {
            if (restartInterval > 0) {
              if (left == 0) {
                if (!reader.Restart()) {
                  broken = true;
                  break;
                }
                for (int k = 0; k < count; ++k) comps[index[k]].dcPrediction = 0;
                left = restartInterval;
              }
              --left;
            }
            if (count == 1) {
              broken = !decodeBlock(0, ux, uy);
            } else {
              for (int k = 0; k < count && !broken; ++k)
                for (int by = 0; by < comps[index[k]].v && !broken; ++by)
                  for (int bx = 0; bx < comps[index[k]].h && !broken; ++bx)
                    broken = !decodeBlock(k, ux * comps[index[k]].h + bx, uy * comps[index[k]].v + by);
            }
          }
          if (reader.exhausted()) broken = true;
        }
        walk.MoveTo(reader.position());
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (scans == 0) return false;

  // Samples of component c at picture position (x, y), upsampled by repetition.
  auto at = [&](int c, int x, int y) -> int {
    const Component& k = comps[c];
    const int cx = x * k.h / hMax, cy = y * k.v / vMax;
    return k.plane[static_cast<size_t>(cy) * k.blocksWide * 8 + cx];
  };
  const int shift = h.precision - 8;
  auto sample = [&](int c, int x, int y) -> uint32_t {
    if (h.components < 3 || bytesPerPixel != 3) return static_cast<uint32_t>(at(0, x, y));
    // Y, Cb, Cr to R, G, B at 8 bits.
    const double yv = at(0, x, y) >> shift, cb = (at(1, x, y) >> shift) - 128.0, cr = (at(2, x, y) >> shift) - 128.0;
    const double v = c == 0 ? yv + 1.402 * cr : c == 1 ? yv - 0.344136 * cb - 0.714136 * cr : yv + 1.772 * cb;
    return static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L)) << shift;
  };
  WriteDecodedFrame(h.width, h.height, h.components, h.precision, sample, frame, rows, columns, bytesPerPixel);
  return !broken;
}

}  // namespace velmo
