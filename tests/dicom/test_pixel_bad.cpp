// Damaged and hostile headers: the pixel stage fails cleanly or shows black frames,
// and never allocates what no real file could need.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "test_pixel_support.h"

namespace velmo::test {
namespace {

TEST(PixelBadInput, RowsOrColumnsOfZeroFailAsUnsupported) {
  for (int zero : {0, 1}) {
    Image im;
    (zero == 0 ? im.rows : im.columns) = 0;
    for (const char* ts : {kExplicitLe, kRleLossless, kJpegBaseline}) {
      MemoryLoad load;
      const Bytes file = std::string(ts) == kExplicitLe ? NativeFile(im, Bytes(16, 1))
                                                        : EncapsulatedFile(im, {Bytes(16, 1)}, ts);
      EXPECT_FALSE(load.Load(file)) << ts;
      EXPECT_EQ(load.Failure(), "未対応フォーマットのファイルです");
      EXPECT_FALSE(load.im().loaded);
      EXPECT_TRUE(load.ctx.fileBuffer.empty());
    }
  }
}

TEST(PixelBadInput, FrameCountsNoFileCouldHoldFailWithoutAllocating) {
  Image im;
  im.rows = 512;
  im.columns = 512;
  im.bitsAllocated = 16;
  im.frames = "2147483647";  // 2^31 - 1 frames of 512 KiB
  // Native: the size check comes first and reports the promised size.
  MemoryLoad native;
  EXPECT_FALSE(native.Load(NativeFile(im, Bytes(512 * 512 * 2, 0))));
  EXPECT_NE(native.Failure().find("ヘッダで指定された画像サイズ("), std::string::npos);
  EXPECT_TRUE(native.Shown("エラー"));
  // Compressed: far beyond what the data could expand to.
  for (const char* ts : {kRleLossless, kJpegBaseline, "1.2.840.10008.1.2.4.70"}) {
    MemoryLoad load;
    EXPECT_FALSE(load.Load(EncapsulatedFile(im, {Bytes(64, 0)}, ts))) << ts;
    EXPECT_EQ(load.Failure(), "未対応フォーマットのファイルです");
    EXPECT_TRUE(load.im().pixelData.empty());
  }
  // A large but plausible compressed image is allocated and decoded as far as it goes.
  im.frames = "64";  // 32 MiB
  MemoryLoad plausible;
  EXPECT_TRUE(plausible.Load(EncapsulatedFile(im, {RleFragment({Bytes(8, 1), Bytes(8, 2)})}, kRleLossless)));
  EXPECT_EQ(plausible.im().pixelData.size(), 64u * 512 * 512 * 2);
}

TEST(PixelBadInput, EncapsulatedDataWithoutItemsLoadsAsBlackFrames) {
  Image im;
  im.frames = "2";
  for (const char* ts : {kRleLossless, kJpegBaseline}) {
    // The pixel data element with undefined length followed straight by the delimiter,
    // and one followed by bytes that are no item at all.
    DicomWriter empty = ImageHeader(im, 1);
    empty.Header(0x7FE0, 0x0010, "OB", 0xFFFFFFFFu).Raw(Bytes{0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0});
    DicomWriter junk = ImageHeader(im, 1);
    junk.Header(0x7FE0, 0x0010, "OB", 0xFFFFFFFFu).Raw(Bytes{0xFF, 0xD8, 0x01, 0x02, 0x00, 0x00, 0x00});
    for (const DicomWriter* w : {&empty, &junk}) {
      MemoryLoad load;
      ASSERT_TRUE(load.Load(MakeFile(ts, w->bytes()))) << ts << " " << load.Failure();
      EXPECT_EQ(load.im().pixelData, Bytes(32, 0));
    }
  }
}

TEST(PixelBadInput, UnsupportedCompressionShowsBlackFramesWithTheWarning) {
  Image im;
  im.bitsAllocated = 16;
  // MPEG2 data far shorter than the native size: no size check, black frame.
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {Bytes{0xFF, 0xD8, 0xFF, 0xF7, 1, 2}}, "1.2.840.10008.1.2.4.100")))
      << load.Failure();
  EXPECT_EQ(load.im().pixelData, Bytes(32, 0));
  EXPECT_TRUE(load.Shown("警告"));
  EXPECT_TRUE(load.im().loaded);
}

TEST(PixelBadInput, HugeJpegHeaderInASmallImageIsRefusedNotDecoded) {
  // A real 8 x 8 stream whose frame header is patched to claim 65000 x 65000 pixels.
  tjhandle tj = tjInitCompress();
  const Bytes grey(64, 100);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(tj, grey.data(), 8, 0, 8, TJPF_GRAY, &jpeg, &size, TJSAMP_GRAY, 90, 0), 0);
  Bytes stream(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(tj);
  if (stream.size() % 2) stream.push_back(0);
  size_t sof = 0;
  for (size_t i = 0; i + 1 < stream.size(); ++i)
    if (stream[i] == 0xFF && stream[i + 1] == 0xC0) sof = i;
  ASSERT_NE(sof, 0u);
  stream[sof + 5] = stream[sof + 7] = 0xFD;
  stream[sof + 6] = stream[sof + 8] = 0xE8;
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(Image{}, {stream}, kJpegBaseline)));
  EXPECT_EQ(load.im().pixelData, Bytes(16, 0));
}

}  // namespace
}  // namespace velmo::test
