#pragma once
// A straightforward per-pixel renderer written directly from the display rules,
// without tables, precomputed steps or shortcuts. The fast conversion must produce
// the same bytes. Only the pixel area is produced (W * H * bytes per pixel,
// bottom-up rows), without filters.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dicom/dicom_image.h"
#include "render/display_tables.h"
#include "render/geometry.h"
#include "render/pane_display.h"

namespace velmo::test {

using i128 = __int128;

struct RefSampler {
  const DicomImage& im;
  const uint8_t* frame;
  bool two, big, sgn, uns;
  int shift;
  RefSampler(const DicomImage& image, int frameNo) : im(image) {
    const size_t s = image.SamplesInPixelData();
    frame = image.pixelData.data() + size_t(frameNo - 1) * size_t(image.rows) * size_t(image.columns) * s;
    two = image.bitsAllocated > 8;
    big = two && image.syntaxType == kExplicitBig && image.pixelDataLength != 0xFFFFFFFFu;
    sgn = image.pixelRepresentation == 1;
    // Two-byte samples: bits allocated - bits stored; one-byte samples extend from bits stored.
    shift = two ? std::clamp(int(image.bitsAllocated) - int(image.bitsStored), 0, 15)
                : 16 - std::clamp(int(image.bitsStored), 1, 8);
    uns = image.bitsStored == 16 && image.pixelRepresentation == 0 && image.rescaleIntercept >= 0;
  }
  // The 16-bit word of pixel (row, col) after byte order and sign extension.
  uint16_t Word(int row, int col) const {
    const size_t i = size_t(row) * size_t(im.columns) + size_t(col);
    uint16_t w;
    if (two) {
      const uint8_t* p = frame + i * 2;
      w = big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[0] | p[1] << 8);
    } else {
      w = frame[i];
    }
    if (sgn) {
      int16_t s = int16_t(uint16_t(w << shift));
      s = int16_t(s >> shift);
      w = uint16_t(s);
    }
    return w;
  }
  int32_t Value(uint16_t w) const { return uns ? int32_t(w) : int32_t(int16_t(w)); }
  // Red, green, blue of a colour pixel.
  void Rgb(int row, int col, int rgb[3]) const {
    const size_t i = size_t(row) * size_t(im.columns) + size_t(col);
    if (im.hasPalette) {
      const uint16_t idx = Word(row, col);
      const std::vector<uint16_t>* t[3] = {&im.paletteRed, &im.paletteGreen, &im.paletteBlue};
      for (int k = 0; k < 3; ++k) {
        const uint16_t e = idx < t[k]->size() ? (*t[k])[idx] : 0;
        rgb[k] = im.paletteDescriptor[k][2] > 8 ? (e >> 8) : (e & 0xFF);
      }
    } else if (im.planarConfiguration == 1 && im.photometric.view().substr(0, 3) == "RGB" &&
               im.pixelDataLength != 0xFFFFFFFFu) {
      // Only native data keeps its planes: decoded RLE and JPEG frames are interleaved.
      const size_t plane = size_t(im.rows) * size_t(im.columns);
      for (int k = 0; k < 3; ++k) rgb[k] = frame[k * plane + i];
    } else {
      for (int k = 0; k < 3; ++k) rgb[k] = frame[i * 3 + k];
    }
  }
};

