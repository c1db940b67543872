#include "render/filters.h"

#include <cstring>

namespace velmo {

namespace {

inline int Min(int a, int b) { return a < b ? a : b; }
inline int Max(int a, int b) { return a < b ? b : a; }
inline int Median3(int a, int b, int c) { return Max(Min(a, b), Min(Max(a, b), c)); }

}  // namespace

// The median of nine is the median of (largest column minimum, median of column
// medians, smallest column maximum) over the three sorted columns. The upper and
// lower pixels of a column never change while a row is filtered, so each column keeps
// them as a sorted pair and only the middle pixel, which the previous step may have
// just written, is merged in. Branch-free, so noisy pictures cost the same.
void MedianFilterInPlace(uint8_t* pixels, int32_t W, int32_t H) {
  if (W < 3 || H < 3) return;
  const size_t stride = static_cast<size_t>(W);
  for (int32_t r = 1; r < H - 1; ++r) {
    const uint8_t* up = pixels + (r - 1) * stride;
    uint8_t* row = pixels + r * stride;
    const uint8_t* down = pixels + (r + 1) * stride;
    // Column c - 1 as a sorted pair plus its middle; column c sorted.
    int leftLo = Min(up[0], down[0]), leftHi = Max(up[0], down[0]);
    int midLo, midMid, midHi;
    {
      const int pl = Min(up[1], down[1]), ph = Max(up[1], down[1]), m = row[1];
      midLo = Min(pl, m), midHi = Max(ph, m), midMid = Max(pl, Min(ph, m));
    }
    int prev = row[0];
    for (int32_t c = 1; c < W - 1; ++c) {
      const int pl = Min(up[c + 1], down[c + 1]), ph = Max(up[c + 1], down[c + 1]), m = row[c + 1];
      const int rightLo = Min(pl, m), rightHi = Max(ph, m), rightMid = Max(pl, Min(ph, m));
      const int lLo = Min(leftLo, prev), lHi = Max(leftHi, prev), lMid = Max(leftLo, Min(leftHi, prev));
      const int maxLo = Max(lLo, Max(midLo, rightLo));
      const int minHi = Min(lHi, Min(midHi, rightHi));
      const int medMid = Median3(lMid, midMid, rightMid);
      const int out = Median3(maxLo, medMid, minHi);
      row[c] = static_cast<uint8_t>(out);
      prev = out;
      leftLo = Min(up[c], down[c]);
      leftHi = Max(up[c], down[c]);
      midLo = rightLo, midMid = rightMid, midHi = rightHi;
    }
  }
}

void SharpenFilter(uint8_t* pixels, int32_t W, int32_t H, uint8_t* scratch) {
  if (W < 3 || H < 3) return;
  const size_t stride = static_cast<size_t>(W);
  std::memcpy(scratch, pixels, stride * static_cast<size_t>(H));
  for (int32_t r = 1; r < H - 1; ++r) {
    const uint8_t* up = scratch + (r - 1) * stride;
    const uint8_t* row = scratch + r * stride;
    const uint8_t* down = scratch + (r + 1) * stride;
    uint8_t* out = pixels + r * stride;
    for (int32_t c = 1; c < W - 1; ++c) {
      const int v = 5 * row[c] - up[c] - down[c] - row[c - 1] - row[c + 1];
      out[c] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
}

}  // namespace velmo
