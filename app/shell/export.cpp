#include "shell/export.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

#include "base/file_io.h"

namespace velmo {

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return at + 4 <= b.size() ? uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
                                  uint32_t{b[at + 3]} << 24
                            : 0;
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// What a BMP file image holds, after checking every size against the bytes present.
struct BmpLayout {
  int64_t width = 0, height = 0;
  int bitCount = 0;
  uint64_t pixelOffset = 0;
  uint64_t fileSize = 0;  // bfSize
};

bool ReadLayout(const std::vector<uint8_t>& b, BmpLayout* out) {
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || U32(b, 14) != 40) return false;
  BmpLayout l;
  l.width = static_cast<int32_t>(U32(b, 18));
  l.height = static_cast<int32_t>(U32(b, 22));
  l.bitCount = U16(b, 28);
  l.pixelOffset = U32(b, 10);
  l.fileSize = U32(b, 2);
  if (l.width <= 0 || l.height <= 0 || U32(b, 30) != 0) return false;
  if (l.bitCount != 8 && l.bitCount != 32) return false;
  const uint64_t headers = l.bitCount == 8 ? 54 + 1024 : 54;
  if (l.pixelOffset < headers) return false;
  // Rows of the display bitmap and the snapshot have no padding (width is a multiple
  // of 4 for 8-bit bitmaps; 32-bit rows never need any).
  if (l.bitCount == 8 && l.width % 4 != 0) return false;
  const uint64_t pixels = static_cast<uint64_t>(l.width) * static_cast<uint64_t>(l.height) * (l.bitCount / 8);
  const uint64_t end = l.pixelOffset + pixels;
  if (l.fileSize < end || l.fileSize > b.size()) return false;
  *out = l;
  return true;
}

}  // namespace

std::vector<uint8_t> SnapshotFileImage(const std::vector<uint8_t>& block) {
  if (block.size() < 40 || U32(block, 0) != 40 || U16(block, 14) != 32) return {};
  const int64_t w = static_cast<int32_t>(U32(block, 4));
  const int64_t h = static_cast<int32_t>(U32(block, 8));
  if (w <= 0 || h <= 0) return {};
  const uint64_t pixels = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4;
  if (pixels + 54 > 0xFFFFFFFFull || block.size() < 40 + pixels) return {};
  std::vector<uint8_t> out(static_cast<size_t>(54 + pixels), 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(pixels + 54));
  Put32(out, 10, 54);
  std::memcpy(out.data() + 14, block.data(), static_cast<size_t>(40 + pixels));
  return out;
}

std::vector<uint8_t> DisplayBitmapFileImage(const std::vector<uint8_t>& bitmap) {
  BmpLayout l;
  if (!ReadLayout(bitmap, &l)) return {};
  return std::vector<uint8_t>(bitmap.begin(), bitmap.begin() + static_cast<std::ptrdiff_t>(l.fileSize));
}

std::vector<uint8_t> WithoutFileHeader(const std::vector<uint8_t>& fileImage) {
  if (fileImage.size() <= 14) return {};
  return std::vector<uint8_t>(fileImage.begin() + 14, fileImage.end());
}

ExportFormat ExportFormatForPath(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return ExportFormat::kNone;
  const std::string_view ext = name.substr(dot);
  if (ext == ".bmp") return ExportFormat::kBmp;
  if (ext == ".jpg") return ExportFormat::kJpeg;
  return ExportFormat::kNone;
}

bool DecodeBmpFileImage(const std::vector<uint8_t>& b, RgbPicture* out) {
  BmpLayout l;
  if (!ReadLayout(b, &l)) return false;
  const size_t w = static_cast<size_t>(l.width), h = static_cast<size_t>(l.height);
  out->width = static_cast<int32_t>(l.width);
  out->height = static_cast<int32_t>(l.height);
  out->rgb.assign(w * h * 3, 0);
  const uint8_t* pixels = b.data() + l.pixelOffset;
  const uint8_t* table = b.data() + 54;
  for (size_t y = 0; y < h; ++y) {
    uint8_t* dst = out->rgb.data() + y * w * 3;
    const size_t memRow = h - 1 - y;  // rows are stored bottom-up
    if (l.bitCount == 32) {
      const uint8_t* src = pixels + memRow * w * 4;
      for (size_t x = 0; x < w; ++x, src += 4, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
    } else {
      const uint8_t* src = pixels + memRow * w;
      for (size_t x = 0; x < w; ++x, dst += 3) {
        const uint8_t* entry = table + size_t{src[x]} * 4;
        dst[0] = entry[2];
        dst[1] = entry[1];
        dst[2] = entry[0];
      }
    }
  }
  return true;
}

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& fileImage, int quality) {
  RgbPicture pic;
  if (!DecodeBmpFileImage(fileImage, &pic)) return {};
  const size_t count = static_cast<size_t>(pic.width) * static_cast<size_t>(pic.height);
  bool grey = true;
  for (size_t i = 0; i < count && grey; ++i) {
    const uint8_t* p = pic.rgb.data() + i * 3;
    grey = p[0] == p[1] && p[1] == p[2];
  }
  std::vector<uint8_t> source;
  if (grey) {
    source.resize(count);
    for (size_t i = 0; i < count; ++i) source[i] = pic.rgb[i * 3];
  }
  tjhandle handle = tjInitCompress();
  if (!handle) return {};
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(handle, grey ? source.data() : pic.rgb.data(), pic.width, 0, pic.height,
                             grey ? TJPF_GRAY : TJPF_RGB, &jpeg, &size, grey ? TJSAMP_GRAY : TJSAMP_420,
                             std::clamp(quality, 1, 100), 0);
  std::vector<uint8_t> out;
  if (rc == 0 && jpeg) out.assign(jpeg, jpeg + size);
  if (jpeg) tjFree(jpeg);
  tjDestroy(handle);
  return out;
}

bool WriteExportFile(const std::string& path, const std::vector<uint8_t>& fileImage) {
  switch (ExportFormatForPath(path)) {
    case ExportFormat::kBmp: {
      if (fileImage.empty()) return false;
      return WriteFileAtomically(
          path, std::string_view(reinterpret_cast<const char*>(fileImage.data()), fileImage.size()));
    }
    case ExportFormat::kJpeg: {
      const std::vector<uint8_t> jpeg = EncodeJpeg(fileImage, 80);
      if (jpeg.empty()) return false;
      return WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()));
    }
    case ExportFormat::kNone:
      break;
  }
  return false;
}

}  // namespace velmo
