#pragma once
// JPEG-LS (lossless and near-lossless) decoding of one frame through CharLS.
#include <cstddef>
#include <cstdint>

namespace velmo {

// Decodes one JPEG-LS stream into a frame of rows x columns pixels of bytesPerPixel
// bytes (1: 8-bit grey, 2: 16-bit little endian grey, 3: R, G, B), written as
// WriteDecodedFrame does. False, with nothing written, when the stream cannot be
// decoded or is implausibly larger than the frame.
bool DecodeJpegLs(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int bytesPerPixel);

}  // namespace velmo
