// RLE Lossless: PackBits with a stride, segment order, colour, YBR_FULL conversion,
// and RLE files through the whole load.
#include <gtest/gtest.h>

#include "dicom/rle_decode.h"
#include "test_pixel_support.h"

namespace velmo::test {
namespace {

TEST(PackBits, LiteralRepeatAndNoOpRuns) {
  // 2 literal bytes, a repeat of 4, a -128 no-op, a literal of 1.
  const Bytes src = {0x01, 10, 11, 0xFD, 7, 0x80, 0x00, 99};
  Bytes dst(7, 0);
  EXPECT_EQ(DecodePackBits(src.data(), src.size(), dst.data(), dst.size(), 0, 1), 7u);
  EXPECT_EQ(dst, (Bytes{10, 11, 7, 7, 7, 7, 99}));
}

TEST(PackBits, WritesEveryStrideThByteAndNeverPastTheDestination) {
  // Destination of 8 bytes inside a guarded buffer; stride 3 from byte 1 gives
  // positions 1, 4, 7. The runs offer far more bytes than that.
  Bytes guarded(8 + 16, 0xEE);
  uint8_t* dst = guarded.data() + 8;
  std::fill(dst, dst + 8, 0);
  const Bytes src = {0x81, 5, 0x7F};  // repeat 5 x128, then a literal promising 128 bytes
  EXPECT_EQ(DecodePackBits(src.data(), src.size(), dst, 8, 1, 3), 3u);
  EXPECT_EQ(Bytes(dst, dst + 8), (Bytes{0, 5, 0, 0, 5, 0, 0, 5}));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(guarded[i], 0xEE);
  for (int i = 16; i < 24; ++i) EXPECT_EQ(guarded[i], 0xEE);
}

TEST(PackBits, StopsAtTheEndOfTheSegment) {
  // A literal promising 5 bytes with only 2 present, and a repeat without its byte.
  Bytes dst(8, 0);
  const Bytes literal = {0x04, 1, 2};
  EXPECT_EQ(DecodePackBits(literal.data(), literal.size(), dst.data(), dst.size(), 0, 1), 2u);
  const Bytes repeat = {0xFE};
  EXPECT_EQ(DecodePackBits(repeat.data(), repeat.size(), dst.data(), dst.size(), 0, 2), 0u);
}

TEST(RleFrame, SixteenBitSamplesComeOutLittleEndianFromHighByteFirstSegments) {
  const Bytes pixels = Le16({0x1234, 0xABCD, 0x0001, 0xFF00});
  const Bytes fragment = RleFragment(RleSegments(pixels, 1, 2));
  Bytes frame(pixels.size(), 0);
  const RleFrameResult r = DecodeRleFrame(fragment.data(), fragment.size(), frame.data(), frame.size(), 16);
  EXPECT_TRUE(r.headerValid);
  EXPECT_EQ(r.segmentsRead, 2u);
  EXPECT_EQ(frame, pixels);
}

TEST(RleFrame, ColourSegmentsFillRedGreenAndBlue) {
  const Bytes red(6, 200), green = {1, 2, 3, 4, 5, 6}, blue(6, 9);
  Bytes frame(18, 0);
  const Bytes fragment = RleFragment({red, green, blue});
  DecodeRleFrame(fragment.data(), fragment.size(), frame.data(), frame.size(), 8);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(frame[3 * i], 200);
    EXPECT_EQ(frame[3 * i + 1], i + 1);
    EXPECT_EQ(frame[3 * i + 2], 9);
  }
}

TEST(RleFrame, DamagedHeadersDecodeNothingOrOnlyWhatIsInside) {
  Bytes frame(16, 0);
  Bytes fragment = RleFragment({Bytes(16, 5)});
  // More than 15 segments, or none.
  for (uint32_t count : {16u, 0u, 0xFFFFFFFFu}) {
    Bytes bad = fragment;
    bad[0] = static_cast<uint8_t>(count);
    bad[1] = bad[2] = bad[3] = static_cast<uint8_t>(count >> 8);
    const RleFrameResult r = DecodeRleFrame(bad.data(), bad.size(), frame.data(), frame.size(), 8);
    EXPECT_FALSE(r.headerValid) << count;
    EXPECT_EQ(frame, Bytes(16, 0));
  }
  // An offset outside the fragment gives an empty segment.
  Bytes outside = fragment;
  outside[4] = 0xFF;
  outside[5] = 0xFF;
  EXPECT_EQ(DecodeRleFrame(outside.data(), outside.size(), frame.data(), frame.size(), 8).bytesWritten, 0u);
  // A header cut short: only the offsets inside the fragment are read.
  EXPECT_EQ(DecodeRleFrame(fragment.data(), 6, frame.data(), frame.size(), 8).segmentsRead, 0u);
  // A zero offset ends the list: 3 segments named, the second offset 0.
  Bytes two = RleFragment({Bytes(4, 1), Bytes(4, 2), Bytes(4, 3)});
  two[8] = two[9] = two[10] = two[11] = 0;
  Bytes rgb(12, 0);
  const RleFrameResult r = DecodeRleFrame(two.data(), two.size(), rgb.data(), rgb.size(), 8);
  EXPECT_EQ(r.segmentsRead, 1u);
  EXPECT_EQ(rgb, (Bytes{1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0}));
}

TEST(YbrFull, ConvertsWithTruncationAndClamping) {
  Bytes px = {128, 128, 128, 255, 0, 255, 0, 255, 0};
  ConvertYbrFullToRgb(px.data(), 3);
  EXPECT_EQ(px[0], 128);
  EXPECT_EQ(px[1], 128);
  EXPECT_EQ(px[2], 128);
  EXPECT_EQ(px[3], 255);  // 433 clamped
  EXPECT_EQ(px[4], 208);
  EXPECT_EQ(px[5], 28);
  // Y 0, Cb 255, Cr 0: R = -179.5 -> 0, G = -43.7 + 91.4 = 47.7 -> 47, B = 225.0 -> 225.
  EXPECT_EQ(px[6], 0);
  EXPECT_EQ(px[7], 47);
  EXPECT_EQ(px[8], 225);
}

TEST(RleLoad, SignedSixteenBitImageLoadsWithItsDefaultWindow) {
  Image im;
  im.bitsAllocated = 16;
  im.pixelRepresentation = 1;
  im.intercept = "-1024";
  const std::vector<int> values = {-2000, 0, 5, 100, 3000, -1, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const Bytes pixels = Le16(values);
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {RleFragment(RleSegments(pixels, 1, 2))}, kRleLossless)))
      << load.Failure();
  EXPECT_EQ(load.FrameBytes(0), pixels);
  // min -2000 -> -3024, max 3000 -> 1976: width 5001, centre -3024 + 2500.
  EXPECT_EQ(load.im().fileWindowWidth[0], 5001);
  EXPECT_EQ(load.im().fileWindowCenter[0], -524);
  EXPECT_EQ(load.im().level, -524);
  EXPECT_EQ(load.im().width, 5001);
}

