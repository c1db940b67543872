// JPEG baseline frames: made here with libjpeg-turbo's encoder and compared with a
// plain decode of the same stream.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "test_pixel_support.h"

namespace velmo::test {
namespace {

// A smooth test picture (so JPEG keeps it close) of w x h pixels with `samples` bytes.
Bytes Picture(int w, int h, int samples, int seed) {
  Bytes out(static_cast<size_t>(w) * h * samples);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int s = 0; s < samples; ++s)
        out[(static_cast<size_t>(y) * w + x) * samples + s] = static_cast<uint8_t>((x * 2 + y * 2 + s * 40 + seed * 10) % 256);
  return out;
}

Bytes Compress(const Bytes& pixels, int w, int h, int samples, int quality = 95) {
  tjhandle tj = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(tj, pixels.data(), w, 0, h, samples == 3 ? TJPF_RGB : TJPF_GRAY, &jpeg, &size,
                             samples == 3 ? TJSAMP_420 : TJSAMP_GRAY, quality, 0);
  EXPECT_EQ(rc, 0) << tjGetErrorStr2(tj);
  Bytes out(jpeg, jpeg + size);
  if (out.size() % 2) out.push_back(0);  // items have even length
  tjFree(jpeg);
  tjDestroy(tj);
  return out;
}

// What a plain libjpeg-turbo decode gives for the stream.
Bytes PlainDecode(const Bytes& jpeg, int samples, int* w = nullptr, int* h = nullptr) {
  tjhandle tj = tjInitDecompress();
  int width = 0, height = 0, sub = 0, cs = 0;
  tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &width, &height, &sub, &cs);
  Bytes out(static_cast<size_t>(width) * height * samples);
  tjDecompress2(tj, jpeg.data(), jpeg.size(), out.data(), width, 0, height, samples == 3 ? TJPF_RGB : TJPF_GRAY, 0);
  tjDestroy(tj);
  if (w) *w = width;
  if (h) *h = height;
  return out;
}

Image JpegImage(int rows, int columns, int samples) {
  Image im;
  im.rows = static_cast<uint16_t>(rows);
  im.columns = static_cast<uint16_t>(columns);
  im.samples = static_cast<uint16_t>(samples);
  im.photometric = samples == 3 ? "YBR_FULL_422" : "MONOCHROME2";
  return im;
}

TEST(JpegLoad, GreyAndColourFramesEqualAPlainDecode) {
  for (int samples : {1, 3}) {
    SCOPED_TRACE(samples);
    const Bytes source = Picture(40, 24, samples, 1);
    const Bytes jpeg = Compress(source, 40, 24, samples);
    MemoryLoad load;
    ASSERT_TRUE(load.Load(EncapsulatedFile(JpegImage(24, 40, samples), {jpeg}, kJpegBaseline))) << load.Failure();
    EXPECT_EQ(load.FrameBytes(0), PlainDecode(jpeg, samples));
    // And close to the source picture.
    int worst = 0;
    const Bytes got = load.FrameBytes(0);
    for (size_t i = 0; i < source.size(); ++i) worst = std::max(worst, std::abs(int{got[i]} - int{source[i]}));
    EXPECT_LE(worst, 8);
  }
}

TEST(JpegLoad, MultiFrameFileWithOffsetTableFillsEachFrame) {
  std::vector<Bytes> fragments;
  std::vector<uint32_t> offsets;
  uint32_t at = 0;
  for (int f = 0; f < 3; ++f) {
    fragments.push_back(Compress(Picture(16, 16, 3, f), 16, 16, 3));
    offsets.push_back(at);
    at += static_cast<uint32_t>(fragments.back().size() + 8);
  }
  Image im = JpegImage(16, 16, 3);
  im.frames = "3";
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, fragments, kJpegBaseline, true, offsets)));
  ASSERT_EQ(load.im().pixelData.size(), 3u * 16 * 16 * 3);
  for (int f = 0; f < 3; ++f) EXPECT_EQ(load.FrameBytes(f), PlainDecode(fragments[f], 3)) << f;
  EXPECT_TRUE(load.ctx.panes[1].multiFrame);
}

