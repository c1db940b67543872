#include "render/convert.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "dicom/dicom_image.h"
#include "render/filters.h"
#include "render/value_map.h"
#include "base/log.h"
#include "base/notifier.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

constexpr size_t kWorkBufferBytes = 4194304;

void LogLine(const RenderContext& ctx, const std::string& message, int kind, int level) {
  if (ctx.log) ctx.log->Write(message, kind, level);
}

// Logs and shows an allocation failure ("...(%d)メモリ不足の可能性があります。").
void ReportAllocation(const RenderContext& ctx, const std::string& format, uint64_t bytes) {
  const std::string msg = Format(format, static_cast<unsigned long long>(bytes));
  LogLine(ctx, msg, kLogWarning, 1);
  if (ctx.notifier) ctx.notifier->Show(SJ("警告"), msg, NoticeIcon::Warning);
}

// A display bitmap that cannot be had: logged every time, shown once per size, so a
// pane that keeps failing does not raise the same box at every repaint.
void ReportRefusal(const RenderContext& ctx, PaneDisplay& pane, uint64_t bytes) {
  const std::string msg =
      Format(SJ("画像表示用（BMP形式）のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
             static_cast<unsigned long long>(bytes));
  LogLine(ctx, msg, kLogWarning, 1);
  if (pane.refusedBitmapBytes == bytes) return;
  pane.refusedBitmapBytes = bytes;
  if (ctx.notifier) ctx.notifier->Show(SJ("警告"), msg, NoticeIcon::Warning);
}

// Grows `buffer` to at least `bytes`; false when that is impossible.
bool Grow(std::vector<uint8_t>& buffer, uint64_t bytes) {
  if (buffer.size() >= bytes) return true;
  if (bytes > (uint64_t{1} << 34)) return false;
  try {
    std::vector<uint8_t>().swap(buffer);
    buffer.resize(static_cast<size_t>(bytes));
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  if constexpr (std::endian::native == std::endian::big) v = static_cast<uint16_t>((v >> 8) | (v << 8));
  return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint32_t Bgrx(int r, int g, int b) {
  return static_cast<uint32_t>(b) | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(r) << 16;
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, static_cast<uint16_t>(v));
  Put16(p + 2, static_cast<uint16_t>(v >> 16));
}

void WriteHeaders(uint8_t* b, int32_t W, int32_t H, bool bits32) {
  const uint64_t size = DisplayBitmapBytes(W, H, bits32);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b + 2, static_cast<uint32_t>(size));
  Put32(b + 6, 0);
  Put32(b + 10, bits32 ? 54 : 1078);
  Put32(b + 14, 40);
  Put32(b + 18, static_cast<uint32_t>(W));
  Put32(b + 22, static_cast<uint32_t>(H));
  Put16(b + 26, 1);
  Put16(b + 28, bits32 ? 32 : 8);
  Put32(b + 30, 0);
  Put32(b + 34, 0);
  Put32(b + 38, 3780);
  Put32(b + 42, 3780);
  Put32(b + 46, 0);
  Put32(b + 50, 0);
}

// Where the pixels of a frame come from.
struct Source {
  const uint8_t* data = nullptr;  // start of the frame
  int32_t rows = 0, columns = 0;
  size_t plane = 0;               // rows * columns (planar RGB)
};

// The colour of one pixel of a colour image, as red, green, blue.
struct ColourReader {
  enum Kind { kInterleaved, kPlanar, kPalette } kind = kInterleaved;
  SampleFormat format;
  const uint16_t* lut[3] = {nullptr, nullptr, nullptr};
  size_t lutSize[3] = {0, 0, 0};
  int lutShift[3] = {8, 8, 8};

  static ColourReader Of(const DicomImage& im) {
    ColourReader c;
    if (im.hasPalette) {
      c.kind = kPalette;
      c.format = SampleFormat::Of(im);
      const std::vector<uint16_t>* tables[3] = {&im.paletteRed, &im.paletteGreen, &im.paletteBlue};
      for (int k = 0; k < 3; ++k) {
        c.lut[k] = tables[k]->data();
        c.lutSize[k] = tables[k]->size();
        // Entries of 16-bit tables give their high byte, entries of 8-bit tables are used as they are.
        c.lutShift[k] = im.paletteDescriptor[k][2] > 8 ? 8 : 0;
      }
    } else if (im.planarConfiguration == 1 && im.photometric.view().substr(0, 3) == "RGB" &&
               im.pixelDataLength != 0xFFFFFFFFu) {
      // Only native data keeps its planes: decoded RLE and JPEG frames are interleaved.
      c.kind = kPlanar;
    }
    return c;
  }
  // Blue | green << 8 | red << 16 of pixel i.
  uint32_t Read(const Source& s, size_t i) const {
    switch (kind) {
      case kInterleaved: {
        const uint8_t* p = s.data + i * 3;
        return Bgrx(p[0], p[1], p[2]);
      }
      case kPlanar:
        return Bgrx(s.data[i], s.data[s.plane + i], s.data[2 * s.plane + i]);
      case kPalette: {
        const uint16_t stored = format.twoBytes ? Load16(s.data + i * 2) : s.data[i];
        const uint16_t index = format.ValueWord(stored);
        int c[3];
        for (int k = 0; k < 3; ++k) {
          const uint16_t e = index < lutSize[k] ? lut[k][index] : 0;
          c[k] = (e >> lutShift[k]) & 0xFF;
        }
        return Bgrx(c[0], c[1], c[2]);
      }
    }
    return 0;
  }
};

// Everything the pixel loops of one conversion need.
struct Frame {
  const DisplayGeometry* g;
  const PaneDisplay* pane;
  Source src;
  uint8_t* pixels;  // bitmap pixel area
  int bpp;          // 1 or 4
  size_t stride;    // W * bpp
  // Square (side x side) position (x, y), top-left origin, to the bitmap byte.
  int32_t sx0, sy0;
  uint8_t* At(int32_t x, int32_t y) const {
    const int32_t row = g->H - 1 - (sy0 + y);
    return pixels + static_cast<size_t>(row) * stride + static_cast<size_t>(sx0 + x) * bpp;
  }
};

// Bitmap byte offset within a row and source column of each covered square column
// of an unrotated reduced display, in square order (right to left in the bitmap
// under a horizontal flip).
using ColumnPairs = std::vector<std::pair<uint32_t, uint32_t>>;

// Reduced or equal display: nearest neighbour over the side x side square.
// put(out, sourceIndex) writes one bitmap pixel from source pixel row * columns + col;
// without rotation putRow(row, cols, base) writes one bitmap row from source pixels
// base + col.
template <typename Put, typename PutRow>
void ReducedPass(const Frame& f, int32_t angle, Put put, PutRow putRow) {
  const DisplayGeometry& g = *f.g;
  const int32_t side = g.side, w = g.w, h = g.h;
  const int32_t mx = (side - w) >> 1, my = (side - h) >> 1;
  const int64_t fx = (int64_t{f.src.columns} << 10) / w;
  const int64_t fy = (int64_t{f.src.rows} << 10) / h;
  const bool flipH = f.pane->flipHorizontal != 0, flipV = f.pane->flipVertical != 0;
  const size_t columns = static_cast<size_t>(f.src.columns);
  if (angle == 0) {
    // Column pairs (bitmap byte offset within the row, source column) for one row.
    const int32_t x0 = std::max(0, mx), x1 = std::min(side, mx + w);
    ColumnPairs cols;
    cols.reserve(static_cast<size_t>(std::max(0, x1 - x0)));
    for (int32_t x = x0; x < x1; ++x) {
      const int32_t xo = flipH ? side - 1 - x : x;
      cols.emplace_back(static_cast<uint32_t>((f.sx0 + xo) * f.bpp), static_cast<uint32_t>(((x - mx) * fx) >> 10));
    }
    const int32_t y0 = std::max(0, my), y1 = std::min(side, my + h);
    for (int32_t y = y0; y < y1; ++y) {
      const int32_t yo = flipV ? side - 1 - y : y;
      uint8_t* row = f.At(0, yo) - static_cast<size_t>(f.sx0) * f.bpp;
      const size_t base = static_cast<size_t>(((y - my) * fy) >> 10) * columns;
      putRow(row, cols, base);
    }
    return;
  }
  const RotationConstants rc = MakeRotationConstants(angle);
  const int64_t cx = int64_t{w >> 1} * 1024, cy = int64_t{h >> 1} * 1024;
  for (int32_t y = 0; y < side; ++y) {
    const int64_t dy = int64_t{y} - my - (h >> 1);
    const int32_t yo = flipV ? side - 1 - y : y;
    for (int32_t x = 0; x < side; ++x) {
      const int64_t dx = int64_t{x} - mx - (w >> 1);
      const int64_t px = (cx + rc.c * dx - rc.s * dy) >> 10;
      const int64_t py = (cy + rc.s * dx + rc.c * dy) >> 10;
      if (px < 0 || px >= w || py < 0 || py >= h) continue;
      const int32_t xo = flipH ? side - 1 - x : x;
      put(f.At(xo, yo), static_cast<size_t>((py * fy) >> 10) * columns + static_cast<size_t>((px * fx) >> 10));
    }
  }
}

template <typename Put>
void ReducedPass(const Frame& f, int32_t angle, Put put) {
  ReducedPass(f, angle, put, [&put](uint8_t* row, const ColumnPairs& cols, size_t base) {
    for (const auto& [out, col] : cols) put(row + out, base + col);
  });
}

// Enlarged display, stage 1: the N x N rotation buffer with the image centred,
// rotated and flipped. sample(index) gives the buffer value of source pixel index.
template <typename T, typename Sample>
void FillRotationBuffer(T* buf, int32_t n, const Source& src, const PaneDisplay& pane, T background, Sample sample) {
  const int32_t rows = src.rows, columns = src.columns;
  const int32_t mx = (n - columns) / 2, my = (n - rows) / 2;
  const bool flipH = pane.flipHorizontal != 0, flipV = pane.flipVertical != 0;
  const size_t nn = static_cast<size_t>(n);
  if (pane.rotationAngle == 0) {
    for (int32_t y = 0; y < n; ++y) {
      T* out = buf + static_cast<size_t>(flipV ? n - 1 - y : y) * nn;
      const int32_t sr = y - my;
      const bool rowInside = sr >= 0 && sr < rows;
      for (int32_t x = 0; x < n; ++x) {
        const int32_t sc = x - mx;
        const size_t xo = static_cast<size_t>(flipH ? n - 1 - x : x);
        out[xo] = rowInside && sc >= 0 && sc < columns
                      ? sample(static_cast<size_t>(sr) * static_cast<size_t>(columns) + static_cast<size_t>(sc))
                      : background;
      }
    }
    return;
  }
  const RotationConstants rc = MakeRotationConstants(pane.rotationAngle);
  for (int32_t y = 0; y < n; ++y) {
    T* out = buf + static_cast<size_t>(flipV ? n - 1 - y : y) * nn;
    const int64_t dy = int64_t{y} - my - (rows >> 1);
    for (int32_t x = 0; x < n; ++x) {
      const int64_t dx = int64_t{x} - mx - (columns >> 1);
      const int64_t sc = (int64_t{columns} * 512 - rc.s * dy + rc.c * dx) >> 10;
      const int64_t sr = (int64_t{rows} * 512 + rc.s * dx + rc.c * dy) >> 10;
      const size_t xo = static_cast<size_t>(flipH ? n - 1 - x : x);
      out[xo] = sc >= 0 && sc < columns && sr >= 0 && sr < rows
                    ? sample(static_cast<size_t>(sr) * static_cast<size_t>(columns) + static_cast<size_t>(sc))
                    : background;
    }
  }
}

// Sampling steps of the interpolation: output coordinate u reads buffer position
// u * q / 256 with q = (N << 8) / S'.
// When N * 256 < S' (a 2 x 2 image on a side over 512 pixels) q would be 0 and every
// output pixel would show the first sample; then the step is taken in 1/65536 units,
// Q = (N << 16) / S', and the position in 1/256 units is (u * Q) >> 8. The fraction
// keeps its 1/256 units, and every size with q >= 1 steps exactly as before.
inline int64_t InterpolationStep(int32_t n, int32_t outSide) { return (int64_t{n} << 8) / outSide; }
inline int64_t FineInterpolationStep(int32_t n, int32_t outSide) { return (int64_t{n} << 16) / outSide; }

struct Steps {
  std::vector<int32_t> i, i1, f;
  Steps(int32_t n, int32_t outSide) : i(outSide), i1(outSide), f(outSide) {
    const int64_t q = InterpolationStep(n, outSide);
    const int64_t fine = q == 0 ? FineInterpolationStep(n, outSide) : 0;
    for (int32_t u = 0; u < outSide; ++u) {
      const int64_t pos = q != 0 ? u * q : (u * fine) >> 8;
      i[u] = static_cast<int32_t>(pos >> 8);
      f[u] = static_cast<int32_t>(pos - int64_t{i[u]} * 256);
      i1[u] = std::min(i[u] + 1, n - 1);
    }
  }
};

// Bicubic weight (units of 2^24) of distance d in 1/256 units, for d < 256. Larger
// distances never have a positive weight, so only the nearest 2 x 2 samples count.
inline int64_t CubicNear(int64_t d) { return d * d * d - 512 * d * d + (int64_t{1} << 24); }

struct BicubicSteps {
  std::vector<int64_t> w0, w1;  // weights of sample i and i + 1
  explicit BicubicSteps(const Steps& s) : w0(s.f.size()), w1(s.f.size()) {
    for (size_t u = 0; u < s.f.size(); ++u) {
      w0[u] = CubicNear(s.f[u]);
      w1[u] = s.f[u] == 0 ? 0 : CubicNear(256 - s.f[u]);
    }
  }
};

// Enlarged grey display, stage 2, bilinear. `value` turns a buffer word into the
// value interpolated; `put` maps the interpolated value into the bitmap.
template <typename Put>
void BilinearGrey(const Frame& fr, const uint16_t* buf, int32_t n, uint16_t* tmp, bool unsignedValues, Put put) {
  const int32_t side = fr.g->side;
  const Steps st(n, side);
  const size_t nn = static_cast<size_t>(n), ss = static_cast<size_t>(side);
  auto run = [&](auto toValue) {
    for (size_t r = 0; r < nn; ++r) {
      const uint16_t* in = buf + r * nn;
      uint16_t* out = tmp + r * ss;
      for (size_t u = 0; u < ss; ++u) {
        const int32_t a = toValue(in[st.i[u]]), b = toValue(in[st.i1[u]]);
        out[u] = static_cast<uint16_t>(a + (((b - a) * st.f[u]) >> 8));
      }
    }
    for (int32_t v = 0; v < side; ++v) {
      const uint16_t* ra = tmp + static_cast<size_t>(st.i[v]) * ss;
      const uint16_t* rb = tmp + static_cast<size_t>(st.i1[v]) * ss;
      const int32_t f = st.f[v];
      uint8_t* out = fr.At(0, v);
      for (size_t u = 0; u < ss; ++u) {
        const int32_t a = toValue(ra[u]), b = toValue(rb[u]);
        put(out + u * static_cast<size_t>(fr.bpp), static_cast<uint16_t>(a + (((b - a) * f) >> 8)));
      }
    }
  };
  if (unsignedValues)
    run([](uint16_t w) { return static_cast<int32_t>(w); });
  else
    run([](uint16_t w) { return static_cast<int32_t>(static_cast<int16_t>(w)); });
}

template <typename Put>
void BicubicGrey(const Frame& fr, const uint16_t* buf, int32_t n, bool unsignedValues, Put put) {
  const int32_t side = fr.g->side;
  const Steps st(n, side);
  const BicubicSteps wt(st);
  const size_t nn = static_cast<size_t>(n);
  auto run = [&](auto toValue) {
    for (int32_t v = 0; v < side; ++v) {
      const int32_t i = st.i[v], i1 = st.i1[v], fy = st.f[v];
      const uint16_t* ra = buf + static_cast<size_t>(i) * nn;
      const uint16_t* rb = buf + static_cast<size_t>(i1) * nn;
      uint8_t* out = fr.At(0, v);
      const bool rowEdge = i < 2 || i + 2 >= n;
      const int64_t wr0 = wt.w0[v], wr1 = wt.w1[v];
      for (int32_t u = 0; u < side; ++u) {
        const int32_t j = st.i[u], j1 = st.i1[u], fx = st.f[u];
        int32_t value;
        if (rowEdge) {
          const int32_t a = toValue(ra[j]), b = toValue(rb[j]);
          value = a + (((b - a) * fy) >> 8);
        } else if (j < 2 || j + 2 >= n) {
          const int32_t a = toValue(ra[j]), b = toValue(ra[j1]);
          value = a + (((b - a) * fx) >> 8);
        } else {
          const int64_t wc0 = wt.w0[u], wc1 = wt.w1[u];
          const int64_t p00 = (wr0 * wc0) >> 8, p01 = (wr0 * wc1) >> 8;
          const int64_t p10 = (wr1 * wc0) >> 8, p11 = (wr1 * wc1) >> 8;
          const int64_t num = p00 * toValue(ra[j]) + p01 * toValue(ra[j1]) + p10 * toValue(rb[j]) +
                              p11 * toValue(rb[j1]);
          value = static_cast<int32_t>(num / (p00 + p01 + p10 + p11));
        }
        put(out + static_cast<size_t>(u) * static_cast<size_t>(fr.bpp), static_cast<uint16_t>(value));
      }
    }
  };
  if (unsignedValues)
    run([](uint16_t w) { return static_cast<int32_t>(w); });
  else
    run([](uint16_t w) { return static_cast<int32_t>(static_cast<int16_t>(w)); });
}

// Enlarged colour display, stage 2. Each of blue, green and red is interpolated;
// in the bilinear passes a neighbour outside the image area of the square is
// replaced by the sample itself.
void BilinearColour(const Frame& fr, const uint32_t* buf, int32_t n, uint32_t* tmp, int32_t ax0, int32_t ax1,
                    int32_t ay0, int32_t ay1, int32_t level, int32_t width) {
  const int32_t side = fr.g->side;
  const Steps st(n, side);
  const size_t nn = static_cast<size_t>(n), ss = static_cast<size_t>(side);
  auto blend = [](uint32_t a, uint32_t b, int32_t f) {
    uint32_t out = 0;
    for (int sh = 0; sh < 24; sh += 8) {
      const int32_t ca = static_cast<int32_t>((a >> sh) & 0xFF), cb = static_cast<int32_t>((b >> sh) & 0xFF);
      out |= static_cast<uint32_t>(ca + (((cb - ca) * f) >> 8)) << sh;
    }
    return out;
  };
  for (size_t r = 0; r < nn; ++r) {
    const uint32_t* in = buf + r * nn;
    uint32_t* out = tmp + r * ss;
    for (size_t u = 0; u < ss; ++u) {
      const int32_t i = st.i[u], j = st.i1[u];
      const bool inside = j >= ax0 && j < ax1;
      out[u] = blend(in[i], inside ? in[j] : in[i], st.f[u]);
    }
  }
  std::vector<uint32_t> line(ss);
  for (int32_t v = 0; v < side; ++v) {
    const int32_t i = st.i[v], j = st.i1[v];
    const bool inside = j >= ay0 && j < ay1;
    const uint32_t* ra = tmp + static_cast<size_t>(i) * ss;
    const uint32_t* rb = tmp + static_cast<size_t>(inside ? j : i) * ss;
    for (size_t u = 0; u < ss; ++u) line[u] = blend(ra[u], rb[u], st.f[v]);
    AdjustColourRow(line.data(), fr.At(0, v), ss, level, width);
  }
}

void BicubicColour(const Frame& fr, const uint32_t* buf, int32_t n, int32_t level, int32_t width) {
  const int32_t side = fr.g->side;
  const Steps st(n, side);
  const BicubicSteps wt(st);
  const size_t nn = static_cast<size_t>(n);
  auto channel = [](uint32_t px, int sh) { return static_cast<int64_t>((px >> sh) & 0xFF); };
  std::vector<uint32_t> line(static_cast<size_t>(side));
  for (int32_t v = 0; v < side; ++v) {
    const int32_t i = st.i[v], i1 = st.i1[v], fy = st.f[v];
    const uint32_t* ra = buf + static_cast<size_t>(i) * nn;
    const uint32_t* rb = buf + static_cast<size_t>(i1) * nn;
    const bool rowEdge = i < 2 || i + 2 >= n;
    const int64_t wr0 = wt.w0[v], wr1 = wt.w1[v];
    for (int32_t u = 0; u < side; ++u) {
      const int32_t j = st.i[u], j1 = st.i1[u], fx = st.f[u];
      uint32_t px = 0;
      if (rowEdge || j < 2 || j + 2 >= n) {
        const uint32_t a = ra[j], b = rowEdge ? rb[j] : ra[j1];
        const int64_t f = rowEdge ? fy : fx;
        for (int sh = 0; sh < 24; sh += 8) {
          const int64_t ca = channel(a, sh), cb = channel(b, sh);
          px |= static_cast<uint32_t>(ca + (((cb - ca) * f) >> 8)) << sh;
        }
      } else {
        const int64_t wc0 = wt.w0[u], wc1 = wt.w1[u];
        const int64_t p00 = (wr0 * wc0) >> 8, p01 = (wr0 * wc1) >> 8;
        const int64_t p10 = (wr1 * wc0) >> 8, p11 = (wr1 * wc1) >> 8;
        const int64_t den = p00 + p01 + p10 + p11;
        for (int sh = 0; sh < 24; sh += 8) {
          const int64_t num = p00 * channel(ra[j], sh) + p01 * channel(ra[j1], sh) + p10 * channel(rb[j], sh) +
                              p11 * channel(rb[j1], sh);
          px |= static_cast<uint32_t>(num / den) << sh;
        }
      }
      line[static_cast<size_t>(u)] = px;
    }
    AdjustColourRow(line.data(), fr.At(0, v), line.size(), level, width);
  }
}

// Fills the pixels of one conversion. False after reporting a work-buffer failure.
bool FillPixels(RenderContext& ctx, const PaneDisplay& pane, DicomImage& im, const DisplayGeometry& g,
                const Source& src, uint8_t* pixels, bool bits32) {
  Frame fr{&g, &pane, src, pixels, bits32 ? 4 : 1, static_cast<size_t>(g.W) * (bits32 ? 4 : 1), (g.W - g.side) >> 1,
           (g.H - g.side) >> 1};
  const bool enlarged = !pane.nearestOnly && g.w > src.columns && g.h > src.rows;
  const int32_t angle = pane.rotationAngle;

  if (im.isColour) {
    const ColourReader reader = ColourReader::Of(im);
    const int32_t level = im.level, width = im.width;
    if (!enlarged) {
      // One loop per source layout and arithmetic width, chosen once per conversion.
      // Unrotated rows are gathered in bitmap order and adjusted together.
      std::vector<uint32_t> line;
      const bool reversed = pane.flipHorizontal != 0;
      auto reduce = [&](auto readRgb, auto intTag) {
        using Int = decltype(intTag);
        ReducedPass(
            fr, angle,
            [&](uint8_t* out, size_t i) {
              int r, gr, b;
              readRgb(i, r, gr, b);
              uint8_t rgb[3];
              AdjustColourT<Int>(r, gr, b, Int(level), Int(width), rgb);
              Store32(out, Bgrx(rgb[0], rgb[1], rgb[2]));
            },
            [&](uint8_t* row, const ColumnPairs& cols, size_t base) {
              const size_t count = cols.size();
              if (count == 0) return;
              line.resize(count);
              for (size_t k = 0; k < count; ++k) {
                int r, gr, b;
                readRgb(base + cols[reversed ? count - 1 - k : k].second, r, gr, b);
                line[k] = Bgrx(r, gr, b);
              }
              AdjustColourRow(line.data(), row + cols[reversed ? count - 1 : 0].first, count, level, width);
            });
      };
      auto interleaved = [&](size_t i, int& r, int& gr, int& b) {
        const uint8_t* p = src.data + i * 3;
        r = p[0], gr = p[1], b = p[2];
      };
      auto planar = [&](size_t i, int& r, int& gr, int& b) {
        r = src.data[i], gr = src.data[src.plane + i], b = src.data[2 * src.plane + i];
      };
      auto lookup = [&](size_t i, int& r, int& gr, int& b) {
        const uint32_t c = reader.Read(src, i);
        r = int((c >> 16) & 0xFF), gr = int((c >> 8) & 0xFF), b = int(c & 0xFF);
      };
      const bool narrow = ColourFitsInt64(level, width);
      switch (reader.kind) {
        case ColourReader::kInterleaved:
          narrow ? reduce(interleaved, int64_t{}) : reduce(interleaved, __int128{});
          break;
        case ColourReader::kPlanar:
          narrow ? reduce(planar, int64_t{}) : reduce(planar, __int128{});
          break;
        case ColourReader::kPalette:
          narrow ? reduce(lookup, int64_t{}) : reduce(lookup, __int128{});
          break;
      }
      return true;
    }
    const int32_t n = std::max(src.rows, src.columns);
    const uint64_t rotBytes = uint64_t(n) * uint64_t(n) * 4;
    if (!Grow(ctx.rotationBuffer, rotBytes)) {
      ReportAllocation(ctx, SJ("拡大時の回転用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"), rotBytes);
      return false;
    }
    uint32_t* buf = reinterpret_cast<uint32_t*>(ctx.rotationBuffer.data());
    FillRotationBuffer<uint32_t>(buf, n, src, pane, 0u, [&](size_t i) { return reader.Read(src, i); });
    if (pane.interpolation == Interpolation::kBicubic) {
      BicubicColour(fr, buf, n, level, width);
      return true;
    }
    const uint64_t tmpBytes = uint64_t(n) * uint64_t(g.side) * 4;
    if (!Grow(ctx.interpolationBuffer, tmpBytes)) {
      ReportAllocation(ctx, SJ("拡大表示用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"), tmpBytes);
      return false;
    }
    const int32_t mx = (n - src.columns) / 2, my = (n - src.rows) / 2;
    const int32_t ax0 = pane.flipHorizontal ? n - mx - src.columns : mx;
    const int32_t ay0 = pane.flipVertical ? n - my - src.rows : my;
    BilinearColour(fr, buf, n, reinterpret_cast<uint32_t*>(ctx.interpolationBuffer.data()), ax0, ax0 + src.columns,
                   ay0, ay0 + src.rows, level, width);
    return true;
  }

  // Grey images: a table from the 16-bit sample word (or the byte) to the bitmap
  // pixel, built once per conversion from the per-sample rules.
  const SampleFormat format = SampleFormat::Of(im);
  const WindowMapping mapping = WindowMapping::Of(im);
  const VoiTable voi = VoiTable::Of(im);
  const auto& palette = ctx.tables.colourPalette;
  // keyIsStored: the key is the sample as stored in memory; else the value word.
  auto buildTable = [&](auto& table, size_t count, bool keyIsStored) {
    table.resize(count);
    for (size_t k = 0; k < count; ++k) {
      const uint16_t word = keyIsStored ? format.ValueWord(static_cast<uint16_t>(k)) : static_cast<uint16_t>(k);
      const int32_t v = format.Value(word);
      if constexpr (sizeof(table[0]) == 1)
        table[k] = voi.Apply(mapping.Index(v));
      else
        table[k] = PaletteBlend(mapping.X(v), palette);
    }
  };
  std::vector<uint8_t> table8;
  std::vector<uint32_t> table32;
  const size_t storedKeys = format.twoBytes ? 65536 : 256;

  if (!enlarged) {
    if (!bits32) {
      buildTable(table8, storedKeys, true);
      const uint8_t* t = table8.data();
      if (format.twoBytes)
        ReducedPass(fr, angle, [&](uint8_t* out, size_t i) { *out = t[Load16(src.data + i * 2)]; });
      else
        ReducedPass(fr, angle, [&](uint8_t* out, size_t i) { *out = t[src.data[i]]; });
    } else {
      buildTable(table32, storedKeys, true);
      const uint32_t* t = table32.data();
      if (format.twoBytes)
        ReducedPass(fr, angle, [&](uint8_t* out, size_t i) { Store32(out, t[Load16(src.data + i * 2)]); });
      else
        ReducedPass(fr, angle, [&](uint8_t* out, size_t i) { Store32(out, t[src.data[i]]); });
    }
    return true;
  }

  const int32_t n = std::max(src.rows, src.columns);
  const uint64_t rotBytes = uint64_t(n) * uint64_t(n) * 2;
  if (!Grow(ctx.rotationBuffer, rotBytes)) {
    ReportAllocation(ctx, SJ("拡大時の回転用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"), rotBytes);
    return false;
  }
  uint16_t* buf = reinterpret_cast<uint16_t*>(ctx.rotationBuffer.data());
  const uint16_t background = SampleFormat::Background(im, format);
  if (format.twoBytes)
    FillRotationBuffer<uint16_t>(buf, n, src, pane, background,
                                 [&](size_t i) { return format.ValueWord(Load16(src.data + i * 2)); });
  else
    FillRotationBuffer<uint16_t>(buf, n, src, pane, background, [&](size_t i) { return format.ValueWord(src.data[i]); });
  if (!bits32)
    buildTable(table8, 65536, false);
  else
    buildTable(table32, 65536, false);
  const uint8_t* t8 = table8.data();
  const uint32_t* t32 = table32.data();
  auto put8 = [t8](uint8_t* out, uint16_t word) { *out = t8[word]; };
  auto put32 = [t32](uint8_t* out, uint16_t word) { Store32(out, t32[word]); };
  if (pane.interpolation == Interpolation::kBicubic) {
    if (!bits32)
      BicubicGrey(fr, buf, n, format.unsignedValues, put8);
    else
      BicubicGrey(fr, buf, n, format.unsignedValues, put32);
    return true;
  }
  const uint64_t tmpBytes = uint64_t(n) * uint64_t(g.side) * 2;
  if (!Grow(ctx.interpolationBuffer, tmpBytes)) {
    ReportAllocation(ctx, SJ("拡大表示用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"), tmpBytes);
    return false;
  }
  uint16_t* tmp = reinterpret_cast<uint16_t*>(ctx.interpolationBuffer.data());
  if (!bits32)
    BilinearGrey(fr, buf, n, tmp, format.unsignedValues, put8);
  else
    BilinearGrey(fr, buf, n, tmp, format.unsignedValues, put32);
  return true;
}

}  // namespace

