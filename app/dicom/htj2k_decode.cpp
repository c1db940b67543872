#include "dicom/htj2k_decode.h"

#include <openjph/ojph_arch.h>
#include <openjph/ojph_codestream.h>
#include <openjph/ojph_file.h>
#include <openjph/ojph_mem.h>
#include <openjph/ojph_message.h>
#include <openjph/ojph_params.h>

#include <cstdarg>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "dicom/codec_frame.h"

namespace velmo {

namespace {

// OpenJPH reports through global handlers: errors become exceptions (the decoder is
// left at once), information and warnings are dropped instead of printed.
class ThrowingError final : public ojph::message_error {
 public:
  void operator()(int, const char*, int, const char*, ...) override { throw std::runtime_error("HTJ2K"); }
};
class QuietWarning final : public ojph::message_warning {
 public:
  void operator()(int, const char*, int, const char*, ...) override {}
};
class QuietInfo final : public ojph::message_info {
 public:
  void operator()(int, const char*, int, const char*, ...) override {}
};

void ConfigureMessages() {
  static std::once_flag once;
  std::call_once(once, [] {
    static ThrowingError error;
    static QuietWarning warning;
    static QuietInfo info;
    ojph::configure_error(&error);
    ojph::configure_warning(&warning);
    ojph::configure_info(&info);
  });
}

}  // namespace

bool DecodeHtj2k(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int bytesPerPixel) {
  if (data == nullptr || length < 4 || frame == nullptr) return false;
  ConfigureMessages();
  try {
    ojph::mem_infile file;
    file.open(data, length);
    ojph::codestream codestream;
    codestream.enable_resilience();
    codestream.read_headers(&file);
    ojph::param_siz siz = codestream.access_siz();
    const ojph::point extent = siz.get_image_extent(), offset = siz.get_image_offset();
    if (extent.x <= offset.x || extent.y <= offset.y) return false;
    const uint32_t w = extent.x - offset.x, h = extent.y - offset.y;
    const uint32_t n = siz.get_num_components();
    if (!PlausibleDecodedSize(w, h, n, rows, columns)) return false;
    for (uint32_t c = 0; c < n; ++c) {
      const ojph::point d = siz.get_downsampling(c);
      if (d.x != 1 || d.y != 1 || siz.get_recon_width(c) != w || siz.get_recon_height(c) != h) return false;
    }
    const int precision = static_cast<int>(siz.get_bit_depth(0));
    if (precision < 1 || precision > 16) return false;
    codestream.set_planar(false);
    codestream.create();
    std::vector<int32_t> decoded(static_cast<size_t>(w) * h * n);
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t k = 0; k < n; ++k) {
        ojph::ui32 c = 0;
        ojph::line_buf* line = codestream.pull(c);
        if (line == nullptr || c >= n || line->size < w) {
          codestream.close();
          return false;
        }
        int32_t* out = decoded.data() + (static_cast<size_t>(c) * h + y) * w;
        for (uint32_t x = 0; x < w; ++x) out[x] = line->i32[x];
      }
    }
    codestream.close();
    const size_t plane = static_cast<size_t>(w) * h;
    auto sample = [&](int c, int x, int y) -> uint32_t {
      return static_cast<uint32_t>(decoded[c * plane + static_cast<size_t>(y) * w + x]);
    };
    WriteDecodedFrame(static_cast<int>(w), static_cast<int>(h), static_cast<int>(std::min<uint32_t>(n, 4)), precision,
                      sample, frame, rows, columns, bytesPerPixel);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace velmo