// Window mapping in 128 bits, so nothing can overflow here.
inline i128 RefX(const DicomImage& im, int32_t v) {
  const int32_t w = im.width < 2 ? 1 : im.width;
  const i128 slope1024 = i128(int64_t(std::trunc(std::clamp(double(im.rescaleSlope) * 1024.0, -2147483648.0, 2147483647.0))));
  const i128 offset = (i128(w & ~1) + 2 * (i128(im.rescaleIntercept) - im.level)) * 512;
  const i128 inv = i128(1 << 20) / w;
  const i128 t = (i128(v) * slope1024 + offset) >> 10;
  return t * inv;
}
inline uint8_t RefGrey(const DicomImage& im, int32_t v) {
  i128 idx = RefX(im, v) >> 12;
  idx = idx < 0 ? 0 : (idx > 255 ? 255 : idx);
  if (im.hasVoiLut && im.voiLutBits == 8 && !im.voiLutData.empty()) {
    const size_t k = std::min<size_t>(size_t(idx), im.voiLutData.size() - 1);
    return uint8_t(im.voiLutData[k] & 0xFF);
  }
  return uint8_t(idx);
}
inline uint32_t RefPalette(const DicomImage& im, int32_t v, const std::array<uint8_t, 768>& pal) {
  i128 x = RefX(im, v);
  int row = 0;
  i128 fraction = 0;
  if (x >= 0) {
    if (x > (i128(1) << 20)) x = i128(1) << 20;
    row = int(std::min<i128>(x >> 12, 255));
    fraction = x - i128(row) * 4096;
  }
  const int next = std::min(row, 254) + 1;
  int c[3];
  for (int k = 0; k < 3; ++k) {
    const int a = pal[row * 3 + k], b = pal[next * 3 + k];
    c[k] = int(a + ((i128(b - a) * fraction) >> 12));
  }
  return uint32_t(c[2]) | uint32_t(c[1]) << 8 | uint32_t(c[0]) << 16;
}
inline uint32_t RefHsv(int R, int G, int B, int32_t L, int32_t Wd) {
  const int V = std::max({R, G, B}), m = std::min({R, G, B});
  int S = V == 0 ? 0 : (V - m) * 1024 / V;
  int H = 0;
  if (V != m) {
    const int d = V - m;
    if (V == R) H = ((V - B) << 10) / d - ((V - G) << 10) / d;
    else if (V == G) H = ((V - R) << 10) / d - ((V - B) << 10) / d + 2048;
    else H = ((V - G) << 10) / d - ((V - R) << 10) / d + 4096;
    if (H < 0) H += 6144;
  } else {
    S = 0;
  }
  const i128 S2 = (i128(Wd) * S) >> 8, V2 = (i128(L) * V) >> 7;
  const int k = H >> 10;
  const i128 f = H - (k << 10);
  const i128 p = ((1024 - S2) * V2) >> 10;
  const i128 q = (((i128(1) << 20) - S2 * f) * V2) >> 20;
  const i128 t = (((i128(1) << 20) - S2 * (1024 - f)) * V2) >> 20;
  i128 rgb[3];
  switch (k) {
    case 0: rgb[0] = V2, rgb[1] = t, rgb[2] = p; break;
    case 1: rgb[0] = q, rgb[1] = V2, rgb[2] = p; break;
    case 2: rgb[0] = p, rgb[1] = V2, rgb[2] = t; break;
    case 3: rgb[0] = p, rgb[1] = q, rgb[2] = V2; break;
    case 4: rgb[0] = t, rgb[1] = p, rgb[2] = V2; break;
    default: rgb[0] = V2, rgb[1] = p, rgb[2] = q; break;
  }
  uint32_t c[3];
  for (int i = 0; i < 3; ++i) c[i] = uint32_t(rgb[i] < 0 ? 0 : (rgb[i] > 255 ? 255 : rgb[i]));
  return c[2] | c[1] << 8 | c[0] << 16;
}

inline int64_t RefCubic(int64_t d) {  // kernel a = -1, units 2^24, d in 1/256
  if (d < 256) return d * d * d - 512 * d * d + (int64_t(1) << 24);
  if (d < 512) return (1280 - d) * d * d - 524288 * d + 4 * (int64_t(1) << 24);
  return 0;
}

