// Print layout geometry: layout names, paper codes, margins and bands in device
// pixels, frame order, the aspect-preserving fit and the empty printable area.
#include <gtest/gtest.h>

#include "base/settings.h"
#include "base/text.h"
#include "shell/print_layout.h"

using namespace velmo;

TEST(PrintLayout, FifteenLayoutsReadAsColumnsByRows) {
  ASSERT_EQ(LayoutNames().size(), 15u);
  EXPECT_EQ(LayoutNames()[0], SJ("1×1"));
  EXPECT_EQ(LayoutNames()[6], SJ("2×3"));
  EXPECT_EQ(LayoutNames()[14], SJ("4×3"));
  const struct {
    std::string name;
    int columns, rows;
  } cases[] = {
      {SJ("2×3"), 2, 3}, {"2x3", 2, 3}, {SJ("4×1"), 4, 1}, {"1x4", 1, 4},
      // Unknown names mean "1×1": 4×4 is not a layout, nor is an empty value.
      {"4x4", 1, 1},     {"", 1, 1},    {SJ("２×３"), 1, 1},
  };
  for (const auto& c : cases) {
    const FrameLayout l = LayoutFromSetting(c.name);
    EXPECT_EQ(l.columns, c.columns) << c.name;
    EXPECT_EQ(l.rows, c.rows) << c.name;
  }
  EXPECT_EQ(LayoutIndex("4x4"), -1);
}

TEST(PrintLayout, PaperAndOrientationCodes) {
  const struct {
    const char* name;
    int code;
  } papers[] = {{"A3", 8}, {"A4", 9}, {"A5", 11}, {"B4", 12}, {"B5", 13}, {"はがき", 43}};
  for (const auto& p : papers) {
    EXPECT_EQ(PaperCode(SjisFromUtf8(p.name)), p.code) << p.name;
    EXPECT_EQ(PaperName(p.code), SjisFromUtf8(p.name)) << p.name;
  }
  EXPECT_EQ(PaperCode("Letter"), 9);
  EXPECT_EQ(PaperName(1), "");
  EXPECT_EQ(OrientationCode(SJ("横")), 2);
  EXPECT_EQ(OrientationCode(SJ("縦")), 1);
  EXPECT_EQ(OrientationCode(""), 1);
}

TEST(PrintLayout, MarginsBandsAndFrameOrder) {
  // A4 at 600 dpi: 4961 x 7016 pixels; physical offsets 100 and 120.
  PrintDevice d{600, 600, 4961, 7016, 100, 120};
  PrintSettings s;
  s.marginTop = s.marginBottom = s.marginLeft = s.marginRight = 2000;
  s.header = 10;
  s.footer = 5;
  const PageGeometry g = ComputePageGeometry(d, s, LayoutFromSetting(SJ("2×3")));
  // 20 mm at 600 dpi is 472 pixels before the offset comes off.
  const int64_t left = 472 - 100, top = 472 - 120;
  const int64_t header = 236, footer = 118;  // 10 mm and 5 mm at 600 dpi
  EXPECT_EQ(g.area.x, left);
  EXPECT_EQ(g.area.y, top + header);
  EXPECT_EQ(g.area.width, 4961 - 200 - 2 * left);
  EXPECT_EQ(g.area.height, 7016 - 240 - 2 * top - header - footer);
  EXPECT_EQ(g.frameWidth, g.area.width / 2);
  EXPECT_EQ(g.frameHeight, g.area.height / 3);
  // Frames 0 and 1 are the top row, frame 5 the bottom-right one; 6 and up have no place.
  EXPECT_EQ(g.Frame(0), (PixelRect{g.area.x, g.area.y, g.frameWidth, g.frameHeight}));
  EXPECT_EQ(g.Frame(1), (PixelRect{g.area.x + g.frameWidth, g.area.y, g.frameWidth, g.frameHeight}));
  EXPECT_EQ(g.Frame(5),
            (PixelRect{g.area.x + g.frameWidth, g.area.y + 2 * g.frameHeight, g.frameWidth, g.frameHeight}));
  EXPECT_TRUE(g.Frame(6).Empty());
  EXPECT_TRUE(g.Frame(-1).Empty());
}

TEST(PrintLayout, MarginsWiderThanThePagePrintNothing) {
  PrintDevice d{300, 300, 2480, 3508, 0, 0};
  PrintSettings s;
  s.marginLeft = s.marginRight = 12000;  // 120 mm each on a 210 mm sheet
  EXPECT_TRUE(ComputePageGeometry(d, s, {1, 1}).Empty());
  s.marginLeft = s.marginRight = 2000;
  s.header = 150;
  s.footer = 150;  // bands taller than the sheet
  EXPECT_TRUE(ComputePageGeometry(d, s, {1, 1}).Empty());
  // Absurd settings do not overflow.
  s.header = s.footer = 2147483647;
  s.marginTop = -2147483647;
  EXPECT_TRUE(ComputePageGeometry(d, s, {4, 3}).Empty());
  // More frames than pixels: frames of zero size.
  PrintDevice tiny{1, 1, 3, 3, 0, 0};
  PrintSettings none;
  none.marginTop = none.marginBottom = none.marginLeft = none.marginRight = 0;
  EXPECT_TRUE(ComputePageGeometry(tiny, none, {4, 3}).Empty());
}

TEST(PrintLayout, PicturesKeepTheirShapeCentredInTheFrame) {
  const struct {
    const char* what;
    PixelRect frame;
    int64_t w, h;
    PixelRect expected;
  } cases[] = {
      {"square in a wide frame: centred horizontally", {100, 50, 400, 200}, 512, 512, {200, 50, 200, 200}},
      {"wide in a square frame: centred vertically", {0, 0, 300, 300}, 600, 200, {0, 100, 300, 100}},
      {"same shape fills the frame", {10, 10, 256, 128}, 512, 256, {10, 10, 256, 128}},
      {"tall in a wide frame", {0, 0, 1000, 100}, 10, 50, {490, 0, 20, 100}},
      {"factors equal after integer division", {0, 0, 100, 100}, 300, 301, {0, 0, 100, 100}},
      {"slightly taller frame", {0, 0, 100, 101}, 256, 256, {0, 0, 100, 100}},
  };
  for (const auto& c : cases) EXPECT_EQ(FitInFrame(c.frame, c.w, c.h), c.expected) << c.what;
  EXPECT_TRUE(FitInFrame({0, 0, 100, 100}, 0, 10).Empty());
  EXPECT_TRUE(FitInFrame({0, 0, 0, 100}, 10, 10).Empty());
}
