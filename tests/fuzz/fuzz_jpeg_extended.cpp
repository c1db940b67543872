// 12-bit JPEG extended decoding (our own) of arbitrary streams into a frame, through the shared frame-decoder harness.
#include <cstddef>
#include <cstdint>

#include "dicom/jpeg_extended.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return velmo::fuzz::FuzzFrameDecoder(data, size, [](const uint8_t* stream, size_t length, uint8_t* frame, int rows,
                                                      int columns, int bytesPerPixel) {
    velmo::DecodeJpegExtended(stream, length, frame, rows, columns, bytesPerPixel);
  });
}
