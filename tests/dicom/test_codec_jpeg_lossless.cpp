// Lossless JPEG: files compressed at test time by DCMTK's dcmcjpeg from known pixels
// must load back to exactly those pixels, whatever the predictor, precision, point
// transform, colour or fragmentation; damaged streams fail frame by frame without
// reading or writing outside their buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "dicom/jpeg_lossless.h"
#include "test_pixel_support.h"

namespace velmo::test {
namespace {

bool HaveDcmcjpeg() { return std::system("command -v dcmcjpeg >/dev/null 2>&1") == 0; }

#define REQUIRE_DCMCJPEG() \
  if (!HaveDcmcjpeg()) GTEST_SKIP() << "DCMTK's dcmcjpeg not installed"

void Shell(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

// Samples of a CT-like picture: smooth areas, edges and, with `extremes`, neighbours at
// opposite ends of the range (differences that need the 16-bit category).
std::vector<int> Samples(int w, int h, int lo, int hi, bool extremes, int seed = 0) {
  std::vector<int> v;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int s = lo + ((x * 131 + y * 71 + seed * 977 + (x * y) % 13) % (hi - lo + 1));
      if ((x / 4 + y / 3) % 5 == 0) s = lo + (hi - lo) / 3;  // flat patches
      if (extremes && (x + y) % 11 == 0) s = (x % 2) ? lo : hi;
      v.push_back(s);
    }
  return v;
}

Bytes Pixels(const std::vector<int>& values, int bitsAllocated) {
  if (bitsAllocated > 8) return Le16(values);
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

class JpegLosslessFiles : public ::testing::Test {
 protected:
  Bytes Compress(const Image& im, const Bytes& pixels, const std::string& options) {
    WriteBytes(dir.File("native.dcm"), NativeFile(im, pixels));
    Shell("dcmcjpeg " + options + " " + dir.File("native.dcm") + " " + dir.File("jpeg.dcm"));
    return ReadBytes(dir.File("jpeg.dcm"));
  }
  TempDir dir;
};

TEST_F(JpegLosslessFiles, DecodesExactlyForEveryPredictorPrecisionAndLayout) {
  REQUIRE_DCMCJPEG();
  struct Case {
    const char* what;
    int bitsAllocated, bitsStored, signedness, samples;
    int lo, hi;
    bool extremes;
    std::string options;
    const char* uid;
  };
  const std::string sv = "+el +sv ";
  const Case cases[] = {
      {"8-bit sv1 process 14", 8, 8, 0, 1, 0, 255, true, "+e1", "1.2.840.10008.1.2.4.70"},
      {"8-bit sv2", 8, 8, 0, 1, 0, 255, false, sv + "2", "1.2.840.10008.1.2.4.57"},
      {"12-bit sv3", 16, 12, 0, 1, 0, 4095, true, sv + "3", "1.2.840.10008.1.2.4.57"},
      {"12-bit sv4", 16, 12, 0, 1, 0, 4095, false, sv + "4", "1.2.840.10008.1.2.4.57"},
      {"16-bit signed sv5", 16, 16, 1, 1, -2048, 3000, true, sv + "5", "1.2.840.10008.1.2.4.57"},
      {"16-bit signed sv6", 16, 16, 1, 1, -32768, 32767, true, sv + "6", "1.2.840.10008.1.2.4.57"},
      {"16-bit full range sv7", 16, 16, 0, 1, 0, 65535, true, sv + "7", "1.2.840.10008.1.2.4.57"},
      {"16-bit sv1", 16, 16, 0, 1, 0, 65535, true, "+e1", "1.2.840.10008.1.2.4.70"},
      {"RGB sv1", 8, 8, 0, 3, 0, 255, true, "+e1", "1.2.840.10008.1.2.4.70"},
      {"RGB sv7", 8, 8, 0, 3, 0, 255, false, sv + "7", "1.2.840.10008.1.2.4.57"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image im;
    im.rows = 37;
    im.columns = 53;  // odd sizes
    im.bitsAllocated = static_cast<uint16_t>(c.bitsAllocated);
    im.bitsStored = static_cast<uint16_t>(c.bitsStored);
    im.pixelRepresentation = static_cast<uint16_t>(c.signedness);
    im.samples = static_cast<uint16_t>(c.samples);
    if (c.samples == 3) im.photometric = "RGB";
    const Bytes source = Pixels(Samples(im.columns * c.samples, im.rows, c.lo, c.hi, c.extremes), c.bitsAllocated);
    MemoryLoad load;
    ASSERT_TRUE(load.Load(Compress(im, source, c.options))) << load.Failure();
    EXPECT_EQ(std::string(load.im().transferSyntaxUid.view()), c.uid);
    EXPECT_EQ(load.im().pixelData, source);
    EXPECT_TRUE(load.notes.entries.empty());  // no compressed-format warning
  }
}

TEST_F(JpegLosslessFiles, PointTransformDropsOnlyTheLowBits) {
  REQUIRE_DCMCJPEG();
  Image im;
  im.rows = 20;
  im.columns = 31;
  im.bitsAllocated = 16;
  const std::vector<int> values = Samples(31, 20, 0, 65535, true);
  std::vector<int> expected;
  for (int v : values) expected.push_back(v & ~3);
  MemoryLoad load;
  ASSERT_TRUE(load.Load(Compress(im, Le16(values), "+el +sv 4 +pt 2")));
  EXPECT_EQ(load.im().pixelData, Le16(expected));
}

TEST_F(JpegLosslessFiles, MultiFrameWithAndWithoutOffsetTableAndSplitFragments) {
  REQUIRE_DCMCJPEG();
  Image im;
  im.rows = 64;
  im.columns = 70;
  im.bitsAllocated = 16;
  im.frames = "3";
  std::vector<int> all;
  for (int f = 0; f < 3; ++f) {
    const std::vector<int> v = Samples(70, 64, 0, 65535, true, f);
    all.insert(all.end(), v.begin(), v.end());
  }
  for (const std::string options : {"+e1 +ot", "+e1 -ot", "+e1 +fs 1 -ot", "+e1 +fs 1 +ot"}) {
    SCOPED_TRACE(options);
    MemoryLoad load;
    ASSERT_TRUE(load.Load(Compress(im, Le16(all), options)));
    EXPECT_EQ(load.im().pixelData, Le16(all));
  }
}

// The JPEG stream of the first fragment of a file written by dcmcjpeg.
Bytes FirstStream(const Bytes& file) {
  for (size_t i = 0; i + 3 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xD8 && file[i + 2] == 0xFF) {
      const uint32_t length = file[i - 4] | file[i - 3] << 8 | file[i - 2] << 16 | uint32_t{file[i - 1]} << 24;
      return Bytes(file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(i + length));
    }
  return {};
}

TEST_F(JpegLosslessFiles, DamagedStreamsFailCleanlyAndKeepTheRowsBeforeTheDamage) {
  REQUIRE_DCMCJPEG();
  Image im;
  im.rows = 40;
  im.columns = 48;
  im.bitsAllocated = 16;
  const Bytes source = Le16(Samples(48, 40, 0, 4095, false));
  const Bytes stream = FirstStream(Compress(im, source, "+e1"));
  ASSERT_GT(stream.size(), 200u);
  const size_t rowBytes = 48 * 2;

  // Cut anywhere: never outside the buffers; a cut inside the scan keeps earlier rows.
  for (size_t cut = 0; cut < stream.size(); cut += std::max<size_t>(1, stream.size() / 97)) {
    SCOPED_TRACE(cut);
    Bytes frame(source.size(), 0);
    const LosslessStatus status = DecodeJpegLossless(stream.data(), cut, frame.data(), 40, 48, 2);
    EXPECT_NE(status, LosslessStatus::kOk);
    if (status == LosslessStatus::kPartial && cut > stream.size() / 2) {
      EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + rowBytes * 4, source.begin()));
    }
  }
  // Corrupted bytes: any status, never a crash; the whole stream still decodes.
  for (size_t at = 2; at < stream.size(); at += 7) {
    Bytes bad = stream;
    bad[at] ^= 0x5A;
    Bytes frame(source.size(), 0);
    DecodeJpegLossless(bad.data(), bad.size(), frame.data(), 40, 48, 2);
  }
  // A frame smaller than the stream's picture receives its overlap only.
  Bytes small(20 * 30 * 2 + 16, 0xEE);
  EXPECT_EQ(DecodeJpegLossless(stream.data(), stream.size(), small.data(), 20, 30, 2), LosslessStatus::kOk);
  for (int y = 0; y < 20; ++y)
    EXPECT_TRUE(std::equal(small.begin() + y * 60, small.begin() + y * 60 + 60, source.begin() + y * rowBytes));
  EXPECT_TRUE(std::all_of(small.end() - 16, small.end(), [](uint8_t b) { return b == 0xEE; }));

  // Through the pixel stage: the load succeeds, the frame is logged as failed.
  MemoryLoad load;
  Bytes cut(stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2));
  if (cut.size() % 2) cut.push_back(0);
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {cut}, "1.2.840.10008.1.2.4.70")));
  EXPECT_TRUE(std::equal(load.im().pixelData.begin(), load.im().pixelData.begin() + rowBytes * 2, source.begin()));
}

}  // namespace
}  // namespace velmo::test