TEST(JpegLoad, FrameSpreadOverFragmentsIsJoinedUpToTheNextStreamStart) {
  const Bytes a = Compress(Picture(32, 16, 1, 2), 32, 16, 1);
  const Bytes b = Compress(Picture(32, 16, 1, 3), 32, 16, 1);
  // Frame 0 in three pieces, frame 1 whole.
  const size_t third = (a.size() / 3) & ~size_t{1};
  std::vector<Bytes> fragments = {Bytes(a.begin(), a.begin() + static_cast<long>(third)),
                                  Bytes(a.begin() + static_cast<long>(third), a.begin() + static_cast<long>(2 * third)),
                                  Bytes(a.begin() + static_cast<long>(2 * third), a.end()), b};
  Image im = JpegImage(16, 32, 1);
  im.frames = "2";
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, fragments, kJpegBaseline)));
  EXPECT_EQ(load.FrameBytes(0), PlainDecode(a, 1));
  EXPECT_EQ(load.FrameBytes(1), PlainDecode(b, 1));
}

TEST(JpegLoad, JpegOfAnotherSizeIsDecodedAtItsOwnSizeAndTheOverlapCopied) {
  // 20 x 12 JPEG in an 8 x 16 image (wider, lower), and in a 30 x 30 image (fits).
  const Bytes jpeg = Compress(Picture(20, 12, 1, 4), 20, 12, 1);
  const Bytes plain = PlainDecode(jpeg, 1);
  MemoryLoad narrow;
  ASSERT_TRUE(narrow.Load(EncapsulatedFile(JpegImage(16, 8, 1), {jpeg}, kJpegBaseline)));
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 8; ++c)
      EXPECT_EQ(narrow.frame(0)[r * 8 + c], r < 12 ? plain[static_cast<size_t>(r) * 20 + c] : 0) << r << "," << c;
  MemoryLoad wide;
  ASSERT_TRUE(wide.Load(EncapsulatedFile(JpegImage(30, 30, 1), {jpeg}, kJpegBaseline)));
  for (int r = 0; r < 30; ++r)
    for (int c = 0; c < 30; ++c)
      EXPECT_EQ(wide.frame(0)[r * 30 + c], r < 12 && c < 20 ? plain[static_cast<size_t>(r) * 20 + c] : 0);
}

TEST(JpegLoad, FramesWithoutDataStayBlack) {
  const Bytes jpeg = Compress(Picture(8, 8, 1, 5), 8, 8, 1);
  // More frames than fragments; a 16-bit grey image (nothing is copied into it).
  Image im = JpegImage(8, 8, 1);
  im.frames = "3";
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {jpeg}, kJpegBaseline)));
  EXPECT_EQ(load.FrameBytes(0), PlainDecode(jpeg, 1));
  EXPECT_EQ(load.FrameBytes(1), Bytes(64, 0));
  EXPECT_EQ(load.FrameBytes(2), Bytes(64, 0));

  Image wide = JpegImage(8, 8, 1);
  wide.bitsAllocated = 16;
  wide.bitsStored = 12;
  MemoryLoad sixteen;
  ASSERT_TRUE(sixteen.Load(EncapsulatedFile(wide, {jpeg}, kJpegBaseline)));
  EXPECT_EQ(sixteen.FrameBytes(0), Bytes(128, 0));
}

TEST(JpegLoad, CutOffOrCorruptStreamsGivePartlyBlackFramesNotFailures) {
  const Bytes jpeg = Compress(Picture(64, 64, 1, 6), 64, 64, 1, 100);
  // Cut in the middle of the entropy-coded data: the top rows decode, the load succeeds.
  Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2 & ~size_t{1}));
  MemoryLoad half;
  ASSERT_TRUE(half.Load(EncapsulatedFile(JpegImage(64, 64, 1), {cut}, kJpegBaseline)));
  const Bytes plain = PlainDecode(jpeg, 1);
  EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 64 * 8, half.frame(0)));

  // A stream start followed by rubbish: nothing decodes.
  Bytes rubbish = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0x12, 0x34};
  MemoryLoad corrupt;
  ASSERT_TRUE(corrupt.Load(EncapsulatedFile(JpegImage(64, 64, 1), {rubbish}, kJpegBaseline)));
  EXPECT_EQ(corrupt.FrameBytes(0), Bytes(64 * 64, 0));
}

}  // namespace
}  // namespace velmo::test
