// One classification of transfer syntaxes serves the loader, the list reader, the
// DICOMDIR reader and the pixel stage.
#include <gtest/gtest.h>

#include <string>

#include "dicom/transfer_syntax.h"

namespace velmo {
namespace {

TEST(TransferSyntax, ClassifiesStoredValues) {
  using std::string_literals::operator""s;
  struct Case {
    std::string stored;
    int syntax;
    const char* name;
    int marks;
    PixelPath path;
  };
  const Case cases[] = {
      {"1.2.840.10008.1.2\0"s, 0, "Implicit VR Little Endian", 0, PixelPath::kNative},
      {"1.2.840.10008.1.2.1\0"s, 1, "Explicit VR Little Endian", 0, PixelPath::kNative},  // 20 bytes: not tested
      {"1.2.840.10008.1.2.2\0"s, 2, "Explicit VR Big Endian", 0, PixelPath::kNative},
      {"1.2.840.10008.1.2.4.50", 1, "Explicit VR Little Endian(8bit jpeg)", 0, PixelPath::kJpeg},
      {"1.2.840.10008.1.2.5\0"s, 1, "Explicit VR Little Endian(RLE Lossless)", 0, PixelPath::kRle},
      {"1.2.840.10008.1.2.4.70", 1, "Explicit VR Little Endian(JPEG Lossless)", 0, PixelPath::kJpegLossless},
      {"1.2.840.10008.1.2.4.57", 1, "Explicit VR Little Endian(JPEG Lossless)", 0, PixelPath::kJpegLossless},
      {"1.2.840.10008.1.2.4.701", 1, nullptr, 1, PixelPath::kUnsupported},  // not a lossless UID: 21st is 7
      {"1.2.840.10008.1.2.4.51", 1, "Explicit VR Little Endian(JPEG Extended)", 0, PixelPath::kJpegExtended},
      {"1.2.840.10008.1.2.4.55", 1, nullptr, 1, PixelPath::kUnsupported},    // 22nd is 5: second test only
      {"1.2.840.10008.1.2.4.100", 1, nullptr, 1, PixelPath::kUnsupported},  // MPEG2: 21st is 1
      {"1.2.840.10008.1.2.4.81", 1, "Explicit VR Little Endian(JPEG-LS)", 0, PixelPath::kJpegLs},
      {"1.2.840.10008.1.2.4.80", 1, "Explicit VR Little Endian(JPEG-LS)", 0, PixelPath::kJpegLs},
      {"1.2.840.10008.1.2.4.90", 1, "Explicit VR Little Endian(JPEG 2000)", 0, PixelPath::kJpeg2000},
      {"1.2.840.10008.1.2.4.91", 1, "Explicit VR Little Endian(JPEG 2000)", 0, PixelPath::kJpeg2000},
      {"1.2.840.10008.1.2.4.201\0"s, 1, "Explicit VR Little Endian(HTJ2K)", 0, PixelPath::kHtj2k},
      {"1.2.840.10008.1.2.4.202", 1, "Explicit VR Little Endian(HTJ2K)", 0, PixelPath::kHtj2k},
      {"1.2.840.10008.1.2.4.203", 1, "Explicit VR Little Endian(HTJ2K)", 0, PixelPath::kHtj2k},
      {"1.2.840.10008.1.2.4.92", 1, nullptr, 2, PixelPath::kUnsupported},  // multi-component part 2
      {"1.2.840.10008.1.2.6.1\0"s, 1, nullptr, 2, PixelPath::kUnsupported},  // padding counts as character 21
      {"1.2.840.10008.1.2.1.99", 1, "Deflated Explicit VR Little Endian", 0, PixelPath::kNative},
      {"1.2.840.10008.1.2.1.99\0"s, 1, "Deflated Explicit VR Little Endian", 0, PixelPath::kNative},
      {"1.2.840.10008.1.2.1.98", 1, "Explicit VR Little Endian", 2, PixelPath::kUnsupported},
      {"1.2.3.4", 0, nullptr, 0, PixelPath::kNative},
      {"", 0, nullptr, 0, PixelPath::kNative},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    const TransferSyntaxInfo info = ClassifyTransferSyntax(c.stored);
    EXPECT_EQ(info.syntax, c.syntax);
    EXPECT_STREQ(info.name, c.name);
    EXPECT_EQ(info.unsupportedMarks, c.marks);
    EXPECT_EQ(info.path, c.path);
    EXPECT_EQ(info.deflated, c.stored.starts_with("1.2.840.10008.1.2.1.99"));
  }
}

}  // namespace
}  // namespace velmo
