#pragma once
// JPEG 2000 decoding of one frame through OpenJPEG: part 1 codestreams (lossless and
// lossy) and high-throughput (HTJ2K) codestreams, bare or in a JP2 file.
#include <cstddef>
#include <cstdint>

namespace velmo {

// Decodes one JPEG 2000 codestream into a frame of rows x columns pixels of
// bytesPerPixel bytes (1: 8-bit grey, 2: 16-bit little endian grey, signed values as
// their two's complement, 3: R, G, B; a multi-component transform (YBR_RCT/YBR_ICT) is
// undone by the codec, so colour arrives as R, G, B). `threads` threads decode code
// blocks (0: all cores for streams of 64 KiB or more, else one). False, with nothing written, when the stream cannot be decoded, its
// components are subsampled, or it is implausibly larger than the frame. Streams that
// use high-throughput coding are refused here (see below).
bool DecodeJpeg2000(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int bytesPerPixel,
                    int threads = 0);

// Whether a JPEG 2000 codestream (bare, or the contiguous codestream box of a JP2
// file) asks for high-throughput block coding anywhere: the HT bit of Rsiz in SIZ, a
// CAP marker, or the HT code-block style in a COD or COC segment of the main header
// or of any tile-part header. The HT decoders Debian ships stop the whole process on
// some damaged HT streams (assertions), so such streams are only ever decoded in the
// helper process (htj2k_child.h).
// A header that cannot be walked to its end counts as HT as well.
bool UsesHighThroughputCoding(const uint8_t* data, size_t length);

// DecodeJpeg2000 without the HT refusal: for the helper process only (see
// htj2k_child.h), where a decoder that stops takes nothing else with it.
bool DecodeJpeg2000AnyCoding(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns,
                             int bytesPerPixel, int threads = 0);

}  // namespace velmo
