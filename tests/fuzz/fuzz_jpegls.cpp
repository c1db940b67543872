// JPEG-LS decoding (CharLS) of arbitrary streams into a frame, through the shared frame-decoder harness.
#include <cstddef>
#include <cstdint>

#include "dicom/jpegls_decode.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return velmo::fuzz::FuzzFrameDecoder(data, size, [](const uint8_t* stream, size_t length, uint8_t* frame, int rows,
                                                      int columns, int bytesPerPixel) {
    velmo::DecodeJpegLs(stream, length, frame, rows, columns, bytesPerPixel);
  });
}
