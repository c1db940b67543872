// ConvertToDisplay: the bitmap layout, the paths through it and the equality of the
// fast loops with the per-pixel reference renderer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "reference_render.h"
#include "render/convert.h"
#include "render/value_map.h"
#include "render_fixtures.h"
#include "base/text.h"
#include "support/test_util.h"

namespace velmo {
namespace {

using test::MakeColour;
using test::MakeGrey;

std::vector<uint8_t> PixelArea(const DicomImage& im) {
  const uint32_t off = BitmapU32(im.displayBitmap, 10);
  const size_t n = size_t(BitmapU32(im.displayBitmap, 18)) * BitmapU32(im.displayBitmap, 22) *
                   (BitmapU16(im.displayBitmap, 28) / 8);
  return std::vector<uint8_t>(im.displayBitmap.begin() + off, im.displayBitmap.begin() + off + n);
}

PaneDisplay Pane(int wc, int hc) {
  PaneDisplay p;
  p.canvasWidth = wc;
  p.canvasHeight = hc;
  return p;
}

TEST(ConvertToDisplay, WritesTheBitmapHeadersAndColourTable) {
  std::mt19937 rng(1);
  DicomImage im = MakeGrey(64, 64, 16, 12, 0, rng);
  RenderContext ctx;
  PaneDisplay pane = Pane(100, 60);  // width used as 100, side 60
  ASSERT_EQ(ConvertToDisplay(ctx, pane, im), ConvertResult::kDrawn);
  const auto& b = im.displayBitmap;
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(BitmapU32(b, 2), 100u * 60 * 2 + 1078);
  EXPECT_EQ(BitmapU32(b, 6), 0u);
  EXPECT_EQ(BitmapU32(b, 10), 1078u);
  EXPECT_EQ(BitmapU32(b, 14), 40u);
  EXPECT_EQ(BitmapU32(b, 18), 100u);
  EXPECT_EQ(BitmapU32(b, 22), 60u);
  EXPECT_EQ(BitmapU16(b, 26), 1);
  EXPECT_EQ(BitmapU16(b, 28), 8);
  EXPECT_EQ(BitmapU32(b, 30), 0u);
  EXPECT_EQ(BitmapU32(b, 34), 0u);
  EXPECT_EQ(BitmapU32(b, 38), 3780u);
  EXPECT_EQ(BitmapU32(b, 42), 3780u);
  EXPECT_EQ(BitmapU32(b, 46), 0u);
  EXPECT_EQ(BitmapU32(b, 50), 0u);
  EXPECT_EQ(0, std::memcmp(b.data() + 54, ctx.tables.boneWhite.data(), 1024));
  EXPECT_EQ(im.displayBitmapPane, 1);
  EXPECT_FALSE(pane.needsConversion);

  DicomImage colour = MakeColour(10, 10, rng);
  PaneDisplay p2 = Pane(40, 40);
  p2.pane = 2;
  ASSERT_EQ(ConvertToDisplay(ctx, p2, colour), ConvertResult::kDrawn);
  EXPECT_EQ(BitmapU32(colour.displayBitmap, 2), 40u * 40 * 4 + 54);
  EXPECT_EQ(BitmapU32(colour.displayBitmap, 10), 54u);
  EXPECT_EQ(BitmapU16(colour.displayBitmap, 28), 32);
  EXPECT_EQ(colour.displayBitmapPane, 2);
}

// The fast loops against the reference renderer over random images, windows,
// canvases, zooms, rotations, flips, interpolations and display modes.
TEST(ConvertToDisplay, MatchesThePerPixelReferenceOnRandomCases) {
  std::mt19937 rng(20240611);
  RenderContext ctx;
  for (int k = 0; k < 768; ++k) ctx.tables.colourPalette[k] = uint8_t(rng());
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int enlargedCases = 0, reducedCases = 0;
  for (int iter = 0; iter < 1500; ++iter) {
    const int kind = pick(0, 9);
    const int rows = pick(1, 36), cols = pick(1, 36);
    DicomImage im;
    if (kind <= 6) {
      const int ba = kind <= 1 ? 8 : 16;
      const int bs = ba == 8 ? pick(1, 8) : pick(1, 16);
      im = MakeGrey(rows, cols, ba, bs, pick(0, 1), rng, pick(1, 2));
      im.syntaxType = pick(0, 3) == 0 ? kExplicitBig : kExplicitLittle;
      im.isMonochrome1 = pick(0, 3) == 0;
      im.rescaleIntercept = pick(0, 2) == 0 ? pick(-3000, 3000) : 0;
      im.rescaleSlope = pick(0, 3) == 0 ? float(pick(-4000, 4000)) / 1000.0f : 1.0f;
      im.level = pick(-2000, 4000);
      const int wsel = pick(0, 5);
      im.width = wsel == 0 ? pick(-3, 2) : (wsel == 1 ? pick(2, 40) : pick(2, 70000));
      if (pick(0, 5) == 0) {
        im.hasVoiLut = 1;
        im.voiLutBits = 8;
        im.voiLutData.resize(size_t(pick(0, 300)));
        for (auto& e : im.voiLutData) e = uint16_t(rng());
      }
    } else {
      im = MakeColour(rows, cols, rng, kind == 8);
      if (kind == 9) {  // palette colour image
        im.photometric = "PALETTE COLOR";
        im.hasPalette = 1;
        im.bitsAllocated = pick(0, 1) ? 16 : 8;
        im.bitsStored = im.bitsAllocated;
        im.pixelData.resize(size_t(rows) * cols * (im.bitsAllocated / 8));
        for (auto& b : im.pixelData) b = uint8_t(rng());
        for (auto* t : {&im.paletteRed, &im.paletteGreen, &im.paletteBlue}) {
          t->resize(size_t(pick(0, 1) ? 65536 : 200));
          for (auto& e : *t) e = uint16_t(rng());
        }
        for (int c = 0; c < 3; ++c) im.paletteDescriptor[c][2] = pick(0, 1) ? 16 : 8;
      }
      im.level = pick(0, 3) == 0 ? 128 : pick(-50, 1100);
      im.width = pick(0, 3) == 0 ? 256 : pick(-50, 1100);
    }
    PaneDisplay pane = Pane(pick(4, 90), pick(1, 90));
    pane.pane = pick(1, 2);
    pane.frame = pick(1, 3);
    pane.paletteColour = !im.isColour && pick(0, 3) == 0;
    pane.interpolation = pick(0, 1) ? Interpolation::kBicubic : Interpolation::kBilinear;
    pane.flipHorizontal = int16_t(pick(0, 1));
    pane.flipVertical = int16_t(pick(0, 1));
    pane.nearestOnly = pick(0, 9) == 0;
    const int asel = pick(0, 3);
    pane.rotationAngle = asel == 0 ? 0 : (asel == 1 ? 90 * pick(1, 3) : pick(1, 359));
    if (pick(0, 1)) {
      pane.fitMode = false;
      pane.zoomFactor = float(pick(30, 400)) / 100.0f;
    }
    const bool bits8 = !im.isColour && !pane.paletteColour;
    pane.noiseRemoval = bits8 && pick(0, 3) == 0;
    pane.sharpen = bits8 && pick(0, 3) == 0;

    const ConvertResult r = ConvertToDisplay(ctx, pane, im);
    if (r == ConvertResult::kBlank) continue;
    ASSERT_EQ(r, ConvertResult::kDrawn) << "iteration " << iter;
    const DisplayGeometry& g = pane.last;
    const int frame = std::clamp(pane.frame, 1, im.Frames());
    std::vector<uint8_t> ref = test::ReferencePixels(im, pane, ctx.tables, g, frame);
    if (pane.noiseRemoval) test::RefMedian(ref, g.W, g.H);
    if (pane.sharpen) test::RefSharpen(ref, g.W, g.H);
    const bool enlarged = !pane.nearestOnly && g.w > im.columns && g.h > im.rows;
    (enlarged ? enlargedCases : reducedCases)++;
    ASSERT_EQ(PixelArea(im), ref) << "iteration " << iter << " kind " << kind << " " << rows << "x" << cols
                                  << " canvas " << pane.canvasWidth << "x" << pane.canvasHeight << " angle "
                                  << pane.rotationAngle << (enlarged ? " enlarged" : " reduced");
  }
  EXPECT_GT(enlargedCases, 200);
  EXPECT_GT(reducedCases, 200);
}

// More random cases against the reference: images of 1 to 4 pixels a side on canvases
// large enough that there are more than 256 output pixels per buffer sample, and
// colour images wide enough for whole eight-pixel groups with brightness and
// saturation inside and beyond the range the 32-bit lanes take.
TEST(ConvertToDisplay, MatchesTheReferenceForTinyImagesAndWideColourRows) {
  std::mt19937 rng(20240612);
  RenderContext ctx;
  for (int k = 0; k < 768; ++k) ctx.tables.colourPalette[k] = uint8_t(rng());
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int fineSteps = 0, colourRows = 0;
  for (int iter = 0; iter < 120; ++iter) {
    const bool tiny = iter % 2 == 0;
    const bool colour = pick(0, 1) == 1;
    const int rows = tiny ? pick(1, 3) : pick(8, 120), cols = tiny ? pick(1, 3) : pick(8, 120);
    DicomImage im;
    if (colour) {
      im = MakeColour(rows, cols, rng, pick(0, 1) == 1);
      const int32_t lim = kColourLanesLimit;
      const int sel = pick(0, 3);
      im.level = sel == 0 ? pick(-lim - 50, lim + 50) : (sel == 1 ? pick(1 << 20, 1 << 22) : pick(0, 300));
      im.width = sel == 0 ? pick(-lim - 50, lim + 50) : (sel == 1 ? -pick(1 << 20, 1 << 22) : pick(0, 600));
    } else {
      im = MakeGrey(rows, cols, 16, pick(8, 16), pick(0, 1), rng);
      im.level = pick(-1000, 3000);
      im.width = pick(2, 6000);
    }
    PaneDisplay pane = tiny ? Pane(pick(520, 900), pick(520, 900)) : Pane(pick(4, 300), pick(4, 300));
    pane.paletteColour = !colour && pick(0, 3) == 0;
    pane.interpolation = pick(0, 1) ? Interpolation::kBicubic : Interpolation::kBilinear;
    pane.flipHorizontal = int16_t(pick(0, 1));
    pane.flipVertical = int16_t(pick(0, 1));
    pane.rotationAngle = pick(0, 2) == 0 ? pick(1, 359) : 0;
    if (!tiny && pick(0, 1)) {
      pane.fitMode = false;
      pane.zoomFactor = float(pick(30, 300)) / 100.0f;
    }
    const ConvertResult r = ConvertToDisplay(ctx, pane, im);
    if (r == ConvertResult::kBlank) continue;
    ASSERT_EQ(r, ConvertResult::kDrawn) << "iteration " << iter;
    const DisplayGeometry& g = pane.last;
    const bool enlarged = g.w > im.columns && g.h > im.rows;
    if (enlarged && int64_t{std::max(rows, cols)} * 256 < g.side) ++fineSteps;
    if (colour && pane.rotationAngle == 0 && g.w >= 16) ++colourRows;
    ASSERT_EQ(PixelArea(im), test::ReferencePixels(im, pane, ctx.tables, g, 1))
        << "iteration " << iter << " " << rows << "x" << cols << " canvas " << pane.canvasWidth << "x"
        << pane.canvasHeight << " L" << im.level << " W" << im.width << (enlarged ? " enlarged" : " reduced");
  }
  EXPECT_GT(fineSteps, 20);
  EXPECT_GT(colourRows, 20);
}

// A 2 x 2 or 3 x 3 image on a canvas with more than 256 output pixels per image
// pixel shows every pixel in its own place (the sampling step used to become 0 there,
// so the first pixel filled the whole picture).
TEST(ConvertToDisplay, TinyImageOnALargeCanvasShowsEveryPixelInPlace) {
  DicomImage grey;
  grey.rows = grey.columns = 2;
  grey.bitsAllocated = grey.bitsStored = 8;
  grey.frameCount = 1;
  grey.photometric = "MONOCHROME2";
  grey.pixelData = {10, 90, 170, 250};  // top row, then bottom row
  grey.level = 128;
  grey.width = 256;  // display value = stored value
  RenderContext ctx;
  for (const Interpolation interpolation : {Interpolation::kBilinear, Interpolation::kBicubic}) {
    PaneDisplay pane = Pane(1024, 1024);
    pane.interpolation = interpolation;
    ASSERT_EQ(ConvertToDisplay(ctx, pane, grey), ConvertResult::kDrawn);
    ASSERT_EQ(pane.last.side, 1024);
    const std::vector<uint8_t> px = PixelArea(grey);
    auto at = [&](int x, int y) { return px[size_t(1023 - y) * 1024 + size_t(x)]; };  // top-left origin
    EXPECT_EQ(at(0, 0), 10);
    EXPECT_EQ(at(1023, 0), 90);
    EXPECT_EQ(at(0, 1023), 170);
    EXPECT_EQ(at(1023, 1023), 250);
    // Position u samples image position u * 2 / 1024: the lower right quarter is the last pixel.
    for (int y = 512; y < 1024; y += 31) {
      for (int x = 512; x < 1024; x += 31) {
        ASSERT_EQ(at(x, y), 250) << x << "," << y;
      }
    }
    if (interpolation == Interpolation::kBilinear) {
      EXPECT_EQ(at(256, 0), 50);  // half way from 10 to 90
    }
  }

  // A 3 x 3 colour image: output positions 0, 342 and 1023 fall exactly on image
  // columns (and rows) 0, 1 and 2.
  DicomImage colour;
  colour.rows = colour.columns = 3;
  colour.bitsAllocated = colour.bitsStored = 8;
  colour.isColour = 1;
  colour.photometric = "RGB";
  colour.frameCount = 1;
  for (int i = 0; i < 9; ++i)
    for (int c = 0; c < 3; ++c) colour.pixelData.push_back(uint8_t(20 + 25 * i + 60 * c));
  colour.level = 128;
  colour.width = 256;
  PaneDisplay pane = Pane(1024, 1024);
  ASSERT_EQ(ConvertToDisplay(ctx, pane, colour), ConvertResult::kDrawn);
  const std::vector<uint8_t> px = PixelArea(colour);
  const int points[3] = {0, 342, 1023};
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) {
      const uint8_t* rgb = &colour.pixelData[size_t(row * 3 + col) * 3];
      uint8_t want[3];
      AdjustColour(rgb[0], rgb[1], rgb[2], 128, 256, want);
      const size_t at = (size_t(1023 - points[row]) * 1024 + size_t(points[col])) * 4;
      EXPECT_EQ(px[at + 2], want[0]) << row << "," << col;
      EXPECT_EQ(px[at + 1], want[1]) << row << "," << col;
      EXPECT_EQ(px[at], want[2]) << row << "," << col;
    }
}

// Enlargements with a sampling step of at least 1/256 of a buffer sample keep their
// pictures byte for byte: digests of bitmaps made before tiny images got the finer
// step (and before colour rows were adjusted eight pixels at a time).
TEST(ConvertToDisplay, EnlargementsWithAStepOfOneOrMoreKeepTheirBytes) {
  struct Case {
    int rows, cols;
    bool colour;
    int canvas;
    Interpolation interpolation;
    int angle;
    bool flip;
    uint64_t digest;
  };
  const Case cases[] = {
      {2, 2, false, 512, Interpolation::kBilinear, 0, false, 10458539779420688740ull},      // N * 256 = side: step 1
      {3, 3, true, 700, Interpolation::kBicubic, 0, false, 12643516619630915171ull},        // step 1
      {3, 3, true, 700, Interpolation::kBilinear, 0, true, 3788353396126031161ull},        // step 1
      {5, 7, false, 1000, Interpolation::kBicubic, 30, false, 1517248585037815395ull},     // step 1, rotated
      {37, 23, false, 600, Interpolation::kBilinear, 0, true, 2384641555000454996ull},     // step 15
      {64, 48, true, 300, Interpolation::kBilinear, 0, false, 15837951596869200868ull},     // step 54
  };
  RenderContext ctx;
  for (const Case& c : cases) {
    std::mt19937 rng(uint32_t(c.rows * 1000 + c.cols));
    DicomImage im = c.colour ? MakeColour(c.rows, c.cols, rng) : MakeGrey(c.rows, c.cols, 16, 12, 0, rng);
    im.level = c.colour ? 150 : 2048;
    im.width = c.colour ? 200 : 4096;
    PaneDisplay pane = Pane(c.canvas, c.canvas);
    pane.interpolation = c.interpolation;
    pane.rotationAngle = c.angle;
    pane.flipHorizontal = c.flip ? 1 : 0;
    ASSERT_EQ(ConvertToDisplay(ctx, pane, im), ConvertResult::kDrawn);
    ASSERT_GE((int64_t{std::max(c.rows, c.cols)} << 8) / pane.last.side, 1);
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (const uint8_t b : PixelArea(im)) h = (h ^ b) * 1099511628211ull;
    EXPECT_EQ(h, c.digest) << c.rows << "x" << c.cols << " on " << c.canvas;
  }
}

TEST(ConvertToDisplay, NegativeChangesOnlyTheColourTable) {
  std::mt19937 rng(3);
  DicomImage im = MakeGrey(32, 32, 16, 12, 0, rng);
  im.level = 2048;
  im.width = 4096;
  RenderContext ctx;
  PaneDisplay pane = Pane(64, 64);
  ASSERT_EQ(ConvertToDisplay(ctx, pane, im), ConvertResult::kDrawn);
  const std::vector<uint8_t> before = PixelArea(im);
  // Pixels that would change if recomputed prove no recomputation happens.
  im.level = 0;
  pane.negative = true;
  ASSERT_EQ(ConvertToDisplay(ctx, pane, im), ConvertResult::kDrawn);
  EXPECT_EQ(PixelArea(im), before);
  EXPECT_EQ(0, std::memcmp(im.displayBitmap.data() + 54, ctx.tables.boneBlack.data(), 1024));
}

// Decoded RLE and JPEG colour frames are interleaved whatever the header's planar
// configuration says; only native data is read plane by plane.
TEST(ConvertToDisplay, EncapsulatedColourIgnoresPlanarConfiguration) {
  std::mt19937 rng(5);
  DicomImage interleaved = MakeColour(16, 16, rng, false);
  DicomImage decoded = interleaved;
  decoded.planarConfiguration = 1;
  decoded.pixelDataLength = 0xFFFFFFFFu;
  DicomImage native = decoded;
  native.pixelDataLength = 16 * 16 * 3;
  RenderContext ctx;
  PaneDisplay a = Pane(16, 16), b = Pane(16, 16), c = Pane(16, 16);
  ASSERT_EQ(ConvertToDisplay(ctx, a, interleaved), ConvertResult::kDrawn);
  ASSERT_EQ(ConvertToDisplay(ctx, b, decoded), ConvertResult::kDrawn);
  ASSERT_EQ(ConvertToDisplay(ctx, c, native), ConvertResult::kDrawn);
  EXPECT_EQ(PixelArea(decoded), PixelArea(interleaved));
  EXPECT_NE(PixelArea(native), PixelArea(interleaved));
}

TEST(ConvertToDisplay, Monochrome1ShowsTheInvertedRampAndABlackMargin) {
  std::mt19937 rng(4);
  DicomImage im = MakeGrey(16, 32, 8, 8, 0, rng);  // wider than high: margins above and below
  im.isMonochrome1 = 1;
  im.level = 128;
  RenderContext ctx;
  PaneDisplay pane = Pane(32, 32);
  ASSERT_EQ(ConvertToDisplay(ctx, pane, im), ConvertResult::kDrawn);
  const auto& b = im.displayBitmap;
  EXPECT_EQ(0, std::memcmp(b.data() + 54, ctx.tables.boneBlack.data(), 1024));
  // Margin rows hold 255, which the inverted ramp shows black.
  EXPECT_EQ(b[1078], 255);
  EXPECT_EQ(b[54 + 255 * 4], 0);
  pane.negative = true;
  ASSERT_EQ(ConvertToDisplay(ctx, pane, im), ConvertResult::kDrawn);
  EXPECT_EQ(0, std::memcmp(b.data() + 54, ctx.tables.boneWhite.data(), 1024));
}

TEST(ConvertToDisplay, ReusesTheBufferAndConvertsAgainForAnotherPane) {
  std::mt19937 rng(5);
  DicomImage im = MakeGrey(32, 32, 16, 16, 0, rng);
  RenderContext ctx;
  PaneDisplay left = Pane(200, 200);
  ASSERT_EQ(ConvertToDisplay(ctx, left, im), ConvertResult::kDrawn);
  const uint8_t* data = im.displayBitmap.data();
  const size_t allocated = im.displayBitmap.size();
  left.canvasWidth = left.canvasHeight = 100;  // smaller bitmap: same buffer, header says the new size
  ASSERT_EQ(ConvertToDisplay(ctx, left, im), ConvertResult::kDrawn);
  EXPECT_EQ(im.displayBitmap.data(), data);
  EXPECT_EQ(im.displayBitmap.size(), allocated);
  EXPECT_EQ(BitmapU32(im.displayBitmap, 2), 100u * 100 * 2 + 1078);

  // The right pane showing the same record converts again even without a request.
  PaneDisplay right = Pane(100, 100);
  right.pane = 2;
  right.needsConversion = false;
  right.last = left.last;
  right.flipHorizontal = 1;
  ASSERT_EQ(ConvertToDisplay(ctx, right, im), ConvertResult::kDrawn);
  EXPECT_EQ(im.displayBitmapPane, 2);
  std::vector<uint8_t> ref = test::ReferencePixels(im, right, ctx.tables, right.last, 1);
  EXPECT_EQ(PixelArea(im), ref);
}

TEST(ConvertToDisplay, NothingToShowPaintsBlack) {
  std::mt19937 rng(6);
  RenderContext ctx;
  DicomImage im = MakeGrey(16, 16, 16, 16, 0, rng);
  PaneDisplay zero = Pane(0, 100);
  EXPECT_EQ(ConvertToDisplay(ctx, zero, im), ConvertResult::kBlank);
  zero = Pane(100, 0);
  EXPECT_EQ(ConvertToDisplay(ctx, zero, im), ConvertResult::kBlank);
  EXPECT_TRUE(im.displayBitmap.empty());
  // A 1 x 400 image on a small canvas has a displayed width of 0.
  DicomImage thin = MakeGrey(400, 1, 8, 8, 0, rng);
  PaneDisplay pane = Pane(100, 100);
  EXPECT_EQ(ConvertToDisplay(ctx, pane, thin), ConvertResult::kBlank);
  EXPECT_TRUE(pane.needsConversion);
  // Pixel data shorter than the frame.
  DicomImage shortData = MakeGrey(16, 16, 16, 16, 0, rng, 2);
  shortData.pixelData.resize(16 * 16 * 2 + 10);
  pane.frame = 2;
  EXPECT_EQ(ConvertToDisplay(ctx, pane, shortData), ConvertResult::kBlank);
  pane.frame = 1;
  EXPECT_EQ(ConvertToDisplay(ctx, pane, shortData), ConvertResult::kDrawn);
}

TEST(ConvertToDisplay, RefusesABitmapLargerThanTheLimit) {
  std::mt19937 rng(7);
  DicomImage im = MakeGrey(8, 8, 8, 8, 0, rng);
  im.pixelSpacing[0] = im.pixelSpacing[1] = 5000.0f;  // actual size of a huge image
  RenderContext ctx;
  test::RecordingNotifier notifier;
  ctx.notifier = &notifier;
  PaneDisplay pane = Pane(400, 400);
  pane.fitMode = false;
  pane.actualSizeMode = true;
  EXPECT_EQ(ConvertToDisplay(ctx, pane, im), ConvertResult::kFailed);
  ASSERT_EQ(notifier.entries.size(), 1u);
  EXPECT_NE(Utf8FromSjis(notifier.entries[0].message).find("画像表示用（BMP形式）のメモリの確保に失敗しました。("),
            std::string::npos);
  EXPECT_TRUE(im.displayBitmap.empty());
}

TEST(ConvertToDisplay, EnlargedUnsigned16BitShowsTheBackgroundHigh) {
  // A rotated unsigned 16-bit image: the corners get 0xF830, a high value.
  DicomImage im;
  im.rows = im.columns = 8;
  im.bitsAllocated = im.bitsStored = 16;
  im.frameCount = 1;
  im.pixelData.assign(8 * 8 * 2, 0);
  im.level = 32768;
  im.width = 65536;
  RenderContext ctx;
  PaneDisplay pane = Pane(64, 64);
  pane.rotationAngle = 45;
  ASSERT_EQ(ConvertToDisplay(ctx, pane, im), ConvertResult::kDrawn);
  const auto px = PixelArea(im);
  EXPECT_EQ(px[0], 0xF830 * 256 / 65536);  // bottom-left corner of the square
  EXPECT_EQ(px[32 * 64 + 32], 0);          // the image itself
}

}  // namespace
}  // namespace velmo
