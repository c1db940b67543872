#pragma once
// JPEG baseline decoding of one frame through libjpeg-turbo's TurboJPEG API.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmo {

enum class JpegStatus {
  kOk,         // decoded
  kWarning,    // decoded, but the stream had recoverable damage (e.g. cut off)
  kPartial,    // decoding stopped at an error; rows decoded before it are kept
  kNoHeader,   // no usable JPEG header: nothing written
  kTooLarge,   // the JPEG's own size is implausibly larger than the frame: nothing written
};

class JpegDecoder {
 public:
  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  bool ready() const { return handle_ != nullptr; }

  // Reads the JPEG header: image size. False when there is none.
  bool ReadHeader(const uint8_t* data, size_t length, int* width, int* height);

  // Decodes one JPEG stream into a zero-filled frame of rows x columns pixels with
  // `samples` bytes each (3: R, G, B; 1: grey). The stream is decoded at its own size
  // and the part that overlaps rows x columns is copied; the rest of the frame stays
  // as it is. Writes never leave the frame.
  JpegStatus DecodeInto(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int samples);

 private:
  void* handle_ = nullptr;
  std::vector<uint8_t> scratch_;  // for JPEGs larger than the frame
};

}  // namespace velmo
