#pragma once
// What a file's transfer syntax says: the encoding of its data set (SyntaxType), the
// name the log gives it, whether it is a compressed format Velmo cannot decode, and
// how the pixel stage decodes it. The file loader, the list entry reader, the
// DICOMDIR reader and the pixel stage all ask here, so they never disagree.
#include <cstdint>
#include <string_view>

namespace velmo {

// How the pixel stage turns the pixel data element into frames.
enum class PixelPath { kNative, kJpeg, kRle, kJpegLossless, kJpegExtended, kJpegLs, kJpeg2000, kHtj2k, kUnsupported };

struct TransferSyntaxInfo {
  int16_t syntax = 0;            // SyntaxType of the data set
  const char* name = nullptr;    // "Implicit VR Little Endian", ... for the syntaxes the
                                 // loader names; nullptr for any other UID
  int unsupportedMarks = 0;      // how many of the two compressed-format tests fail (0..2)
  PixelPath path = PixelPath::kNative;
  bool deflated = false;         // the data set after the meta group is deflate-compressed
};

inline constexpr const char* kDeflatedExplicitLittle = "1.2.840.10008.1.2.1.99";

// Classifies a (0002,0010) value as stored (at most 64 bytes; trailing NUL padding
// counts for the compressed-format tests, which look at characters 20 and 21 of the
// stored value, but not for the comparisons of the UID text).
// - Named syntaxes, by their leading characters: "1.2.840.10008.1.2" (whole text)
//   implicit; "1.2.840.10008.1.2.1" explicit little endian; "1.2.840.10008.1.2.2"
//   explicit big endian; "1.2.840.10008.1.2.4.50" JPEG baseline; "1.2.840.10008.1.2.5"
//   RLE lossless (both explicit little endian).
// - Compressed syntaxes Velmo decodes: JPEG lossless "1.2.840.10008.1.2.4.57" and
//   "1.2.840.10008.1.2.4.70" (own decoder), JPEG extended ".51" (libjpeg-turbo for 8
//   bits, own decoder for 12), JPEG-LS ".80", ".81" (CharLS), JPEG 2000
//   ".90", ".91" (OpenJPEG) and HTJ2K ".201", ".202", ".203" (decoded in a helper
//   process, as are HT streams under ".90"/".91"), deflated explicit little endian
//   "1.2.840.10008.1.2.1.99" (inflated by the readers, then native). None of them is
//   warned about.
// - A stored value longer than 20 bytes whose character 20 is not "5", or longer than
//   21 whose character 21 is not "0", is a compressed format other than JPEG baseline:
//   explicit little endian, frames left black by the pixel stage.
// - Any other UID: implicit little endian, native pixels.
TransferSyntaxInfo ClassifyTransferSyntax(std::string_view storedValue);

// The data set's encoding found by probing: where (0008,0018) reads with a non-zero
// length in explicit little endian (1), implicit little endian (0) or explicit big
// endian (2), tried in that order. -1 when no probe finds it. Every read stays inside
// [begin, end).
int ProbeDatasetSyntax(const uint8_t* begin, const uint8_t* end);

}  // namespace velmo
