#pragma once
// Lossless JPEG (Huffman-coded, predictive: SOF3) decoding of one frame. The marker
// walk and the Huffman tables are kept apart from the prediction so that other
// Huffman-coded JPEG processes can reuse them.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmo {

// One Huffman table as the DHT segment defines it, with a lookup of short codes.
class HuffmanTable {
 public:
  static constexpr int kFastBits = 9;
  // Builds from the 16 code counts and the symbols. False when the counts name more
  // symbols than given or more codes than fit in 16 bits.
  bool Build(const uint8_t counts[16], const uint8_t* symbols, size_t symbolCount);
  bool defined() const { return defined_; }

  // Short codes: fast_[next kFastBits bits] = length << 8 | symbol, or 0 when longer.
  uint16_t fast_[1 << kFastBits] = {};
  int32_t maxCode_[18] = {};  // largest code of each length, -1 when none
  int32_t valPtr_[17] = {};   // index of the first symbol of each length, less its code
  uint8_t symbols_[256] = {};
  bool defined_ = false;
};

// Reads entropy-coded bits, removing stuffed zero bytes; a marker ends the data (the
// reader then supplies zero bits and remembers that it ran out).
class JpegBitReader {
 public:
  JpegBitReader(const uint8_t* begin, const uint8_t* end) : pos_(begin), end_(end) {}
  // Next Huffman symbol, or -1 for a code no table entry matches.
  int Decode(const HuffmanTable& table);
  // n (0..16) raw bits.
  uint32_t Bits(int n);
  // Drops the bits left in the current byte and reads the restart marker that should
  // follow (skipping any fill bytes). False when none is found.
  bool Restart();
  // True when the data ran out (a marker or the end came before the bits needed).
  bool exhausted() const { return exhausted_; }
  const uint8_t* position() const { return pos_; }

 private:
  void Fill();
  const uint8_t* pos_;
  const uint8_t* end_;
  uint64_t buffer_ = 0;  // bits at the top
  int count_ = 0;
  int zeroBits_ = 0;  // zero bits supplied past the end of the data
  bool exhausted_ = false;
};

enum class LosslessStatus {
  kOk,         // decoded
  kPartial,    // the data ended or broke off early: what was decoded is kept
  kBadStream,  // no usable frame or scan header: nothing written
  kUnsupported,  // a JPEG process or layout this decoder does not handle: nothing written
};

// The frame header (SOF) of a JPEG stream.
struct JpegFrameHeader {
  int marker = 0;      // 0xC0..0xCF
  int precision = 0;   // bits per sample
  int width = 0;
  int height = 0;
  int components = 0;  // 1..4
  uint8_t ids[4] = {};
  uint8_t sampling[4] = {};  // H << 4 | V
};

// Walks the marker segments of a JPEG stream. Every segment lies inside the data.
class JpegMarkerWalker {
 public:
  JpegMarkerWalker(const uint8_t* data, size_t length) : pos_(data), end_(data + length) {}

  bool StartOfImage() {
    if (end_ - pos_ < 2 || pos_[0] != 0xFF || pos_[1] != 0xD8) return false;
    pos_ += 2;
    return true;
  }

  // The next marker and, for markers with a length, its segment. 0 at the end of the
  // data or at a segment whose length does not fit.
  int Next(const uint8_t** segment, size_t* segmentLength) {
    while (pos_ < end_) {
      while (pos_ < end_ && *pos_ != 0xFF) ++pos_;
      while (pos_ < end_ && *pos_ == 0xFF) ++pos_;
      if (pos_ >= end_) return 0;
      const int marker = *pos_++;
      if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
      if (marker == 0xD8 || marker == 0xD9) {
        *segment = pos_;
        *segmentLength = 0;
        return marker;
      }
      if (end_ - pos_ < 2) return 0;
      const size_t length = static_cast<size_t>(pos_[0]) << 8 | pos_[1];
      if (length < 2 || length > static_cast<size_t>(end_ - pos_)) return 0;
      *segment = pos_ + 2;
      *segmentLength = length - 2;
      pos_ += length;
      return marker;
    }
    return 0;
  }

  const uint8_t* position() const { return pos_; }
  const uint8_t* end() const { return end_; }
  void MoveTo(const uint8_t* p) { pos_ = p; }

 private:
  const uint8_t* pos_;
  const uint8_t* end_;
};

inline bool IsJpegFrameMarker(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

inline bool ParseJpegFrameHeader(int marker, const uint8_t* s, size_t n, JpegFrameHeader* h) {
  if (n < 6) return false;
  h->marker = marker;
  h->precision = s[0];
  h->height = s[1] << 8 | s[2];
  h->width = s[3] << 8 | s[4];
  h->components = s[5];
  if (h->components < 1 || h->components > 4 || n < 6 + 3u * h->components) return false;
  for (int c = 0; c < h->components; ++c) {
    h->ids[c] = s[6 + 3 * c];
    h->sampling[c] = s[7 + 3 * c];
  }
  return true;
}

// Extends the `bits`-bit magnitude v of a difference category to its signed value.
inline int ExtendJpegDifference(uint32_t v, int bits) {
  return v < (1u << (bits - 1)) ? static_cast<int>(v) - (1 << bits) + 1 : static_cast<int>(v);
}

// Reads the frame header of the stream; false when there is none before the first scan.
bool ReadJpegFrameHeader(const uint8_t* data, size_t length, JpegFrameHeader* header);

// Decodes one lossless JPEG stream (SOF3: predictors 1..7, 2 to 16 bits, point
// transform, restart intervals, interleaved or one scan per component, one to four
// components without subsampling) into a frame of rows x columns pixels of
// `bytesPerPixel` bytes:
//  1: 8-bit grey (the low 8 bits of each sample),
//  2: 16-bit little endian grey,
//  3: R, G, B from components 0, 1, 2 (samples wider than 8 bits keep their top 8;
//     a one-component stream gives grey in all three).
// A grey frame from a colour stream takes component 0. The stream is decoded at its own
// size and the part that overlaps rows x columns is written; the rest of the frame stays
// as it is. Writes never leave the frame, reads never leave [data, data + length).
LosslessStatus DecodeJpegLossless(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns,
                                  int bytesPerPixel);

}  // namespace velmo
