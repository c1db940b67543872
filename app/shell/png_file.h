#pragma once
// PNG files of 8-bit grey or RGB pictures, through libpng.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo {

// Writes `height` rows of `width` pixels, `channels` bytes each (1: grey, 3: RGB),
// rows `stride` bytes apart, to `path`. `level` is the zlib level (0-9). With
// `quick`, every row uses the Sub filter instead of the best of the five, which
// makes writing several times faster for a slightly larger file. False when the file
// cannot be written completely.
bool WritePngFile(const std::string& path, const uint8_t* pixels, int width, int height, int channels, size_t stride,
                  int level, bool quick = false);

}  // namespace velmo
