// JPEG extended (process 2 and 4): 12-bit streams through our own DCT decoder and 8-bit
// ones through libjpeg-turbo, both within a small tolerance of DCMTK's own decode of
// the same file (dcmdjpeg), for files made by dcmcjpeg and the public corpus file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "dicom/jpeg_extended.h"
#include "test_pixel_support.h"

namespace velmo::test {
namespace {

bool HaveTools() { return std::system("command -v dcmcjpeg dcmdjpeg >/dev/null 2>&1") == 0; }
void Shell(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

int WorstDifference16(const Bytes& a, const Bytes& b) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2)
    worst = std::max(worst, std::abs((a[i] | a[i + 1] << 8) - (b[i] | b[i + 1] << 8)));
  return worst;
}

int WorstDifference8(const Bytes& a, const Bytes& b) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

class ExtendedFiles : public ::testing::Test {
 protected:
  // Loads `file` and DCMTK's decode of it; returns the worst sample difference.
  int CompareWithDcmtk(const std::string& file, bool wide) {
    Shell("dcmdjpeg " + file + " " + dir.File("dcmtk.dcm"));
    MemoryLoad ours, theirs;
    EXPECT_TRUE(ours.Load(ReadBytes(file))) << ours.Failure();
    EXPECT_TRUE(theirs.Load(ReadBytes(dir.File("dcmtk.dcm")))) << theirs.Failure();
    EXPECT_TRUE(ours.notes.entries.empty());
    EXPECT_FALSE(ours.im().pixelData.empty());
    return wide ? WorstDifference16(ours.im().pixelData, theirs.im().pixelData)
                : WorstDifference8(ours.im().pixelData, theirs.im().pixelData);
  }
  TempDir dir;
};

TEST_F(ExtendedFiles, TwelveAndEightBitWithinTwoOfDcmtk) {
  if (!HaveTools()) GTEST_SKIP() << "DCMTK's dcmcjpeg/dcmdjpeg not installed";
  for (int bits : {12, 8}) {
    SCOPED_TRACE(bits);
    Image im;
    im.rows = 61;  // partial blocks at the right and bottom
    im.columns = 75;
    im.frames = "2";
    im.bitsAllocated = static_cast<uint16_t>(bits > 8 ? 16 : 8);
    im.bitsStored = static_cast<uint16_t>(bits);
    std::vector<int> values;
    for (int f = 0; f < 2; ++f)
      for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 75; ++x) values.push_back(((x * 13 + y * 7 + f * 50) % 200) * (bits > 8 ? 16 : 1));
    Bytes pixels;
    if (bits > 8) {
      pixels = Le16(values);
    } else {
      for (int v : values) pixels.push_back(static_cast<uint8_t>(v));
    }
    WriteBytes(dir.File("native.dcm"), NativeFile(im, pixels));
    Shell("dcmcjpeg +ee +q 90 " + dir.File("native.dcm") + " " + dir.File("ext.dcm"));
    EXPECT_LE(CompareWithDcmtk(dir.File("ext.dcm"), bits > 8), 2);
  }
}

TEST_F(ExtendedFiles, CorpusTwelveBitFileMatchesDcmtk) {
  if (!HaveTools()) GTEST_SKIP() << "DCMTK's dcmcjpeg/dcmdjpeg not installed";
  const std::string corpus = TestDataDir();
  if (corpus.empty()) GTEST_SKIP() << "public corpus not found";
  EXPECT_LE(CompareWithDcmtk(corpus + "/pydicom/JPGExtended.dcm", true), 2);
}

TEST(ExtendedStreams, DamagedStreamsNeverWriteOutsideTheFrame) {
  // A tiny valid 12-bit stream is made by hand-free means: cut and corrupt every byte of
  // a prefix of the corpus file's first frame when present.
  const std::string corpus = TestDataDir();
  if (corpus.empty()) GTEST_SKIP() << "public corpus not found";
  const Bytes file = ReadBytes(corpus + "/pydicom/JPGExtended.dcm");
  Bytes stream;
  for (size_t i = 8; i + 3 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xD8 && file[i + 2] == 0xFF) {
      const uint32_t n = file[i - 4] | file[i - 3] << 8 | file[i - 2] << 16 | uint32_t{file[i - 1]} << 24;
      stream.assign(file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(std::min<size_t>(i + n, file.size())));
      break;
    }
  ASSERT_FALSE(stream.empty());
  const int rows = 100, columns = 64;  // smaller than the picture: only the overlap is written
  const size_t frameBytes = static_cast<size_t>(rows) * columns * 2;
  for (size_t at = 0; at < stream.size(); at += std::max<size_t>(1, stream.size() / 150)) {
    for (bool cut : {true, false}) {
      Bytes s = stream;
      if (cut) s.resize(at); else s[at] ^= 0x5A;
      Bytes out(frameBytes + 32, 0xEE);
      DecodeJpegExtended(s.data(), s.size(), out.data(), rows, columns, 2);
      EXPECT_TRUE(std::all_of(out.end() - 32, out.end(), [](uint8_t v) { return v == 0xEE; })) << at;
    }
  }
}

}  // namespace
}  // namespace velmo::test