inline std::vector<uint8_t> ReferencePixels(const DicomImage& im, const PaneDisplay& pane, const DisplayTables& tables,
                                            const DisplayGeometry& g, int frameNo) {
  const bool colour = im.isColour != 0;
  const bool bits32 = colour || pane.paletteColour;
  const int bpp = bits32 ? 4 : 1;
  std::vector<uint8_t> out(size_t(g.W) * g.H * bpp, 0);
  if (!bits32 && im.isMonochrome1) std::fill(out.begin(), out.end(), 255);
  const RefSampler smp(im, frameNo);
  const int rows = im.rows, cols = im.columns, side = g.side;
  const int sx0 = (g.W - side) >> 1, sy0 = (g.H - side) >> 1;
  auto put = [&](int x, int y, uint32_t value) {  // square position, top-left origin
    const size_t at = (size_t(g.H - 1 - (sy0 + y)) * g.W + size_t(sx0 + x)) * bpp;
    if (bpp == 1) out[at] = uint8_t(value);
    else for (int k = 0; k < 4; ++k) out[at + k] = uint8_t(value >> (8 * k));
  };
  auto mapValue = [&](int32_t v) -> uint32_t {
    return pane.paletteColour ? RefPalette(im, v, tables.colourPalette) : RefGrey(im, v);
  };
  const double theta = pane.rotationAngle * 3.14159 * (1.0 / 180.0);
  const int c = int(double(float(std::cos(theta))) * 1024.0), s = int(std::sin(theta) * 1024.0);
  const bool enlarged = !pane.nearestOnly && g.w > cols && g.h > rows;
  if (!enlarged) {
    const int w = g.w, h = g.h, mx = (side - w) >> 1, my = (side - h) >> 1;
    const int64_t fx = (int64_t(cols) << 10) / w, fy = (int64_t(rows) << 10) / h;
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        int64_t px, py;
        if (pane.rotationAngle == 0) {
          px = x - mx, py = y - my;
        } else {
          const int64_t dx = x - mx - (w >> 1), dy = y - my - (h >> 1);
          px = (int64_t(w >> 1) * 1024 + c * dx - s * dy) >> 10;
          py = (int64_t(h >> 1) * 1024 + s * dx + c * dy) >> 10;
        }
        if (px < 0 || px > w - 1 || py < 0 || py > h - 1) continue;
        const int sc = int((px * fx) >> 10), sr = int((py * fy) >> 10);
        uint32_t value;
        if (colour) {
          int rgb[3];
          smp.Rgb(sr, sc, rgb);
          value = RefHsv(rgb[0], rgb[1], rgb[2], im.level, im.width);
        } else {
          value = mapValue(smp.Value(smp.Word(sr, sc)));
        }
        put(pane.flipHorizontal ? side - 1 - x : x, pane.flipVertical ? side - 1 - y : y, value);
      }
    return out;
  }
  // Rotation buffer: values (grey) or red, green, blue (colour).
  const int N = std::max(rows, cols), mx = (N - cols) / 2, my = (N - rows) / 2;
  const int ch = colour ? 3 : 1;
  std::vector<int64_t> buf(size_t(N) * N * ch);
  int32_t background;
  if (!im.isMonochrome1) background = smp.Value(0xF830);
  else background = smp.Value(uint16_t(std::min<int32_t>(1 << std::clamp<int>(im.bitsStored, 0, 16), smp.uns ? 0xFFFF : 0x7FFF)));
  for (int y = 0; y < N; ++y)
    for (int x = 0; x < N; ++x) {
      int64_t sc, sr;
      if (pane.rotationAngle == 0) {
        sc = x - mx, sr = y - my;
      } else {
        const int64_t dx = x - mx - (cols >> 1), dy = y - my - (rows >> 1);
        sc = (int64_t(cols) * 512 - s * dy + c * dx) >> 10;
        sr = (int64_t(rows) * 512 + s * dx + c * dy) >> 10;
      }
      const bool inside = sc >= 0 && sc < cols && sr >= 0 && sr < rows;
      const int xo = pane.flipHorizontal ? N - 1 - x : x, yo = pane.flipVertical ? N - 1 - y : y;
      int64_t* cell = &buf[(size_t(yo) * N + xo) * ch];
      if (colour) {
        int rgb[3] = {0, 0, 0};
        if (inside) smp.Rgb(int(sr), int(sc), rgb);
        for (int k = 0; k < 3; ++k) cell[k] = rgb[k];
      } else {
        cell[0] = inside ? smp.Value(smp.Word(int(sr), int(sc))) : background;
      }
    }
  auto B = [&](int r, int cc, int k) { return buf[(size_t(r) * N + cc) * ch + k]; };
  // Output coordinate u samples buffer position pos(u) in 1/256 units: u * q, or, when
  // q is 0 (N * 256 < side), (u * Q) >> 8 with the finer step Q = (N << 16) / side.
  const int64_t q = (int64_t(N) << 8) / side, fineQ = (int64_t(N) << 16) / side;
  auto pos = [&](int64_t u) { return q != 0 ? u * q : (u * fineQ) >> 8; };
  const int ax0 = pane.flipHorizontal ? N - mx - cols : mx, ay0 = pane.flipVertical ? N - my - rows : my;
  auto finish = [&](int u, int v, const int64_t* vals) {
    uint32_t value;
    if (colour) value = RefHsv(int(vals[0]), int(vals[1]), int(vals[2]), im.level, im.width);
    else value = mapValue(int32_t(smp.uns ? int32_t(uint16_t(vals[0])) : int32_t(int16_t(vals[0]))));
    put(u, v, value);
  };
  if (pane.interpolation == Interpolation::kBilinear) {
    std::vector<int64_t> tmp(size_t(N) * side * ch);
    for (int r = 0; r < N; ++r)
      for (int u = 0; u < side; ++u) {
        const int64_t i = pos(u) >> 8, f = std::abs(pos(u) - i * 256);
        int64_t j = i + 1 < N ? i + 1 : i;
        if (colour && !(j >= ax0 && j < ax0 + cols)) j = i;
        for (int k = 0; k < ch; ++k) {
          const int64_t a = B(r, int(i), k), b = B(r, int(j), k);
          tmp[(size_t(r) * side + u) * ch + k] = a + (((b - a) * f) >> 8);
        }
      }
    for (int v = 0; v < side; ++v)
      for (int u = 0; u < side; ++u) {
        const int64_t i = pos(v) >> 8, f = std::abs(pos(v) - i * 256);
        int64_t j = i + 1 < N ? i + 1 : i;
        if (colour && !(j >= ay0 && j < ay0 + rows)) j = i;
        int64_t vals[3];
        for (int k = 0; k < ch; ++k) {
          const int64_t a = tmp[(size_t(i) * side + u) * ch + k], b = tmp[(size_t(j) * side + u) * ch + k];
          vals[k] = a + (((b - a) * f) >> 8);
        }
        finish(u, v, vals);
      }
    return out;
  }
  for (int v = 0; v < side; ++v)
    for (int u = 0; u < side; ++u) {
      const int64_t py = pos(v), px = pos(u);
      const int64_t i = py >> 8, j = px >> 8, fy = std::abs(py - i * 256), fx = std::abs(px - j * 256);
      const int64_t i1 = std::min<int64_t>(i + 1, N - 1), j1 = std::min<int64_t>(j + 1, N - 1);
      int64_t vals[3];
      for (int k = 0; k < ch; ++k) {
        if (i < 2 || i > N - 3) {
          const int64_t a = B(int(i), int(j), k), b = B(int(i1), int(j), k);
          vals[k] = a + (((b - a) * fy) >> 8);
        } else if (j < 2 || j > N - 3) {
          const int64_t a = B(int(i), int(j), k), b = B(int(i), int(j1), k);
          vals[k] = a + (((b - a) * fx) >> 8);
        } else {
          int64_t num = 0, den = 0;
          for (int dr = -2; dr <= 2; ++dr)
            for (int dc = -2; dc <= 2; ++dc) {
              const int64_t wr = RefCubic(std::abs((i + dr) * 256 - py));
              const int64_t wc = RefCubic(std::abs((j + dc) * 256 - px));
              if (wr <= 0 || wc <= 0) continue;
              const int64_t p = (wr * wc) >> 8;
              num += p * B(int(i + dr), int(j + dc), k);
              den += p;
            }
          vals[k] = num / den;
        }
      }
      finish(u, v, vals);
    }
  return out;
}

