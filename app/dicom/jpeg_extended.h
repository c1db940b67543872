#pragma once
// Sequential DCT JPEG (baseline or extended, Huffman coded) decoding of one frame with
// 8 or 12 bits per sample, for the 12-bit streams libjpeg-turbo cannot read. It shares
// the marker walk and Huffman reading of the lossless decoder.
#include <cstddef>
#include <cstdint>

namespace velmo {

// Decodes one sequential DCT stream (SOF0 or SOF1; one to three components, any
// sampling factors up to 4; interleaved or one scan per component; restart intervals)
// into a frame of rows x columns pixels of bytesPerPixel bytes (1: 8-bit grey, 2:
// 16-bit little endian grey, 3: R, G, B from Y, Cb, Cr, or grey in all three). Writes
// never leave the frame. False when the stream is unusable (nothing written); a stream
// that breaks off keeps the blocks decoded before the break and also returns false.
bool DecodeJpegExtended(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int bytesPerPixel);

}  // namespace velmo
