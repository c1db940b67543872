#include "dicom/transfer_syntax.h"

#include <cstddef>

#include "dicom/element.h"
#include "scanner/sifton.h"

namespace velmo {

TransferSyntaxInfo ClassifyTransferSyntax(std::string_view stored) {
  if (stored.size() > 64) stored = stored.substr(0, 64);
  const size_t nul = stored.find('\0');
  const std::string_view uid = stored.substr(0, nul);

  TransferSyntaxInfo info;
  info.unsupportedMarks = (stored.size() > 20 && stored[20] != '5') + (stored.size() > 21 && stored[21] != '0');
  if (info.unsupportedMarks > 0) {
    info.syntax = 1;
    info.path = PixelPath::kUnsupported;
  }
  auto startsWith = [&](std::string_view prefix) { return uid.substr(0, prefix.size()) == prefix; };
  if (uid == "1.2.840.10008.1.2") {
    info.syntax = 0;
    info.name = "Implicit VR Little Endian";
  } else if (uid == kDeflatedExplicitLittle) {
    info.syntax = 1;
    info.name = "Deflated Explicit VR Little Endian";
    info.unsupportedMarks = 0;
    info.path = PixelPath::kNative;
    info.deflated = true;
    return info;
  } else if (uid == "1.2.840.10008.1.2.4.57" || uid == "1.2.840.10008.1.2.4.70") {
    info.syntax = 1;
    info.name = "Explicit VR Little Endian(JPEG Lossless)";
    info.unsupportedMarks = 0;
    info.path = PixelPath::kJpegLossless;
    return info;
  } else if (uid == "1.2.840.10008.1.2.4.51") {
    info.syntax = 1;
    info.name = "Explicit VR Little Endian(JPEG Extended)";
    info.unsupportedMarks = 0;
    info.path = PixelPath::kJpegExtended;
    return info;
  } else if (uid == "1.2.840.10008.1.2.4.80" || uid == "1.2.840.10008.1.2.4.81") {
    info.syntax = 1;
    info.name = "Explicit VR Little Endian(JPEG-LS)";
    info.unsupportedMarks = 0;
    info.path = PixelPath::kJpegLs;
    return info;
  } else if (uid == "1.2.840.10008.1.2.4.90" || uid == "1.2.840.10008.1.2.4.91") {
    info.syntax = 1;
    info.name = "Explicit VR Little Endian(JPEG 2000)";
    info.unsupportedMarks = 0;
    info.path = PixelPath::kJpeg2000;
    return info;
  } else if (uid == "1.2.840.10008.1.2.4.201" || uid == "1.2.840.10008.1.2.4.202" ||
             uid == "1.2.840.10008.1.2.4.203") {
    info.syntax = 1;
    info.name = "Explicit VR Little Endian(HTJ2K)";
    info.unsupportedMarks = 0;
    info.path = PixelPath::kHtj2k;
    return info;
  } else if (startsWith("1.2.840.10008.1.2.1")) {
    info.syntax = 1;
    info.name = "Explicit VR Little Endian";
  } else if (startsWith("1.2.840.10008.1.2.2")) {
    info.syntax = 2;
    info.name = "Explicit VR Big Endian";
  } else if (startsWith("1.2.840.10008.1.2.4.50")) {
    info.syntax = 1;
    info.name = "Explicit VR Little Endian(8bit jpeg)";
  } else if (startsWith("1.2.840.10008.1.2.5")) {
    info.syntax = 1;
    info.name = "Explicit VR Little Endian(RLE Lossless)";
  }
  if (startsWith("1.2.840.10008.1.2.4.50")) {
    info.path = PixelPath::kJpeg;
  } else if (startsWith("1.2.840.10008.1.2.5")) {
    info.path = PixelPath::kRle;
  }
  return info;
}

int ProbeDatasetSyntax(const uint8_t* begin, const uint8_t* end) {
  const uint32_t length = static_cast<uint32_t>(end - begin);
  auto probe = [&](int syntax, ptrdiff_t at, int width) {
    const uint8_t* p = Dll_DcmTagFind(begin, length, syntax, 0, 0x00, 0x08, 0x00, 0x18);
    if (p == nullptr || end - p < at + width) return false;
    return (width == 2 ? Get16(p + at, syntax == 2) : Get32(p + at, false)) != 0;
  };
  if (probe(1, 6, 2)) return 1;
  if (probe(0, 4, 4)) return 0;
  if (probe(2, 6, 2)) return 2;
  return -1;
}

}  // namespace velmo