bool RenderContext::AllocateWorkBuffers() {
  if (!Grow(rotationBuffer, kWorkBufferBytes)) {
    ReportAllocation(*this, SJ("拡大時の回転用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
                     kWorkBufferBytes);
    return false;
  }
  if (!Grow(interpolationBuffer, kWorkBufferBytes)) {
    ReportAllocation(*this, SJ("拡大表示用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
                     kWorkBufferBytes);
    return false;
  }
  return true;
}

ConvertResult ConvertToDisplay(RenderContext& ctx, PaneDisplay& pane, DicomImage& im) {
  const bool left = pane.pane != 2;
  LogLine(ctx, left ? SJ("左の画像データのDICOM→BMP変換の開始") : SJ("右の画像データのDICOM→BMP変換の開始"),
          kLogNormal, 3);

  // Geometry.
  const float previousScale = pane.displayScale;
  ComputeDisplayScale(pane, im, ctx.pitch);
  if (pane.displayScale != previousScale) UpdatePan(pane, previousScale);
  // A zoom that fitted the old canvas may not fit a larger one: it is lowered so the
  // image stays visible instead of the pane turning black.
  LimitZoomToFit(pane, im, ctx.pitch);
  const DisplayGeometry g = ComputeGeometry(pane.displayScale, pane.canvasWidth, pane.canvasHeight, im.rows,
                                            im.columns);
  if (!g.drawable) return ConvertResult::kBlank;

  // The frame's samples must all be there.
  const int32_t frame = std::clamp(pane.frame, 1, im.Frames());
  const uint64_t frameBytes = im.FrameBytes();
  if (frameBytes == 0 || im.pixelData.size() / frameBytes < static_cast<uint64_t>(frame)) return ConvertResult::kBlank;
  Source src;
  src.data = im.pixelData.data() + (static_cast<uint64_t>(frame) - 1) * frameBytes;
  src.rows = im.rows;
  src.columns = im.columns;
  src.plane = static_cast<size_t>(im.rows) * static_cast<size_t>(im.columns);

  const bool bits32 = UsesBits32(pane, im);
  const uint64_t bytes = DisplayBitmapBytes(g.W, g.H, bits32);
  if (bytes > kMaxDisplayBitmapBytes) {
    ReportRefusal(ctx, pane, bytes);
    return ConvertResult::kFailed;
  }
  if (!(g == pane.last) || im.displayBitmapPane != pane.pane || im.displayBitmap.size() < bytes ||
      BitmapU16(im.displayBitmap, 28) != (bits32 ? 32 : 8) || BitmapU32(im.displayBitmap, 18) != uint32_t(g.W) ||
      BitmapU32(im.displayBitmap, 22) != uint32_t(g.H))
    pane.needsConversion = true;

  if (pane.remapMeasurements) pane.remapMeasurements(pane.last, g);
  if (!pane.showsReformat) ComputeOrientationLabels(im, pane.flipHorizontal, pane.flipVertical, pane.labelHorizontal, pane.labelVertical);
  ClampPan(pane, g);

  if (pane.needsConversion) {
    if (!im.displayBitmap.empty() && im.displayBitmap.size() < bytes) {
      std::vector<uint8_t>().swap(im.displayBitmap);
      LogLine(ctx, SJ("画像表示用（BMP形式）のメモリを開放"), kLogNormal, 3);
    }
    if (im.displayBitmap.empty()) {
      try {
        im.displayBitmap.assign(static_cast<size_t>(bytes), 0);
      } catch (const std::exception&) {
        std::vector<uint8_t>().swap(im.displayBitmap);
        im.displayBitmapPane = 0;
        ReportRefusal(ctx, pane, bytes);
        return ConvertResult::kFailed;
      }
      LogLine(ctx, SJ("画像表示用（BMP形式）のメモリを確保"), kLogNormal, 3);
    } else {
      std::memset(im.displayBitmap.data(), 0, im.displayBitmap.size());
    }
    LogLine(ctx, pane.showsReformat ? SJ("右側の表示データのアドレスを割り当てる") : SJ("表示データのアドレスを割り当てる"),
            kLogNormal, 3);
  }

  uint8_t* b = im.displayBitmap.data();
  LogLine(ctx, SJ("BMPヘッダの生成"), kLogNormal, 3);
  WriteHeaders(b, g.W, g.H, bits32);
  const size_t pixelCount = static_cast<size_t>(g.W) * static_cast<size_t>(g.H);
  uint8_t* pixels = b + (bits32 ? 54 : 1078);
  if (pane.needsConversion && !bits32 && im.isMonochrome1) std::memset(pixels, 255, pixelCount);
  if (!bits32) {
    LogLine(ctx, SJ("BMPヘッダにLUTをセットする"), kLogNormal, 3);
    const bool white = (im.isMonochrome1 != 0) == pane.negative;
    std::memcpy(b + 54, white ? ctx.tables.boneWhite.data() : ctx.tables.boneBlack.data(), 1024);
  }
  if (!pane.needsConversion) return ConvertResult::kDrawn;

  // A failure below leaves a bitmap no pane converted.
  im.displayBitmapPane = 0;
  if (!FillPixels(ctx, pane, im, g, src, pixels, bits32)) return ConvertResult::kFailed;

  if (!bits32 && (pane.noiseRemoval || pane.sharpen)) {
    if (pane.noiseRemoval) MedianFilterInPlace(pixels, g.W, g.H);
    if (pane.sharpen) {
      std::vector<uint8_t> copy;
      try {
        copy.resize(pixelCount);
      } catch (const std::exception&) {
        ReportAllocation(ctx, SJ("鮮鋭化フィルタ用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
                         pixelCount);
        return ConvertResult::kFailed;
      }
      SharpenFilter(pixels, g.W, g.H, copy.data());
    }
  }

  pane.needsConversion = false;
  pane.refusedBitmapBytes = 0;
  pane.last = g;
  im.displayBitmapPane = pane.pane;
  LogLine(ctx, SJ("画像データのDICOM→BMP変換の終了"), kLogNormal, 3);
  return ConvertResult::kDrawn;
}

}  // namespace velmo