TEST(RleLoad, YbrFullFramesAreConvertedButYbrFull422AreNot) {
  Image im;
  im.rows = 1;
  im.columns = 2;
  im.samples = 3;
  const Bytes fragment = RleFragment({Bytes{128, 255}, Bytes{128, 0}, Bytes{128, 255}});
  for (const char* pi : {"YBR_FULL", "YBR_FULL_422"}) {
    im.photometric = pi;
    MemoryLoad load;
    ASSERT_TRUE(load.Load(EncapsulatedFile(im, {fragment}, kRleLossless)));
    const Bytes expected = std::string(pi) == "YBR_FULL" ? Bytes{128, 128, 128, 255, 208, 28}
                                                         : Bytes{128, 128, 128, 255, 0, 255};
    EXPECT_EQ(load.FrameBytes(0), expected) << pi;
    EXPECT_EQ(load.im().fileWindowWidth[0], 256);  // colour default window
    EXPECT_EQ(load.im().fileWindowCenter[0], 128);
  }
}

TEST(RleLoad, YbrFullFrameWithNothingDecodedStaysBlack) {
  Image im;
  im.rows = 1;
  im.columns = 2;
  im.samples = 3;
  im.photometric = "YBR_FULL";
  im.frames = "2";
  Bytes broken = RleFragment({Bytes{1, 2}, Bytes{3, 4}, Bytes{5, 6}});
  broken[0] = 99;  // more segments than allowed
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {broken}, kRleLossless)));
  EXPECT_EQ(load.FrameBytes(0), Bytes(6, 0));
  EXPECT_EQ(load.FrameBytes(1), Bytes(6, 0));
}

