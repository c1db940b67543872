// JPEG 2000 decoding (OpenJPEG) of arbitrary streams into a frame, through the shared frame-decoder harness.
#include <cstddef>
#include <cstdint>

#include "dicom/j2k_decode.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return velmo::fuzz::FuzzFrameDecoder(data, size, [](const uint8_t* stream, size_t length, uint8_t* frame, int rows,
                                                      int columns, int bytesPerPixel) {
    velmo::DecodeJpeg2000(stream, length, frame, rows, columns, bytesPerPixel);
  });
}
