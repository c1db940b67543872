// HTJ2K decoding of arbitrary streams into a frame through the helper process, as the
// pixel stage does it (velmo-htj2k beside this target, or VELMO_HTJ2K_HELPER): whatever
// the helper meets, this process must neither crash nor write outside the frame. The
// helper's own code is not instrumented here, so each outcome takes a branch of its
// own: streams that reach a new outcome are kept in the corpus.
#include <cstddef>
#include <cstdint>

#include "dicom/htj2k_child.h"
#include "fuzz_input.h"

namespace {
volatile int gOutcomes[8];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return velmo::fuzz::FuzzFrameDecoder(data, size, [](const uint8_t* stream, size_t length, uint8_t* frame, int rows,
                                                      int columns, int bytesPerPixel) {
    switch (velmo::DecodeJpeg2000InChild(stream, length, frame, rows, columns, bytesPerPixel)) {
      case velmo::ChildDecodeStatus::kOk: gOutcomes[0] = gOutcomes[0] + 1; break;
      case velmo::ChildDecodeStatus::kNoHelper: gOutcomes[1] = gOutcomes[1] + 1; break;
      case velmo::ChildDecodeStatus::kFailed: gOutcomes[2] = gOutcomes[2] + 1; break;
      case velmo::ChildDecodeStatus::kCrashed: gOutcomes[3] = gOutcomes[3] + 1; break;
      case velmo::ChildDecodeStatus::kTimedOut: gOutcomes[4] = gOutcomes[4] + 1; break;
      case velmo::ChildDecodeStatus::kBadOutput: gOutcomes[5] = gOutcomes[5] + 1; break;
      case velmo::ChildDecodeStatus::kPipeFailed: gOutcomes[6] = gOutcomes[6] + 1; break;
    }
  });
}
