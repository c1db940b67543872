// Native pixel data, the default window and FinishImageLoad.
#include <gtest/gtest.h>

#include <algorithm>

#include "render/convert.h"
#include "test_pixel_support.h"

namespace velmo::test {
namespace {

Bytes Ramp(size_t n, int step = 1) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * step);
  return out;
}

TEST(NativeLoad, CutShortByOneByteFailsWithTheSizeMessageAndExactLengthLoads) {
  Image im;
  im.rows = 3;
  im.columns = 5;  // 15 bytes: an odd value length, so no padding hides the cut
  const Bytes pixels = Ramp(15);
  const Bytes exact = NativeFile(im, pixels);

  MemoryLoad ok;
  ASSERT_TRUE(ok.Load(exact)) << ok.Failure();
  EXPECT_EQ(ok.FrameBytes(0), pixels);
  EXPECT_TRUE(ok.im().loaded);

  MemoryLoad shortLoad;
  const Bytes cut(exact.begin(), exact.end() - 1);
  EXPECT_FALSE(shortLoad.Load(cut));
  const std::string expected = "ヘッダで指定された画像サイズ(" + std::to_string(exact.size()) + ")よりファイルサイズ(" +
                               std::to_string(cut.size()) + ")のほうが小さい";
  EXPECT_EQ(shortLoad.Failure(), expected);
  EXPECT_TRUE(shortLoad.Shown("エラー"));
  EXPECT_FALSE(shortLoad.im().loaded);
  EXPECT_FALSE(shortLoad.im().extracted);
  EXPECT_FALSE(shortLoad.ctx.panes[1].loaded);
}

TEST(NativeLoad, KeepsBigEndianOrderAndPlanesAndWindowsFromTheStoredOrder) {
  Image im;
  im.rows = 1;
  im.columns = 3;
  im.bitsAllocated = 16;
  im.bitsStored = 12;
  const Bytes big = {0x01, 0x00, 0x0F, 0xFF, 0x00, 0x10};  // 256, 4095, 16
  MemoryLoad load;
  ASSERT_TRUE(load.Load(NativeFile(im, big, kExplicitBe)));
  EXPECT_EQ(load.FrameBytes(0), big);
  EXPECT_EQ(load.im().fileWindowWidth[0], 4095 - 16 + 1);
  EXPECT_EQ(load.im().fileWindowCenter[0], 16 + 4080 / 2);

  Image rgb;
  rgb.rows = 1;
  rgb.columns = 2;
  rgb.samples = 3;
  rgb.planar = 1;
  rgb.photometric = "RGB";
  const Bytes planes = {1, 2, 3, 4, 5, 6};  // R R G G B B
  MemoryLoad colour;
  ASSERT_TRUE(colour.Load(NativeFile(rgb, planes)));
  EXPECT_EQ(colour.FrameBytes(0), planes);
}

TEST(NativeLoad, InterleavedYbrFullIsShownInTrueColours) {
  Image im;
  im.rows = 1;
  im.columns = 2;
  im.samples = 3;
  im.photometric = "YBR_FULL";
  const Bytes ybr = {128, 128, 128, 255, 0, 255};
  MemoryLoad load;
  ASSERT_TRUE(load.Load(NativeFile(im, ybr)));
  EXPECT_EQ(load.FrameBytes(0), (Bytes{128, 128, 128, 255, 208, 28}));

  im.planar = 1;  // by plane: kept as stored
  MemoryLoad planes;
  ASSERT_TRUE(planes.Load(NativeFile(im, ybr)));
  EXPECT_EQ(planes.FrameBytes(0), ybr);
}

TEST(DefaultWindow, FollowsTheStoredRangeTheRescaleAndTheFileWindow) {
  // 8-bit 0..255, slope 1, intercept 0: width 256, centre 128.
  Image im;
  im.rows = 16;
  im.columns = 16;
  MemoryLoad grey;
  ASSERT_TRUE(grey.Load(NativeFile(im, Ramp(256))));
  EXPECT_EQ(grey.im().fileWindowWidth[0], 256);
  EXPECT_EQ(grey.im().fileWindowCenter[0], 128);

  // Only frame 0 is scanned; slope and intercept map the range; the halving of an
  // odd negative span rounds toward minus infinity.
  Image two;
  two.rows = 1;
  two.columns = 2;
  two.bitsAllocated = 16;
  two.pixelRepresentation = 1;
  two.frames = "2";
  two.slope = "-1";
  two.intercept = "10";
  MemoryLoad mapped;
  ASSERT_TRUE(mapped.Load(NativeFile(two, Le16({-4, 4, 30000, -30000}))));
  // Stored -4..4 -> 14..6 (min maps to 14, max to 6): width 6 - 14 + 1 = -7, centre 14 + floor(-3.5) = 10.
  EXPECT_EQ(mapped.im().fileWindowWidth[0], -7);
  EXPECT_EQ(mapped.im().fileWindowCenter[0], 10);

  // Signed values all below zero: the maximum keeps its starting 0.
  two.slope = "1";
  two.intercept = "0";
  MemoryLoad negative;
  ASSERT_TRUE(negative.Load(NativeFile(two, Le16({-50, -10, 0, 0}))));
  EXPECT_EQ(negative.im().fileWindowWidth[0], 51);
  EXPECT_EQ(negative.im().fileWindowCenter[0], -25);

  // A window in the file is kept; a colour image without one gets 256/128.
  im.windowCenter = "40.7";
  im.windowWidth = "400";
  MemoryLoad file;
  ASSERT_TRUE(file.Load(NativeFile(im, Ramp(256))));
  EXPECT_EQ(file.im().fileWindowCenter[0], 40);
  EXPECT_EQ(file.im().level, 40);
  EXPECT_EQ(file.im().width, 400);
}

