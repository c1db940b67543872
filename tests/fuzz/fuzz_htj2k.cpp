// HTJ2K decoding of arbitrary streams into a frame through the helper process, as the
// pixel stage does it (velmo-htj2k beside this target, or VELMO_HTJ2K_HELPER): whatever
// the helper meets, this process must neither crash nor write outside the frame.
#include <cstddef>
#include <cstdint>

#include "dicom/htj2k_child.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return velmo::fuzz::FuzzFrameDecoder(data, size, [](const uint8_t* stream, size_t length, uint8_t* frame, int rows,
                                                      int columns, int bytesPerPixel) {
    velmo::DecodeJpeg2000InChild(stream, length, frame, rows, columns, bytesPerPixel);
  });
}
