#pragma once
// RLE Lossless decoding: PackBits segments written straight into a frame with a
// stride, and the YBR_FULL to RGB conversion of decoded colour frames.
#include <cstddef>
#include <cstdint>

namespace velmo {

// The most segments an RLE header can name.
inline constexpr uint32_t kMaxRleSegments = 15;

// Decodes the PackBits runs of [src, src + srcLength) into dst[first],
// dst[first + stride], dst[first + 2 * stride], ... while those positions are below
// dstLength. Control byte c (signed): 0..127 copies the next c + 1 bytes, -1..-127
// repeats the next byte 1 - c times, -128 is skipped. Reading stops at the end of the
// source, writing at the end of the destination. Returns the number of bytes written.
size_t DecodePackBits(const uint8_t* src, size_t srcLength, uint8_t* dst, size_t dstLength, size_t first,
                      size_t stride);

// What DecodeRleFrame found in the fragment's header.
struct RleFrameResult {
  bool headerValid = false;  // 1..15 segments and a header that fits in the fragment
  uint32_t segmentCount = 0;  // the count the header names
  uint32_t segmentsRead = 0;  // offsets read (stops at the first zero offset)
  size_t bytesWritten = 0;
};

// Decodes one RLE fragment (header of a 32-bit segment count and up to 15 offsets, then
// the segments) into a zero-filled frame of frameBytes bytes. Segment k writes every
// n-th byte (n = the segment count) starting at byte k; with more than 8 bits allocated
// segments 0 and 1 swap their start bytes, so 16-bit samples come out little endian.
// Offsets outside the fragment give empty segments; a header naming 0 or more than 15
// segments decodes nothing.
RleFrameResult DecodeRleFrame(const uint8_t* fragment, size_t fragmentLength, uint8_t* frame, size_t frameBytes,
                              int bitsAllocated);

// Converts interleaved Y, Cb, Cr triplets to R, G, B in place:
// R = Y + 1.402 Cr, G = Y - 0.34414 Cb - 0.71414 Cr, B = Y + 1.772 Cb (Cb, Cr less 128),
// each truncated toward zero and clamped to 0..255.
void ConvertYbrFullToRgb(uint8_t* pixels, size_t pixelCount);

}  // namespace velmo