// Signed one-byte samples: the default window, the window limits and the display all
// read them signed, so a ramp -10..+10 without window elements spans dark to bright.
TEST(DefaultWindow, SignedEightBitSamplesAreReadSigned) {
  Image im;
  im.rows = 16;
  im.columns = 16;
  im.pixelRepresentation = 1;
  Bytes ramp(256);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(static_cast<int8_t>(int(i % 21) - 10));
  MemoryLoad load;
  ASSERT_TRUE(load.Load(NativeFile(im, ramp))) << load.Failure();
  DicomImage& shown = load.im();
  EXPECT_EQ(shown.fileWindowWidth[0], 21);
  EXPECT_EQ(shown.fileWindowCenter[0], 0);
  EXPECT_EQ(shown.levelMin, -128);
  EXPECT_EQ(shown.levelMax, 127);

  RenderContext rc;
  PaneDisplay pane;
  pane.canvasWidth = pane.canvasHeight = 16;
  ASSERT_EQ(ConvertToDisplay(rc, pane, shown), ConvertResult::kDrawn);
  const uint32_t offset = shown.displayBitmap[10] | (shown.displayBitmap[11] << 8);
  const auto first = shown.displayBitmap.begin() + offset;
  const auto [lo, hi] = std::minmax_element(first, first + 256);
  EXPECT_LE(*lo, 10);
  EXPECT_GE(*hi, 240);  // before, with a window for unsigned bytes, the ramp stayed below 11
}

struct Limits {
  int levelMax, levelMin, widthMax;
};
Limits LimitsOf(uint16_t allocated, uint16_t stored, uint16_t signedness, const char* slope, const char* intercept,
                const char* photometric = "MONOCHROME2") {
  Image im;
  im.rows = 2;
  im.columns = 2;
  im.bitsAllocated = allocated;
  im.bitsStored = stored;
  im.pixelRepresentation = signedness;
  im.slope = slope;
  im.intercept = intercept;
  im.photometric = photometric;
  im.samples = std::string(photometric) == "RGB" ? 3 : 1;
  im.windowCenter = "1";
  im.windowWidth = "1";
  const size_t bytes = 4u * im.samples * (allocated > 8 ? 2 : 1);
  MemoryLoad load;
  EXPECT_TRUE(load.Load(NativeFile(im, Bytes(bytes, 0)))) << load.Failure();
  EXPECT_EQ(load.im().widthMin, 2);
  return {load.im().levelMax, load.im().levelMin, load.im().widthMax};
}

TEST(FinishImageLoad, WindowLimitsFromBitsAndRescale) {
  const Limits ct = LimitsOf(16, 12, 0, "1", "-1024");
  EXPECT_EQ(ct.levelMax, 3072);
  EXPECT_EQ(ct.levelMin, -1024);
  EXPECT_EQ(ct.widthMax, 4096);

  const Limits s16 = LimitsOf(16, 16, 1, "1", "0");
  EXPECT_EQ(s16.levelMax, 32767);
  EXPECT_EQ(s16.levelMin, -32768);
  EXPECT_EQ(s16.widthMax, 65536);

  const Limits rgb = LimitsOf(8, 8, 0, "1", "0", "RGB");
  EXPECT_EQ(rgb.levelMax, 1024);
  EXPECT_EQ(rgb.widthMax, 1024);

  // Bits stored beyond bits allocated is clamped to it; a huge slope saturates.
  const Limits clamped = LimitsOf(8, 200, 0, "1", "0");
  EXPECT_EQ(clamped.levelMax, 256);
  EXPECT_EQ(clamped.widthMax, 256);
  const Limits huge = LimitsOf(16, 16, 0, "1e30", "0");
  EXPECT_EQ(huge.levelMax, INT32_MAX);
  EXPECT_EQ(huge.widthMax, INT32_MAX);

  // A negative slope inverts the range: it collapses to max = min.
  const Limits inverted = LimitsOf(16, 12, 0, "-1", "100");
  EXPECT_EQ(inverted.levelMin, 100);
  EXPECT_EQ(inverted.levelMax, 100);
  EXPECT_EQ(inverted.widthMax, 2);
}

TEST(FinishImageLoad, HeldWindowCarriesOverAndThePaneIsReset) {
  Image im;
  im.windowCenter = "50";
  im.windowWidth = "300";
  MemoryLoad load;
  load.ctx.panes[1].levelWidthHold = true;
  load.ctx.panes[1].levelText = "-125";
  load.ctx.panes[1].widthText = std::string("777") + std::string(2000, '9');  // read from the first 1,024 chars
  ASSERT_TRUE(load.Load(NativeFile(im, Bytes(16, 0))));
  EXPECT_EQ(load.im().level, -125);
  EXPECT_EQ(load.im().width, INT32_MAX);
  EXPECT_EQ(load.im().fileWindowCenter[0], 50);
  EXPECT_EQ(load.resets, std::vector<int>{1});
  EXPECT_FALSE(load.ctx.panes[1].multiFrame);

  // Loading the same record again only finishes: the window follows the boxes again.
  load.ctx.panes[1].levelWidthHold = false;
  ASSERT_TRUE(LoadImageAtViewPosition(load.ctx, 1));
  EXPECT_EQ(load.im().level, 50);
  EXPECT_EQ(load.im().width, 300);
  EXPECT_EQ(load.resets.size(), 2u);
}

}  // namespace
}  // namespace velmo::test