TEST(RleLoad, MultiFrameFilesGiveOneFragmentPerFrameAfterTheOffsetTable) {
  Image im;
  im.frames = "3";
  std::vector<Bytes> fragments;
  for (int f = 0; f < 3; ++f) fragments.push_back(RleFragment({Bytes(16, static_cast<uint8_t>(10 * (f + 1)))}));
  const uint32_t size0 = static_cast<uint32_t>(fragments[0].size() + 8);
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, fragments, kRleLossless, true, {0, size0, 2 * size0})));
  for (int f = 0; f < 3; ++f) EXPECT_EQ(load.FrameBytes(f), Bytes(16, static_cast<uint8_t>(10 * (f + 1))));
  EXPECT_TRUE(load.ctx.panes[1].multiFrame);
}

TEST(RleLoad, SingleFrameSpreadOverFragmentsIsJoined) {
  Image im;
  im.bitsAllocated = 16;
  Bytes pixels;
  for (int i = 0; i < 16; ++i) pixels.push_back(static_cast<uint8_t>(i * 7)), pixels.push_back(static_cast<uint8_t>(i));
  const Bytes whole = RleFragment(RleSegments(pixels, 1, 2));
  // Split the fragment in three uneven pieces (even lengths, as items require).
  const std::vector<Bytes> pieces = {Bytes(whole.begin(), whole.begin() + 40), Bytes(whole.begin() + 40, whole.begin() + 70),
                                     Bytes(whole.begin() + 70, whole.end())};
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, pieces, kRleLossless)));
  EXPECT_EQ(load.FrameBytes(0), pixels);
}

TEST(RleLoad, DamagedDataLeavesZerosAndNeverFails) {
  Image im;
  im.frames = "2";
  // Fragment 1 claims more segments than allowed; fragment 0 is cut short.
  Bytes literal;
  for (int i = 1; i <= 16; ++i) literal.push_back(static_cast<uint8_t>(i));
  Bytes cut = RleFragment({literal});  // 64-byte header, 17-byte literal run, padding
  cut.resize(cut.size() - 4);
  Bytes tooMany = RleFragment({Bytes(16, 60)});
  tooMany[0] = 16;
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {cut, tooMany}, kRleLossless)));
  const Bytes f0 = load.FrameBytes(0);
  EXPECT_EQ(f0[0], 1);
  EXPECT_EQ(f0[12], 13);
  EXPECT_EQ(f0[13], 0);  // cut off
  EXPECT_EQ(load.FrameBytes(1), Bytes(16, 0));
}

TEST(RleLoad, FragmentLongerThanTheFileIsBoundedByTheFile) {
  Image im;
  const Bytes fragment = RleFragment({Bytes(16, 77)});
  Bytes file = EncapsulatedFile(im, {fragment}, kRleLossless);
  // Drop the delimiter and make the fragment's item claim far more than is left.
  const size_t item = file.size() - 8 - fragment.size() - 8;
  file[item + 4] = 0xF0;
  file[item + 5] = 0xFF;
  file[item + 6] = 0xFF;
  file[item + 7] = 0x7F;
  file.resize(file.size() - 8);
  MemoryLoad load;
  ASSERT_TRUE(load.Load(file)) << load.Failure();
  EXPECT_EQ(load.FrameBytes(0), Bytes(16, 77));
}

}  // namespace
}  // namespace velmo::test
