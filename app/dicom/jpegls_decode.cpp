#include "dicom/jpegls_decode.h"

#include <charls/charls.h>
#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

#include "dicom/codec_frame.h"

namespace velmo {

namespace {
// CharLS reports success as error code 0 (in C and C++ alike).
constexpr charls_jpegls_errc kSuccess{};

// CharLS is loaded the first time a JPEG-LS frame is decoded: linked into the
// programs, its start-up (it builds its decoding tables when loaded) would cost
// every start, also of commands that never meet JPEG-LS, about half a millisecond.
struct CharLs {
  decltype(&charls_jpegls_decoder_create) create = nullptr;
  decltype(&charls_jpegls_decoder_destroy) destroy = nullptr;
  decltype(&charls_jpegls_decoder_set_source_buffer) setSourceBuffer = nullptr;
  decltype(&charls_jpegls_decoder_read_header) readHeader = nullptr;
  decltype(&charls_jpegls_decoder_get_frame_info) getFrameInfo = nullptr;
  decltype(&charls_jpegls_decoder_get_interleave_mode) getInterleaveMode = nullptr;
  decltype(&charls_jpegls_decoder_get_destination_size) getDestinationSize = nullptr;
  decltype(&charls_jpegls_decoder_decode_to_buffer) decodeToBuffer = nullptr;
  bool loaded = false;
};

const CharLs& LoadCharLs() {
  static CharLs lib;
  static std::once_flag once;
  std::call_once(once, [] {
#define VELMO_STRINGIFY2(x) #x
#define VELMO_STRINGIFY(x) VELMO_STRINGIFY2(x)
    // The library's file name carries its major version.
    void* handle = dlopen("libcharls.so." VELMO_STRINGIFY(CHARLS_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    auto find = [handle](auto& entry, const char* name) {
      entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(dlsym(handle, name));
      return entry != nullptr;
    };
    lib.loaded = find(lib.create, "charls_jpegls_decoder_create") &&
                 find(lib.destroy, "charls_jpegls_decoder_destroy") &&
                 find(lib.setSourceBuffer, "charls_jpegls_decoder_set_source_buffer") &&
                 find(lib.readHeader, "charls_jpegls_decoder_read_header") &&
                 find(lib.getFrameInfo, "charls_jpegls_decoder_get_frame_info") &&
                 find(lib.getInterleaveMode, "charls_jpegls_decoder_get_interleave_mode") &&
                 find(lib.getDestinationSize, "charls_jpegls_decoder_get_destination_size") &&
                 find(lib.decodeToBuffer, "charls_jpegls_decoder_decode_to_buffer");
  });
  return lib;
}
}  // namespace

bool DecodeJpegLs(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int bytesPerPixel) {
  if (data == nullptr || length == 0 || frame == nullptr) return false;
  const CharLs& charls = LoadCharLs();
  if (!charls.loaded) return false;
  std::unique_ptr<charls_jpegls_decoder, void (*)(const charls_jpegls_decoder*)> decoder(charls.create(),
                                                                                         charls.destroy);
  if (!decoder) return false;
  // A stream cut before its end-of-image marker gets one: CharLS crawls for seconds
  // over a stream that simply stops, but ends at once at a marker.
  size_t end = length;
  while (end > 0 && data[end - 1] == 0) --end;
  std::vector<uint8_t> closed;
  if (end < 2 || data[end - 2] != 0xFF || data[end - 1] != 0xD9) {
    try {
      closed.reserve(length + 2);
      closed.assign(data, data + length);
      closed.push_back(0xFF);
      closed.push_back(0xD9);
    } catch (const std::bad_alloc&) {
      return false;
    }
    data = closed.data();
    length = closed.size();
  }
  charls_frame_info info{};
  charls_interleave_mode interleave{};
  size_t size = 0;
  if (charls.setSourceBuffer(decoder.get(), data, length) != kSuccess ||
      charls.readHeader(decoder.get()) != kSuccess ||
      charls.getFrameInfo(decoder.get(), &info) != kSuccess ||
      charls.getInterleaveMode(decoder.get(), &interleave) != kSuccess)
    return false;
  if (!PlausibleDecodedSize(info.width, info.height, static_cast<uint64_t>(info.component_count), rows, columns) ||
      info.bits_per_sample < 2 || info.bits_per_sample > 16)
    return false;
  if (charls.getDestinationSize(decoder.get(), 0, &size) != kSuccess) return false;
  std::vector<uint8_t> decoded;
  try {
    decoded.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (charls.decodeToBuffer(decoder.get(), decoded.data(), decoded.size(), 0) !=
      kSuccess)
    return false;

  const int w = static_cast<int>(info.width), h = static_cast<int>(info.height);
  const int n = info.component_count;
  const bool wide = info.bits_per_sample > 8;
  const size_t plane = static_cast<size_t>(w) * h;
  const bool planar = static_cast<int>(interleave) == 0;  // interleave mode "none": one plane after the other
  const size_t needed = plane * n * (wide ? 2 : 1);
  if (decoded.size() < needed) return false;
  const uint8_t* d = decoded.data();
  auto sample = [&](int c, int x, int y) -> uint32_t {
    const size_t i = planar ? c * plane + static_cast<size_t>(y) * w + x : (static_cast<size_t>(y) * w + x) * n + c;
    if (!wide) return d[i];
    uint16_t v;
    std::memcpy(&v, d + 2 * i, 2);
    return v;
  };
  WriteDecodedFrame(w, h, n, info.bits_per_sample, sample, frame, rows, columns, bytesPerPixel);
  return true;
}

}  // namespace velmo
