// Files written at test time by DCMTK's command-line tools (img2dcm, dcmcrle, dcmcjpeg,
// dcmdjpeg, dcmconv), loaded and compared with the pixels they were made from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_pixel_support.h"

namespace velmo::test {
namespace {

bool HaveTools() {
  return std::system("command -v img2dcm dcmcrle dcmcjpeg dcmdjpeg dcmconv >/dev/null 2>&1") == 0;
}

#define REQUIRE_DCMTK() \
  if (!HaveTools()) GTEST_SKIP() << "DCMTK command-line tools (img2dcm, dcmcrle, dcmcjpeg, dcmdjpeg, dcmconv) not installed"

void Shell(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

// A bottom-up BMP of w x h pixels: 8-bit grey (with a grey palette) or 24-bit B, G, R.
// `pixels` is top row first, grey or R, G, B.
Bytes Bmp(int w, int h, int samples, const Bytes& pixels) {
  const int bpp = samples == 3 ? 24 : 8;
  const size_t rowBytes = (static_cast<size_t>(w) * samples + 3) & ~size_t{3};
  const size_t palette = samples == 3 ? 0 : 1024;
  const size_t offset = 14 + 40 + palette;
  const size_t size = offset + rowBytes * h;
  Bytes out;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  out.push_back('B');
  out.push_back('M');
  put(static_cast<uint32_t>(size), 4);
  put(0, 4);
  put(static_cast<uint32_t>(offset), 4);
  put(40, 4);
  put(static_cast<uint32_t>(w), 4);
  put(static_cast<uint32_t>(h), 4);
  put(1, 2);
  put(static_cast<uint32_t>(bpp), 2);
  put(0, 4);
  put(static_cast<uint32_t>(rowBytes * h), 4);
  put(2835, 4);
  put(2835, 4);
  put(samples == 3 ? 0 : 256, 4);
  put(0, 4);
  for (int i = 0; i < (samples == 3 ? 0 : 256); ++i) put(static_cast<uint32_t>(i * 0x010101), 4);
  for (int y = h - 1; y >= 0; --y) {
    const uint8_t* row = pixels.data() + static_cast<size_t>(y) * w * samples;
    for (int x = 0; x < w; ++x) {
      if (samples == 3) {
        out.push_back(row[3 * x + 2]);
        out.push_back(row[3 * x + 1]);
        out.push_back(row[3 * x]);
      } else {
        out.push_back(row[x]);
      }
    }
    for (size_t pad = static_cast<size_t>(w) * samples; pad < rowBytes; ++pad) out.push_back(0);
  }
  return out;
}

// A smooth picture with some detail, top row first.
Bytes Picture(int w, int h, int samples, int seed = 0) {
  Bytes out(static_cast<size_t>(w) * h * samples);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int s = 0; s < samples; ++s)
        out[(static_cast<size_t>(y) * w + x) * samples + s] =
            static_cast<uint8_t>(20 + x * 2 + y * 2 + s * 30 + seed * 10);
  return out;
}

int WorstDifference(const Bytes& a, const Bytes& b) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
  return worst;
}

class DcmtkFiles : public ::testing::Test {
 protected:
  Bytes LoadFrames(const std::string& name, MemoryLoad& load) {
    EXPECT_TRUE(load.Load(ReadBytes(dir.File(name)), "/mem/" + name)) << name << ": " << load.Failure();
    return load.im().pixelData;
  }
  TempDir dir;
};

TEST_F(DcmtkFiles, EightBitGreyAndColourNativeRleAndJpeg) {
  REQUIRE_DCMTK();
  const int w = 37, h = 29;  // odd sizes: partial JPEG blocks, odd BMP rows
  for (int samples : {1, 3}) {
    SCOPED_TRACE(samples);
    const Bytes source = Picture(w, h, samples);
    WriteBytes(dir.File("src.bmp"), Bmp(w, h, samples, source));
    Shell("img2dcm -i BMP " + dir.File("src.bmp") + " " + dir.File("native.dcm"));
    Shell("dcmcrle " + dir.File("native.dcm") + " " + dir.File("rle.dcm"));
    Shell("dcmcjpeg +eb +sr +q 95 " + dir.File("native.dcm") + " " + dir.File("jpeg.dcm"));
    // (+sr: grey values are encoded as stored, not rescaled to their min-max range.)
    // DCMTK's own decode of the JPEG file, colour converted back to RGB.
    Shell("dcmdjpeg " + dir.File("jpeg.dcm") + " " + dir.File("jpeg_decoded.dcm"));

    MemoryLoad native, rle, jpeg, reference;
    EXPECT_EQ(LoadFrames("native.dcm", native), source);
    EXPECT_EQ(LoadFrames("rle.dcm", rle), source);
    const Bytes decoded = LoadFrames("jpeg.dcm", jpeg);
    const Bytes dcmtk = LoadFrames("jpeg_decoded.dcm", reference);
    EXPECT_LE(WorstDifference(decoded, dcmtk), samples == 3 ? 3 : 2);
    EXPECT_LE(WorstDifference(decoded, source), samples == 3 ? 24 : 8);
    EXPECT_EQ(Utf8FromSjis(std::string(jpeg.im().transferSyntaxUid.view())), kJpegBaseline);
    if (samples == 3) EXPECT_EQ(jpeg.im().fileWindowWidth[0], 256);
  }
}

TEST_F(DcmtkFiles, SixteenBitSignedRleAndBigEndian) {
  REQUIRE_DCMTK();
  Image im;
  im.rows = 33;
  im.columns = 65;
  im.bitsAllocated = 16;
  im.pixelRepresentation = 1;
  im.intercept = "-1024";
  std::vector<int> values;
  for (int i = 0; i < 33 * 65; ++i) values.push_back((i * 37) % 4000 - 2000 + (i % 7 == 0 ? 0 : i % 3));
  const Bytes little = Le16(values);
  WriteBytes(dir.File("native.dcm"), NativeFile(im, little));
  Shell("dcmcrle " + dir.File("native.dcm") + " " + dir.File("rle.dcm"));
  Shell("dcmconv +tb " + dir.File("native.dcm") + " " + dir.File("big.dcm"));

  MemoryLoad native, rle, big;
  LoadFrames("native.dcm", native);
  EXPECT_EQ(LoadFrames("rle.dcm", rle), little);
  Bytes swapped = little;
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  EXPECT_EQ(LoadFrames("big.dcm", big), swapped);  // kept in the stored order
  for (MemoryLoad* l : {&rle, &big}) {
    EXPECT_EQ(l->im().fileWindowCenter[0], native.im().fileWindowCenter[0]);
    EXPECT_EQ(l->im().fileWindowWidth[0], native.im().fileWindowWidth[0]);
    EXPECT_EQ(l->im().levelMax, 32768 - 1024 - 1);
    EXPECT_EQ(l->im().levelMin, -(32768 - 1024));
  }
}

TEST_F(DcmtkFiles, MultiFrameRleAndJpegWithOffsetTables) {
  REQUIRE_DCMTK();
  Image im;
  im.rows = 24;
  im.columns = 40;
  im.frames = "4";
  Bytes frames;
  for (int f = 0; f < 4; ++f) {
    const Bytes p = Picture(40, 24, 1, f);
    frames.insert(frames.end(), p.begin(), p.end());
  }
  WriteBytes(dir.File("native.dcm"), NativeFile(im, frames));
  Shell("dcmcrle " + dir.File("native.dcm") + " " + dir.File("rle.dcm"));
  Shell("dcmcjpeg +eb +sr +q 95 " + dir.File("native.dcm") + " " + dir.File("jpeg.dcm"));
  Shell("dcmdjpeg " + dir.File("jpeg.dcm") + " " + dir.File("jpeg_decoded.dcm"));

  MemoryLoad rle, jpeg, reference;
  EXPECT_EQ(LoadFrames("rle.dcm", rle), frames);
  const Bytes decoded = LoadFrames("jpeg.dcm", jpeg);
  EXPECT_LE(WorstDifference(decoded, LoadFrames("jpeg_decoded.dcm", reference)), 2);
  EXPECT_LE(WorstDifference(decoded, frames), 8);
  EXPECT_TRUE(jpeg.ctx.panes[1].multiFrame);
}

}  // namespace
}  // namespace velmo::test
