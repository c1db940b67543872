// Export layouts and writers: the snapshot's BMP file image, the display bitmap taken
// as it stands, the case-sensitive extension rule, and JPEG output that decodes to the
// same picture size and colours.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <sys/stat.h>

#include "shell/export.h"
#include "support/test_util.h"

using namespace velmo;
using velmo::test::ReadBytes;
using velmo::test::TempDir;

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

// A snapshot block: 40-byte header and w x h pixels of blue, green, red, 0 (bottom-up).
std::vector<uint8_t> Snapshot(int w, int h, uint8_t blue, uint8_t green, uint8_t red) {
  std::vector<uint8_t> b(40 + size_t(w) * h * 4, 0);
  Put32(b, 0, 40);
  Put32(b, 4, w);
  Put32(b, 8, h);
  b[12] = 1;
  b[14] = 32;
  Put32(b, 24, 3780);
  Put32(b, 28, 3780);
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    b[40 + i * 4] = blue;
    b[41 + i * 4] = green;
    b[42 + i * 4] = red;
  }
  return b;
}

// An 8-bit display bitmap as the conversion writes it: bfSize W*H*2 + 1078 (the
// second W*H bytes unused), a colour table, then the indices; `extra` bytes of slack
// follow (the buffer is reused and may be larger).
std::vector<uint8_t> IndexedBitmap(int w, int h, bool colour, size_t extra = 0) {
  const uint32_t size = uint32_t(w) * h * 2 + 1078;
  std::vector<uint8_t> b(size + extra, 0xEE);
  std::fill(b.begin(), b.begin() + size, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, size);
  Put32(b, 10, 1078);
  Put32(b, 14, 40);
  Put32(b, 18, w);
  Put32(b, 22, h);
  b[26] = 1;
  b[28] = 8;
  Put32(b, 38, 3780);
  Put32(b, 42, 3780);
  for (int i = 0; i < 256; ++i) {
    b[54 + i * 4] = static_cast<uint8_t>(colour ? 255 - i : i);  // blue
    b[55 + i * 4] = static_cast<uint8_t>(i);                      // green
    b[56 + i * 4] = static_cast<uint8_t>(colour ? 0 : i);         // red
  }
  for (int i = 0; i < w * h; ++i) b[1078 + i] = static_cast<uint8_t>((i % w) * 255 / (w - 1));  // a ramp
  return b;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(Export, SnapshotFileImageHasTheFileHeaderAndTheBlock) {
  const std::vector<uint8_t> block = Snapshot(12, 5, 10, 20, 30);
  const std::vector<uint8_t> file = SnapshotFileImage(block);
  ASSERT_EQ(file.size(), 54u + 12 * 5 * 4);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Get32(file, 2), 12u * 5 * 4 + 54);
  EXPECT_EQ(Get32(file, 6), 0u);  // two reserved words
  EXPECT_EQ(Get32(file, 10), 54u);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), file.begin() + 14));
  // Blocks whose sizes are not backed by bytes, or of another depth, give nothing.
  std::vector<uint8_t> cut = block;
  cut.pop_back();
  EXPECT_TRUE(SnapshotFileImage(cut).empty());
  std::vector<uint8_t> huge = block;
  Put32(huge, 4, 0x7FFFFFFF);
  EXPECT_TRUE(SnapshotFileImage(huge).empty());
  std::vector<uint8_t> eightBit = block;
  eightBit[14] = 8;
  EXPECT_TRUE(SnapshotFileImage(eightBit).empty());
  EXPECT_TRUE(SnapshotFileImage({}).empty());
}

TEST(Export, DisplayBitmapIsTakenUpToItsFileSize) {
  const std::vector<uint8_t> bitmap = IndexedBitmap(8, 4, false, 100);
  const std::vector<uint8_t> file = DisplayBitmapFileImage(bitmap);
  ASSERT_EQ(file.size(), 8u * 4 * 2 + 1078);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), bitmap.begin()));
  EXPECT_EQ(WithoutFileHeader(file).size(), file.size() - 14);

  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  } bad[] = {
      {"bfSize past the buffer", 2, 8 * 4 * 2 + 1078 + 101},
      {"pixels past bfSize", 2, 1078 + 8 * 4 - 1},
      {"pixel offset inside the colour table", 10, 1000},
      {"height beyond the bytes", 22, 1000},
      {"negative width", 18, 0xFFFFFFF8},
      {"compressed", 30, 1},
  };
  for (const Case& c : bad) {
    std::vector<uint8_t> b = bitmap;
    Put32(b, c.at, c.value);
    EXPECT_TRUE(DisplayBitmapFileImage(b).empty()) << c.what;
  }
}

