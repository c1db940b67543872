#include "dicom/j2k_decode.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "dicom/codec_frame.h"

namespace velmo {

namespace {

struct MemoryStream {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

OPJ_SIZE_T Read(void* buffer, OPJ_SIZE_T bytes, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (s->pos >= s->size) return static_cast<OPJ_SIZE_T>(-1);
  const size_t n = std::min<size_t>(bytes, s->size - s->pos);
  std::memcpy(buffer, s->data + s->pos, n);
  s->pos += n;
  return n;
}

OPJ_OFF_T Skip(OPJ_OFF_T bytes, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (bytes < 0) {
    const size_t back = std::min<size_t>(static_cast<size_t>(-bytes), s->pos);
    s->pos -= back;
    return -static_cast<OPJ_OFF_T>(back);
  }
  const size_t n = std::min<size_t>(static_cast<size_t>(bytes), s->size - std::min(s->pos, s->size));
  s->pos += n;
  return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL Seek(OPJ_OFF_T to, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (to < 0 || static_cast<uint64_t>(to) > s->size) return OPJ_FALSE;
  s->pos = static_cast<size_t>(to);
  return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

struct CodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

}  // namespace

namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// The codestream of a JP2 file: the payload of its "jp2c" box (a top-level box walk).
bool Jp2Codestream(const uint8_t* data, size_t length, const uint8_t** out, size_t* outLength) {
  size_t pos = 0;
  while (pos + 8 <= length) {
    uint64_t boxLength = Be32(data + pos);
    size_t header = 8;
    if (boxLength == 1) {
      if (pos + 16 > length) return false;
      boxLength = uint64_t{Be32(data + pos + 8)} << 32 | Be32(data + pos + 12);
      header = 16;
    } else if (boxLength == 0) {
      boxLength = length - pos;
    }
    if (boxLength < header || boxLength > length - pos) return false;
    if (std::memcmp(data + pos + 4, "jp2c", 4) == 0) {
      *out = data + pos + header;
      *outLength = static_cast<size_t>(boxLength) - header;
      return true;
    }
    pos += static_cast<size_t>(boxLength);
  }
  return false;
}

constexpr uint8_t kHtCodeBlockStyle = 0x40;

}  // namespace

bool UsesHighThroughputCoding(const uint8_t* data, size_t length) {
  if (data == nullptr) return false;
  const uint8_t* cs = data;
  size_t n = length;
  if (length >= 12 && std::memcmp(data + 4, "jP  ", 4) == 0 && !Jp2Codestream(data, length, &cs, &n)) return true;
  // SOC, then SIZ: Lsiz, Rsiz (bit 14: HT), ... Csiz at offset 38 of the segment.
  if (n < 4 + 40 || Be16(cs) != 0xFF4F || Be16(cs + 2) != 0xFF51) return true;
  if (Be16(cs + 6) & 0x4000) return true;
  const uint16_t components = Be16(cs + 4 + 2 + 36);
  const size_t componentBytes = components < 257 ? 1 : 2;
  size_t pos = 2;
  // Marker segments of the main header and of every tile-part header up to its SOD.
  while (pos + 2 <= n) {
    const uint16_t marker = Be16(cs + pos);
    if (marker == 0xFFD9) return false;  // EOC
    if (pos + 4 > n) return true;
    const uint16_t segment = Be16(cs + pos + 2);
    if ((marker & 0xFF00) != 0xFF00 || segment < 2 || pos + 2 + segment > n) return true;
    const uint8_t* body = cs + pos + 4;
    const size_t bodyLength = segment - 2u;
    switch (marker) {
      case 0xFF50:  // CAP: part 15 (HT) capabilities
        return true;
      case 0xFF52:  // COD: Scod, SGcod (4), levels, xcb, ycb, code-block style
        if (bodyLength < 9) return true;
        if (body[8] & kHtCodeBlockStyle) return true;
        break;
      case 0xFF53: {  // COC: Ccoc, Scoc, levels, xcb, ycb, code-block style
        const size_t at = componentBytes + 1 + 3;
        if (bodyLength < at + 1) return true;
        if (body[at] & kHtCodeBlockStyle) return true;
        break;
      }
      case 0xFF90: {  // SOT: the tile-part's markers follow, up to its SOD
        if (bodyLength < 8) return true;
        const uint32_t tilePart = Be32(body + 2);
        size_t at = pos + 2 + segment;
        while (at + 4 <= n && Be16(cs + at) != 0xFF93) {
          const uint16_t m = Be16(cs + at);
          const uint16_t len = Be16(cs + at + 2);
          if ((m & 0xFF00) != 0xFF00 || len < 2 || at + 2 + len > n) return true;
          const uint8_t* b = cs + at + 4;
          const size_t bl = len - 2u;
          if (m == 0xFF50) return true;
          if (m == 0xFF52 && (bl < 9 || (b[8] & kHtCodeBlockStyle))) return true;
          if (m == 0xFF53 && (bl < componentBytes + 5 || (b[componentBytes + 4] & kHtCodeBlockStyle))) return true;
          at += 2 + len;
        }
        if (tilePart == 0) return false;  // the last tile-part runs to the end
        if (tilePart < 14 || pos + tilePart > n) return true;
        pos += tilePart;
        continue;
      }
      default:
        break;
    }
    pos += 2 + segment;
  }
  return pos != n;  // a header walk that stopped inside a segment is not trusted
}

bool DecodeJpeg2000(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns, int bytesPerPixel,
                    int threads) {
  if (data == nullptr || UsesHighThroughputCoding(data, length)) return false;
  return DecodeJpeg2000AnyCoding(data, length, frame, rows, columns, bytesPerPixel, threads);
}

bool DecodeJpeg2000AnyCoding(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns,
                             int bytesPerPixel, int threads) {
  if (data == nullptr || length < 4 || frame == nullptr) return false;
  // A JP2 file starts with its signature box; a bare codestream with SOC (FF 4F).
  const bool jp2 = length >= 12 && std::memcmp(data + 4, "jP  ", 4) == 0;
  std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!codec) return false;
  opj_set_info_handler(codec.get(), Quiet, nullptr);
  opj_set_warning_handler(codec.get(), Quiet, nullptr);
  opj_set_error_handler(codec.get(), Quiet, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) return false;
  // Code blocks are decoded by several threads (OpenJPEG takes the count before the
  // header is read; small pictures have too few blocks to keep more than one busy).
  if (threads <= 0) threads = length >= 64 * 1024 ? static_cast<int>(std::thread::hardware_concurrency()) : 1;
  if (threads > 1) opj_codec_set_threads(codec.get(), threads);

