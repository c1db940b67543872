#pragma once
// Splits a fuzz input into the scanner's arguments and a stream buffer of exactly
// the remaining size, so the sanitizer sees both ends of the buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace velmo::fuzz {

struct ScanInput {
  int32_t syntax = 0;
  int32_t mode = 0;
  uint8_t tag[4] = {0, 0, 0, 0};  // group high, group low, element high, element low
  std::unique_ptr<uint8_t[]> buffer;
  size_t size = 0;
};

// Byte 0 picks the encoding (callers pass 0, 1 or 2; other values must be safe too),
// byte 1 the mode, bytes 2..5 the tag; the rest is the stream.
inline bool SplitScanInput(const uint8_t* data, size_t size, ScanInput& in) {
  if (size < 6) return false;
  static const int32_t kSyntaxes[] = {0, 1, 2, 0, 1, 2, 3, -1};
  in.syntax = kSyntaxes[data[0] % 8];
  in.mode = data[1] % 3;
  std::memcpy(in.tag, data + 2, 4);
  in.size = size - 6;
  in.buffer.reset(new uint8_t[in.size ? in.size : 1]);
  if (in.size) std::memcpy(in.buffer.get(), data + 6, in.size);
  return true;
}

// The tag as it stands in the stream at p, for the byte order of `syntax`.
inline void TagAt(const uint8_t* p, int32_t syntax, uint16_t& group, uint16_t& element) {
  if (syntax == 2) {
    group = static_cast<uint16_t>(p[0] << 8 | p[1]);
    element = static_cast<uint16_t>(p[2] << 8 | p[3]);
  } else {
    group = static_cast<uint16_t>(p[1] << 8 | p[0]);
    element = static_cast<uint16_t>(p[3] << 8 | p[2]);
  }
}

// The frame decoders' shared harness: byte 0 and 1 pick the frame size (pictures
// larger and smaller than the frame are both tried) and the output layout (1 to 3
// bytes per pixel); the rest is the stream, in a buffer of exactly its size. The frame
// has exactly its size too, so the sanitizer catches a write past either.
template <class Decode>
int FuzzFrameDecoder(const uint8_t* data, size_t size, Decode decode) {
  if (size < 2) return 0;
  const int rows = 1 + data[0] % 64;
  const int columns = 1 + (data[0] / 64) * 17 + data[1] % 16;
  const int bytesPerPixel = 1 + (data[1] / 16) % 3;
  const size_t length = size - 2;
  std::unique_ptr<uint8_t[]> stream(new uint8_t[length ? length : 1]);
  if (length) std::memcpy(stream.get(), data + 2, length);
  const size_t frameBytes = static_cast<size_t>(rows) * columns * bytesPerPixel;
  std::unique_ptr<uint8_t[]> frame(new uint8_t[frameBytes]);
  decode(stream.get(), length, frame.get(), rows, columns, bytesPerPixel);
  return 0;
}

}  // namespace velmo::fuzz
