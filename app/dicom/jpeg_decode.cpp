#include "dicom/jpeg_decode.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace velmo {

namespace {

// A JPEG larger than its frame is decoded whole into a scratch buffer and only the
// overlap is copied. A header naming a size far beyond the frame is damage, not a
// real image: it is refused rather than decoded into gigabytes.
constexpr uint64_t kScratchFloor = 64ull << 20;

}  // namespace

JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder() {
  if (handle_ != nullptr) tjDestroy(static_cast<tjhandle>(handle_));
}

bool JpegDecoder::ReadHeader(const uint8_t* data, size_t length, int* width, int* height) {
  if (handle_ == nullptr || data == nullptr || length == 0 || length > 0xFFFFFFFFul) return false;
  int subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(static_cast<tjhandle>(handle_), data, static_cast<unsigned long>(length), width, height,
                          &subsampling, &colourspace) != 0)
    return false;
  return *width > 0 && *height > 0;
}

JpegStatus JpegDecoder::DecodeInto(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns,
                                   int samples) {
  int width = 0, height = 0;
  if (frame == nullptr || rows <= 0 || columns <= 0 || (samples != 1 && samples != 3)) return JpegStatus::kNoHeader;
  if (!ReadHeader(data, length, &width, &height)) return JpegStatus::kNoHeader;
  tjhandle h = static_cast<tjhandle>(handle_);
  const int format = samples == 3 ? TJPF_RGB : TJPF_GRAY;
  const int flags = TJFLAG_LIMITSCANS;
  const size_t framePitch = static_cast<size_t>(columns) * static_cast<size_t>(samples);

  auto status = [&](int rc) {
    if (rc == 0) return JpegStatus::kOk;
    return tjGetErrorCode(h) == TJERR_WARNING ? JpegStatus::kWarning : JpegStatus::kPartial;
  };

  if (width <= columns && height <= rows) {
    // The JPEG fits inside the frame: decode straight into it, row pitch of the frame.
    const int rc = tjDecompress2(h, data, static_cast<unsigned long>(length), frame, width,
                                 static_cast<int>(framePitch), height, format, flags);
    return status(rc);
  }

  const uint64_t scratchBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * samples;
  const uint64_t frameBytes = static_cast<uint64_t>(rows) * framePitch;
  if (scratchBytes > std::max(kScratchFloor, 4 * frameBytes)) return JpegStatus::kTooLarge;
  try {
    scratch_.assign(scratchBytes, 0);
  } catch (const std::bad_alloc&) {
    return JpegStatus::kTooLarge;
  }
  const size_t pitch = static_cast<size_t>(width) * samples;
  const int rc = tjDecompress2(h, data, static_cast<unsigned long>(length), scratch_.data(), width,
                               static_cast<int>(pitch), height, format, flags);
  const int copyRows = std::min(rows, height);
  const size_t copyBytes = static_cast<size_t>(std::min(columns, width)) * samples;
  for (int r = 0; r < copyRows; ++r)
    std::memcpy(frame + static_cast<size_t>(r) * framePitch, scratch_.data() + static_cast<size_t>(r) * pitch,
                copyBytes);
  if (scratch_.capacity() > kScratchFloor) std::vector<uint8_t>().swap(scratch_);
  return status(rc);
}

}  // namespace velmo
