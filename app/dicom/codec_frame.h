#pragma once
// What the library decoders share: the size check of a decoded picture against the
// frame it fills, and the copy of decoded samples into the frame in the layout the
// rendering reads (grey in the stored sample size, colour as interleaved 8-bit R, G, B).
#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace velmo {

// A decoded picture far larger than the frame it fills is damaged (or hostile): it is
// refused before the codec allocates for it.
inline bool PlausibleDecodedSize(uint64_t width, uint64_t height, uint64_t components, int rows, int columns) {
  const uint64_t room = static_cast<uint64_t>(rows > 0 ? rows : 0) * static_cast<uint64_t>(columns > 0 ? columns : 0);
  return width > 0 && height > 0 && components > 0 && components <= 4 &&
         width * height <= std::max<uint64_t>(4 * room, 1u << 20);
}

// Writes the part of a width x height picture that overlaps rows x columns into frame
// (bytesPerPixel 1: the low 8 bits of component 0; 2: component 0 as 16-bit little
// endian; 3: R, G, B from components 0, 1, 2, keeping the top 8 of `precision` bits, or
// grey in all three for a one-component picture). sample(c, x, y) gives a decoded value.
template <typename SampleAt>
void WriteDecodedFrame(int width, int height, int components, int precision, SampleAt sample, uint8_t* frame,
                       int rows, int columns, int bytesPerPixel) {
  const int outRows = std::min(rows, height);
  const int outColumns = std::min(columns, width);
  const int shift = std::clamp(precision - 8, 0, 24);
  for (int y = 0; y < outRows; ++y) {
    uint8_t* out = frame + static_cast<size_t>(y) * columns * bytesPerPixel;
    if (bytesPerPixel == 1) {
      for (int x = 0; x < outColumns; ++x) out[x] = static_cast<uint8_t>(sample(0, x, y));
    } else if (bytesPerPixel == 2) {
      for (int x = 0; x < outColumns; ++x) {
        const uint32_t v = static_cast<uint32_t>(sample(0, x, y));
        out[2 * x] = static_cast<uint8_t>(v);
        out[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
    } else {
      const int g = components >= 3 ? 1 : 0, b = components >= 3 ? 2 : 0;
      for (int x = 0; x < outColumns; ++x) {
        out[3 * x] = static_cast<uint8_t>(static_cast<uint32_t>(sample(0, x, y)) >> shift);
        out[3 * x + 1] = static_cast<uint8_t>(static_cast<uint32_t>(sample(g, x, y)) >> shift);
        out[3 * x + 2] = static_cast<uint8_t>(static_cast<uint32_t>(sample(b, x, y)) >> shift);
      }
    }
  }
}

}  // namespace velmo