TEST(Export, OnlyTheExactLowerCaseExtensionsPickAFormat) {
  const struct {
    const char* path;
    ExportFormat format;
  } cases[] = {
      {"/tmp/a.bmp", ExportFormat::kBmp},   {"/tmp/a.jpg", ExportFormat::kJpeg},
      {"/tmp/a.BMP", ExportFormat::kNone},  {"/tmp/a.Jpg", ExportFormat::kNone},
      {"/tmp/a.jpeg", ExportFormat::kNone}, {"/tmp/a.png", ExportFormat::kNone},
      {"/tmp/a", ExportFormat::kNone},      {"/tmp/x.bmp/a", ExportFormat::kNone},
      {"a.b.bmp", ExportFormat::kBmp},      {".bmp", ExportFormat::kBmp},
  };
  for (const auto& c : cases) EXPECT_EQ(ExportFormatForPath(c.path), c.format) << c.path;
}

TEST(Export, WritesBmpBytesUnchangedAndNothingForOtherExtensions) {
  TempDir dir;
  const std::vector<uint8_t> file = SnapshotFileImage(Snapshot(16, 8, 1, 2, 3));
  ASSERT_TRUE(WriteExportFile(dir.File("shot.bmp"), file));
  EXPECT_EQ(ReadBytes(dir.File("shot.bmp")), file);
  EXPECT_FALSE(WriteExportFile(dir.File("shot.BMP"), file));
  EXPECT_FALSE(Exists(dir.File("shot.BMP")));
  EXPECT_FALSE(WriteExportFile(dir.File("shot.png"), file));
  EXPECT_FALSE(Exists(dir.File("shot.png")));
  EXPECT_FALSE(WriteExportFile(dir.File("empty.bmp"), {}));
  EXPECT_FALSE(Exists(dir.File("empty.bmp")));
}

TEST(Export, JpegDecodesToTheSamePicture) {
  TempDir dir;
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    int subsampling;  // what the encoder chose
  } cases[] = {
      {"grey.jpg", IndexedBitmap(64, 32, false), TJSAMP_GRAY},
      {"palette.jpg", IndexedBitmap(64, 32, true), TJSAMP_420},
      {"snapshot.jpg", SnapshotFileImage(Snapshot(40, 24, 200, 100, 50)), TJSAMP_420},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteExportFile(dir.File(c.name), c.file)) << c.name;
    std::vector<uint8_t> jpeg = ReadBytes(dir.File(c.name));
    tjhandle h = tjInitDecompress();
    int w = 0, hgt = 0, samp = -1, space = -1;
    ASSERT_EQ(tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &w, &hgt, &samp, &space), 0) << c.name;
    RgbPicture expected;
    ASSERT_TRUE(DecodeBmpFileImage(c.file, &expected));
    EXPECT_EQ(w, expected.width) << c.name;
    EXPECT_EQ(hgt, expected.height) << c.name;
    EXPECT_EQ(samp, c.subsampling) << c.name;
    std::vector<uint8_t> rgb(size_t(w) * hgt * 3);
    ASSERT_EQ(tjDecompress2(h, jpeg.data(), jpeg.size(), rgb.data(), w, 0, hgt, TJPF_RGB, 0), 0);
    tjDestroy(h);
    // Quality 80 keeps flat areas close; compare the mean absolute error.
    double error = 0;
    for (size_t i = 0; i < rgb.size(); ++i) error += std::abs(int(rgb[i]) - int(expected.rgb[i]));
    EXPECT_LT(error / rgb.size(), 12.0) << c.name;
  }
  // The snapshot's flat colour comes out right way round (red 50, green 100, blue 200).
  RgbPicture pic;
  ASSERT_TRUE(DecodeBmpFileImage(cases[2].file, &pic));
  EXPECT_EQ(pic.rgb[0], 50);
  EXPECT_EQ(pic.rgb[1], 100);
  EXPECT_EQ(pic.rgb[2], 200);
}

TEST(Export, BmpDecodingReadsRowsBottomUpThroughTheColourTable) {
  std::vector<uint8_t> b = IndexedBitmap(4, 2, true);
  for (int i = 0; i < 8; ++i) b[1078 + i] = 0;
  b[1078 + 4] = 255;  // memory row 1 is the top row of the picture
  RgbPicture pic;
  ASSERT_TRUE(DecodeBmpFileImage(b, &pic));
  // Top-left: index 255 -> red 0, green 255, blue 0; bottom-left: index 0 -> blue 255.
  EXPECT_EQ(pic.rgb[0], 0);
  EXPECT_EQ(pic.rgb[1], 255);
  EXPECT_EQ(pic.rgb[2], 0);
  EXPECT_EQ(pic.rgb[4 * 3 + 2], 255);
}