// The median filter as the rule states it: gather nine, order the first five
// positions by selection, take position 4; in place.
inline void RefMedian(std::vector<uint8_t>& px, int W, int H) {
  if (W < 3 || H < 3) return;
  for (int r = 1; r < H - 1; ++r)
    for (int c = 1; c < W - 1; ++c) {
      uint8_t v[9];
      int n = 0;
      for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) v[n++] = px[size_t(r + dr) * W + (c + dc)];
      for (int i = 0; i < 5; ++i)
        for (int j = i + 1; j < 9; ++j)
          if (v[j] < v[i]) std::swap(v[i], v[j]);
      px[size_t(r) * W + c] = v[4];
    }
}
inline void RefSharpen(std::vector<uint8_t>& px, int W, int H) {
  if (W < 3 || H < 3) return;
  const std::vector<uint8_t> copy = px;
  for (int r = 1; r < H - 1; ++r)
    for (int c = 1; c < W - 1; ++c) {
      const int v = 5 * copy[size_t(r) * W + c] - copy[size_t(r - 1) * W + c] - copy[size_t(r + 1) * W + c] -
                    copy[size_t(r) * W + c - 1] - copy[size_t(r) * W + c + 1];
      px[size_t(r) * W + c] = uint8_t(std::clamp(v, 0, 255));
    }
}

}  // namespace velmo::test
