// The bundled sample study: a CT-like phantom series, one colour image and one
// multi-frame image of the same patient, written as DICOM files.
#pragma once

#include <string>

namespace velmo_sample {

constexpr int kCtSlices = 40;
constexpr int kCtSize = 512;
constexpr int kColourSize = 256;
constexpr int kCineFrames = 10;
constexpr int kCineSize = 128;

// Writes every file of the sample study into `outdir`, creating the folder when
// needed. Returns false with a reason in `error` on the first failure.
bool WriteSampleStudy(const std::string& outdir, std::string* error);

}  // namespace velmo_sample
