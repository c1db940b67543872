#include "measure/mip.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "base/numbers.h"
#include "render/geometry.h"

namespace velmo {

int32_t UpperThreshold(std::string_view text) { return text.empty() ? 65535 : ParseInt(text); }
int32_t LowerThreshold(std::string_view text) { return text.empty() ? -65535 : ParseInt(text); }

void ResetMipSlab(MprState& state) {
  state.mipX1 = 30;
  state.mipX2 = state.columns - 30;
  state.mipY1 = state.rows >> 2;
  state.mipY2 = 3 * (state.rows >> 2);
  state.mipDirection = 1;
  state.mipDragLine = 0;
  state.mipDragging = false;
}

namespace {

// One plane of an unrotated grey volume: the entries take the largest sample strictly
// between the thresholds (a sample outside them leaves the entry as it is).
template <bool Signed>
void ProjectPlane(const uint16_t* base, int32_t C, int32_t x1, int32_t x2, int32_t y1, int32_t y2, int dir,
                  int32_t lower, int32_t upper, int32_t* row) {
  constexpr int32_t kNone = INT32_MIN;
  for (int32_t y = y1; y < y2; ++y) {
    const uint16_t* line = base + uint64_t(y) * uint64_t(C);
    if (dir == 1) {
      for (int32_t x = x1; x < x2; ++x) {
        const int32_t v = Signed ? int32_t(int16_t(line[x])) : int32_t(line[x]);
        const int32_t c = (v > lower && v < upper) ? v : kNone;
        row[x] = std::max(row[x], c);
      }
    } else {
      int32_t m = row[y];
      for (int32_t x = x1; x < x2; ++x) {
        const int32_t v = Signed ? int32_t(int16_t(line[x])) : int32_t(line[x]);
        const int32_t c = (v > lower && v < upper) ? v : kNone;
        m = std::max(m, c);
      }
      row[y] = m;
    }
  }
}

}  // namespace

void ProjectMip(MprState& state, int32_t lower, int32_t upper, int32_t rotationAngle) {
  const int32_t R = state.rows, C = state.columns, P = state.planes, W = state.outputWidth;
  const int32_t ch = state.channels;
  const int32_t B = state.BytesPerPixel();
  const uint64_t plane = state.PlaneSamples();
  const uint64_t need = uint64_t(W) * uint64_t(P) * uint64_t(B);
  if (P <= 0 || R <= 0 || C <= 0 || state.volume.size() < plane * uint64_t(P)) return;
  if (state.output.size() != need) state.output.assign(static_cast<size_t>(need), 0);
  int32_t lo = 0, hi = 0;
  SampleRange(state, &lo, &hi);
  // The starting value of every entry: -2000 for signed data (as far as the samples
  // reach), else 0.
  const int32_t initial = state.isSigned ? std::max(-2000, lo) : 0;
  std::vector<int32_t> row(static_cast<size_t>(W) * ch);
  const int32_t x1 = std::max(state.mipX1, 0), x2 = std::min(state.mipX2, C);
  const int32_t y1 = std::max(state.mipY1, 0), y2 = std::min(state.mipY2, R);
  const bool rotated = rotationAngle % 360 != 0;
  const RotationConstants rc = MakeRotationConstants(rotationAngle);
  const int32_t cx = C / 2, cy = R / 2;
  const int32_t dir = state.mipDirection == 2 ? 2 : 1;
  for (int32_t d = 0; d < P; ++d) {
    std::fill(row.begin(), row.end(), initial);
    const uint16_t* base = state.volume.data() + uint64_t(d) * plane;
    if (!rotated && ch == 1) {
      if (state.isSigned)
        ProjectPlane<true>(base, C, x1, x2, y1, y2, dir, lower, upper, row.data());
      else
        ProjectPlane<false>(base, C, x1, x2, y1, y2, dir, lower, upper, row.data());
    }
    for (int32_t y = (!rotated && ch == 1) ? y2 : y1; y < y2; ++y) {
      for (int32_t x = x1; x < x2; ++x) {
        int32_t sx = x, sy = y;
        if (rotated) {
          const int64_t dx = x - cx, dy = y - cy;
          sx = static_cast<int32_t>(((dx * rc.c - dy * rc.s) >> 10) + cx);
          sy = static_cast<int32_t>(((dx * rc.s + dy * rc.c) >> 10) + cy);
          if (sx < 0 || sx >= C || sy < 0 || sy >= R) continue;
        }
        const uint16_t* px = base + (uint64_t(sy) * uint64_t(C) + uint64_t(sx)) * ch;
        int32_t* entry = row.data() + uint64_t(dir == 1 ? x : y) * ch;
        for (int32_t c = 0; c < ch; ++c) {
          const int32_t v = VolumeValue(state, px[c]);
          if (v > entry[c] && v > lower && v < upper) entry[c] = v;
        }
      }
    }
    uint8_t* o = state.output.data() + uint64_t(d) * uint64_t(W) * uint64_t(B);
    for (int32_t i = 0; i < W; ++i)
      for (int32_t c = 0; c < ch; ++c)
        StoreSample(state, o + uint64_t(i) * B + c * state.bytesPerSample,
                    static_cast<uint16_t>(std::clamp(row[size_t(i) * ch + c], lo, hi)));
  }
}

}  // namespace velmo
