// The lossless JPEG decoder on arbitrary streams. Byte 0 and 1 pick the frame size it
// fills (so streams larger and smaller than the frame are both tried) and the output
// layout; the rest is the stream, in a buffer of exactly its size. The frame is
// allocated to its exact size so the sanitizer catches any write past it.
#include <cstdint>
#include <cstring>
#include <memory>

#include "dicom/jpeg_lossless.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int rows = 1 + data[0] % 64;
  const int columns = 1 + (data[0] / 64) * 17 + data[1] % 16;
  const int bytesPerPixel = 1 + (data[1] / 16) % 3;
  const size_t length = size - 2;
  std::unique_ptr<uint8_t[]> stream(new uint8_t[length ? length : 1]);
  if (length) std::memcpy(stream.get(), data + 2, length);
  const size_t frameBytes = static_cast<size_t>(rows) * columns * bytesPerPixel;
  std::unique_ptr<uint8_t[]> frame(new uint8_t[frameBytes]);
  velmo::DecodeJpegLossless(stream.get(), length, frame.get(), rows, columns, bytesPerPixel);
  velmo::JpegFrameHeader header;
  velmo::ReadJpegFrameHeader(stream.get(), length, &header);
  return 0;
}
