#pragma once
// High-throughput JPEG 2000 (HTJ2K) decoding of one frame through OpenJPH.
#include <cstddef>
#include <cstdint>

namespace velmo {

// Decodes one HTJ2K codestream into a frame as DecodeJpeg2000 does (same layouts, same
// refusals). False, with nothing written, when OpenJPH cannot decode it.
bool DecodeHtj2k(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int bytesPerPixel);

}  // namespace velmo
