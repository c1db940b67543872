// Sample reading, the window mapping, the VOI table, the palette blend and the
// colour brightness/saturation.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "reference_render.h"
#include "render/value_map.h"

namespace velmo {
namespace {

DicomImage Ct() {
  DicomImage im;
  im.bitsAllocated = 16;
  im.bitsStored = 12;
  im.rescaleSlope = 1.0f;
  im.rescaleIntercept = -1024;
  im.level = 40;
  im.width = 400;
  return im;
}

TEST(WindowMapping, CtWindowWorkedNumbers) {
  const DicomImage im = Ct();
  const WindowMapping m = WindowMapping::Of(im);
  EXPECT_EQ(m.inv, 2621);
  EXPECT_EQ(m.Index(864), 0);     // -160: bottom of the window
  EXPECT_EQ(m.Index(1064), 127);  // 40: the level, 127 because of the truncated scale
  EXPECT_EQ(m.Index(1264), 255);  // 240: top of the window
  EXPECT_EQ(m.Index(4000), 255);
  EXPECT_EQ(m.Index(0), 0);
}

TEST(SampleFormat, SignedUnsignedAndByteOrder) {
  DicomImage im;
  im.bitsAllocated = 16;
  im.bitsStored = 12;
  im.pixelRepresentation = 1;
  SampleFormat f = SampleFormat::Of(im);
  EXPECT_EQ(f.Value(f.ValueWord(0x0FFF)), -1);
  EXPECT_EQ(f.Value(f.ValueWord(0x07FF)), 2047);
  EXPECT_EQ(f.Value(f.ValueWord(0xF800)), -2048);  // bits above bits stored do not count

  // Unsigned 16-bit: large positive with intercept >= 0, negative with a negative intercept.
  im.bitsStored = 16;
  im.pixelRepresentation = 0;
  f = SampleFormat::Of(im);
  EXPECT_EQ(f.Value(f.ValueWord(40000)), 40000);
  im.rescaleIntercept = -1;
  f = SampleFormat::Of(im);
  EXPECT_EQ(f.Value(f.ValueWord(40000)), 40000 - 65536);

  // Unsigned 12-bit samples are not masked.
  im.bitsStored = 12;
  im.rescaleIntercept = 0;
  f = SampleFormat::Of(im);
  EXPECT_EQ(f.Value(f.ValueWord(0xF001)), int16_t(0xF001));

  // Native big endian keeps the file's byte order; decoded data is little endian.
  im.syntaxType = kExplicitBig;
  im.pixelDataLength = 100;
  f = SampleFormat::Of(im);
  EXPECT_EQ(f.ValueWord(0x3412), 0x1234);
  im.pixelDataLength = 0xFFFFFFFFu;
  f = SampleFormat::Of(im);
  EXPECT_EQ(f.ValueWord(0x3412), 0x3412);

  // Signed one-byte samples extend from bits stored.
  DicomImage b;
  b.bitsAllocated = 8;
  b.bitsStored = 8;
  b.pixelRepresentation = 1;
  f = SampleFormat::Of(b);
  EXPECT_EQ(f.Value(f.ValueWord(0xFF)), -1);
  EXPECT_EQ(f.Value(f.ValueWord(0x7F)), 127);
}

// Narrow and degenerate windows: exhaustively over all sample values the mapping
// equals the formula evaluated in 128 bits, and is the clamped mapping.
TEST(WindowMapping, NarrowWindowsAndExtremeRescaleNeverOverflow) {
  const int widths[] = {-100000, -2, -1, 0, 1, 2, 3, 7};
  const float slopes[] = {1.0f, 1000.0f, -3.5f, 2e6f, 1e30f};
  const int32_t intercepts[] = {0, -1024, 2000000000, -2000000000};
  for (int w : widths)
    for (float slope : slopes)
      for (int32_t icpt : intercepts) {
        DicomImage im;
        im.bitsAllocated = 16;
        im.bitsStored = 16;
        im.pixelRepresentation = 1;
        im.rescaleSlope = slope;
        im.rescaleIntercept = icpt;
        im.level = 1000;
        im.width = w;
        const WindowMapping m = WindowMapping::Of(im);
        for (int v = -32768; v <= 32767; ++v) {
          ASSERT_EQ(m.Index(v), test::RefGrey(im, v)) << "w " << w << " slope " << slope << " v " << v;
          if (w < 2 && slope == 1.0f && icpt == 0) {
            ASSERT_EQ(m.Index(v), v > 1000 ? 255 : 0);
          }
        }
      }
}

TEST(VoiTable, IndexPastTheEndTakesTheLastEntryAndEmptyMeansNone) {
  DicomImage im;
  im.hasVoiLut = 1;
  im.voiLutBits = 8;
  im.voiLutData = {0x0110, 0x0122, 0x0133};
  VoiTable t = VoiTable::Of(im);
  EXPECT_EQ(t.Apply(0), 0x10);
  EXPECT_EQ(t.Apply(2), 0x33);
  EXPECT_EQ(t.Apply(200), 0x33);
  im.voiLutData.clear();
  EXPECT_EQ(VoiTable::Of(im).Apply(200), 200);
  im.voiLutData = {1, 2};
  im.voiLutBits = 16;
  EXPECT_EQ(VoiTable::Of(im).Apply(1), 1);  // only 8-bit tables apply
}

TEST(PaletteBlend, BelowShowsRowZeroAndTheTopRow255EvenForNarrowWindows) {
  std::array<uint8_t, 768> pal{};
  for (int k = 0; k < 256; ++k) pal[k * 3] = uint8_t(k), pal[k * 3 + 1] = uint8_t(255 - k), pal[k * 3 + 2] = 7;
  pal[0] = 11;
  for (int w : {1, 40, 100, 255, 256, 400, 5000}) {
    DicomImage im;
    im.bitsAllocated = 16;
    im.bitsStored = 16;
    im.level = 1000;
    im.width = w;
    const WindowMapping m = WindowMapping::Of(im);
    EXPECT_EQ(PaletteBlend(m.X(-20000), pal), uint32_t(7 | 255 << 8 | 11 << 16)) << w;
    const uint32_t top = uint32_t(7 | 0 << 8 | 255 << 16);
    EXPECT_EQ(PaletteBlend(m.X(1000 + w / 2 + 1), pal), top) << w;
    EXPECT_EQ(PaletteBlend(m.X(30000), pal), top) << w;
  }
  // Half-way between rows 10 and 11 with the 12-bit fraction.
  EXPECT_EQ(PaletteBlend(10 * 4096 + 2048, pal), uint32_t(7 | (245 - 1) << 8 | 10 << 16));
}

TEST(AdjustColour, NeutralKeepsColoursAndTheControlsActAsDescribed) {
  std::mt19937 rng(9);
  for (int i = 0; i < 20000; ++i) {
    const int r = int(rng() & 255), g = int(rng() & 255), b = int(rng() & 255);
    uint8_t out[3];
    AdjustColour(r, g, b, 128, 256, out);
    EXPECT_NEAR(out[0], r, 3);
    EXPECT_NEAR(out[1], g, 3);
    EXPECT_NEAR(out[2], b, 3);
    AdjustColour(r, g, b, 128, 0, out);  // no saturation: grey at V
    const int v = std::max({r, g, b});
    EXPECT_EQ(out[0], v);
    EXPECT_EQ(out[1], v);
    EXPECT_EQ(out[2], v);
    AdjustColour(r, g, b, 64, 256, out);  // darker
    EXPECT_LE(out[0] + out[1] + out[2], r + g + b);
  }
  uint8_t grey[3];
  AdjustColour(90, 90, 90, 128, 256, grey);
  EXPECT_EQ(grey[0], 90);
}

// The 64-bit fast form against 128-bit arithmetic, including levels and widths far
// outside the controls' ranges.
TEST(AdjustColour, MatchesTheWideReference) {
  std::mt19937 rng(10);
  for (int i = 0; i < 200000; ++i) {
    const int r = int(rng() & 255), g = int(rng() & 255), b = int(rng() & 255);
    int32_t level, width;
    if (i % 4 == 0) {
      level = int32_t(rng()), width = int32_t(rng());
    } else {
      level = int32_t(rng() % 2200) - 100, width = int32_t(rng() % 2200) - 100;
    }
    uint8_t out[3];
    AdjustColour(r, g, b, level, width, out);
    const uint32_t ref = test::RefHsv(r, g, b, level, width);
    ASSERT_EQ(uint32_t(out[2] | out[1] << 8 | out[0] << 16), ref) << r << "," << g << "," << b << " L" << level << " W" << width;
  }
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

// The eight-pixel form against the per-pixel form: every colour at the strongest
// settings the 32-bit lanes take (all divisions and the largest products), then
// random colours with settings inside and beyond the limit, odd lengths (the
// per-pixel tail) and unaligned outputs.
TEST(AdjustColour, RowFormMatchesThePerPixelForm) {
  std::vector<uint32_t> in(1u << 24);
  for (uint32_t c = 0; c < in.size(); ++c) in[c] = c;
  std::vector<uint8_t> fast(in.size() * 4 + 3), slow(in.size() * 4 + 3);
  const int32_t lim = kColourLanesLimit;
  AdjustColourRow(in.data(), fast.data() + 3, in.size(), -lim, lim);
  AdjustColourRowScalar(in.data(), slow.data() + 3, in.size(), -lim, lim);
  ASSERT_TRUE(fast == slow);

  std::mt19937 rng(11);
  const int32_t corners[][2] = {{lim, lim}, {-lim, -lim}, {lim, -lim}, {128, 256}, {lim + 1, 256}, {128, -lim - 1}};
  for (int round = 0; round < 200; ++round) {
    int32_t level, width;
    if (round < 6) {
      level = corners[round][0], width = corners[round][1];
    } else {
      level = int32_t(rng() % (2 * lim + 201)) - lim - 100;
      width = int32_t(rng() % (2 * lim + 201)) - lim - 100;
    }
    const size_t count = 1 + rng() % 3000;
    for (size_t k = 0; k < count; ++k) in[k] = rng() & 0xFFFFFF;
    const size_t skew = rng() % 4;
    AdjustColourRow(in.data(), fast.data() + skew, count, level, width);
    AdjustColourRowScalar(in.data(), slow.data() + skew, count, level, width);
    ASSERT_EQ(0, std::memcmp(fast.data() + skew, slow.data() + skew, count * 4)) << "L" << level << " W" << width;
    // And the bytes are those of AdjustColour: blue, green, red, 0.
    uint8_t rgb[3];
    AdjustColour(int(in[0] >> 16 & 255), int(in[0] >> 8 & 255), int(in[0] & 255), level, width, rgb);
    const uint8_t expected[4] = {rgb[2], rgb[1], rgb[0], 0};
    ASSERT_EQ(0, std::memcmp(fast.data() + skew, expected, 4));
  }
}

// The reciprocal division used by the colour adjustment, over every numerator and
// divisor it can meet (numerators up to 255 * 1024).
TEST(AdjustColour, SmallDivisionIsExactOverItsWholeRange) {
  for (int d = 1; d < 256; ++d)
    for (int n = 0; n <= 255 * 1024; ++n)
      if (DivSmall(n, d) != n / d) FAIL() << n << " / " << d;
}

}  // namespace
}  // namespace velmo
