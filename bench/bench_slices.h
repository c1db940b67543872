#pragma once
// Test pictures shared by the benchmarks.
#include <cmath>
#include <cstdint>
#include <vector>

namespace velmo::bench {

// A 512 x 512 CT-like slice of stored values (12 bits used): air (0) outside a disc,
// noisy tissue inside.
inline std::vector<uint16_t> CtSliceSamples() {
  constexpr int kSide = 512;
  std::vector<uint16_t> out(kSide * kSide, 0);
  uint32_t seed = 12345;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const double dx = x - 256.0, dy = y - 256.0;
      if (dx * dx + dy * dy > 230.0 * 230.0) continue;
      seed = seed * 1103515245u + 12345u;
      out[y * kSide + x] = static_cast<uint16_t>(1000 + 40 * std::sin(x / 20.0) + ((seed >> 16) % 60));
    }
  return out;
}

}  // namespace velmo::bench