  MemoryStream memory{data, length, 0};
  std::unique_ptr<opj_stream_t, StreamDeleter> stream(opj_stream_create(64 * 1024, OPJ_TRUE));
  if (!stream) return false;
  opj_stream_set_user_data(stream.get(), &memory, nullptr);
  opj_stream_set_user_data_length(stream.get(), length);
  opj_stream_set_read_function(stream.get(), Read);
  opj_stream_set_skip_function(stream.get(), Skip);
  opj_stream_set_seek_function(stream.get(), Seek);

  opj_image_t* raw = nullptr;
  if (!opj_read_header(stream.get(), codec.get(), &raw)) {
    opj_image_destroy(raw);
    return false;
  }
  std::unique_ptr<opj_image_t, ImageDeleter> image(raw);
  const uint64_t width = image->x1 > image->x0 ? image->x1 - image->x0 : 0;
  const uint64_t height = image->y1 > image->y0 ? image->y1 - image->y0 : 0;
  if (!PlausibleDecodedSize(width, height, image->numcomps, rows, columns)) return false;
  if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
    return false;

  const int n = static_cast<int>(std::min<OPJ_UINT32>(image->numcomps, 4));
  for (int c = 0; c < n; ++c) {
    const opj_image_comp_t& comp = image->comps[c];
    if (comp.data == nullptr || comp.dx != 1 || comp.dy != 1 || comp.w != width || comp.h != height) return false;
  }
  const int precision = static_cast<int>(image->comps[0].prec);
  if (precision < 1 || precision > 16) return false;
  const opj_image_comp_t* comps = image->comps;
  const int w = static_cast<int>(width);
  auto sample = [&](int c, int x, int y) -> uint32_t {
    return static_cast<uint32_t>(comps[c].data[static_cast<size_t>(y) * w + x]);
  };
  WriteDecodedFrame(w, static_cast<int>(height), n, precision, sample, frame, rows, columns, bytesPerPixel);
  return true;
}

}  // namespace velmo
