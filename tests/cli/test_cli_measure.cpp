// velmo-cli measure on a generated image whose values and spacing are known: texts
// and ROI statistics as computed by hand, and usage errors.
#include <gtest/gtest.h>

#include <cmath>

#include "base/numbers.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo {
namespace {

// 200 columns x 100 rows, stored value = column, intercept -100, spacing 0.5 (rows)
// by 0.25 (columns). On a 400 x 400 canvas it shows 2 display pixels per image pixel,
// 100 pixels below the canvas top.
std::string WriteImage(const test::TempDir& dir) {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) pixels.push_back(uint8_t(x)), pixels.push_back(0);
  test::DicomWriter w(1);
  w.Text(0x0008, 0x0060, "CS", "CT")
      .U16(0x0028, 0x0002, 1)
      .Text(0x0028, 0x0004, "CS", "MONOCHROME2")
      .U16(0x0028, 0x0010, 100)
      .U16(0x0028, 0x0011, 200)
      .Text(0x0028, 0x0030, "DS", "0.5\\0.25")
      .U16(0x0028, 0x0100, 16)
      .U16(0x0028, 0x0101, 16)
      .U16(0x0028, 0x0102, 15)
      .U16(0x0028, 0x0103, 0)
      .Text(0x0028, 0x1052, "DS", "-100")
      .Text(0x0028, 0x1053, "DS", "1")
      .PixelData(pixels);
  const std::string path = dir.path() + "/m.dcm";
  test::WriteBytes(path, test::MakeFile("1.2.840.10008.1.2.1", w.bytes()));
  return path;
}

test::CommandResult Measure(const std::string& args) {
  return test::RunCommand(test::ShellQuote(test::CliPath()) + " measure " + args);
}

TEST(CliMeasure, TextsAndStatisticsOfAKnownImage) {
  test::TempDir dir;
  const std::string file = test::ShellQuote(WriteImage(dir));
  const test::CommandResult r =
      Measure(file + " --canvas 400x400 --distance 0,100,200,100 --distance 100,100,100,200"
                     " --angle 10,110,90,110,50,120,50,180 --pixel 101,150 --pixel 10,10"
                     " --roi-rect 0,100,400,300 --ctr");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string expectedTexts =
      "distance\t25.0 mm\n"  // 100 columns x 0.25
      "distance\t25.0 mm\n"  // 50 rows x 0.5
      "angle\t90.0 (90.0)\n"
      "pixel\t-50\n"  // column 50 - 100
      "pixel\t0\n";   // above the image
  EXPECT_EQ(r.out.substr(0, expectedTexts.size()), expectedTexts);
  // Members: columns 2..197, rows 2..97; mean of column - 100 is -0.5.
  const auto values = test::ParseNameValueLines(r.out);
  EXPECT_EQ(values.at("count"), std::to_string(196 * 96));
  EXPECT_NEAR(ParseDouble(values.at("mean")), -0.5, 1e-9);
  EXPECT_EQ(values.at("maximum"), "97");
  EXPECT_EQ(values.at("minimum"), "-98");
  EXPECT_NEAR(ParseDouble(values.at("area")), 196 * 96 * 0.125, 1e-6);
  // Population deviation of 196 consecutive integers: sqrt((196^2 - 1) / 12).
  EXPECT_NEAR(ParseDouble(values.at("deviation")), std::sqrt((196.0 * 196.0 - 1) / 12), 1e-6);
  EXPECT_NE(r.out.find("roi-rect\t平均 -0.50\n"), std::string::npos);
  EXPECT_NE(r.out.find("roi-rect\t面積 2352.00 mm2\n"), std::string::npos);
  EXPECT_NE(r.out.find("ctr\t"), std::string::npos);
}

TEST(CliMeasure, RatioDragAndUsage) {
  test::TempDir dir;
  const std::string file = test::ShellQuote(WriteImage(dir));
  // Default ratio on a 400 canvas: heart 160..266 at y 267, thorax 50..350 at y 300 of
  // the displayed image, which starts 100 pixels down the canvas.
  const test::CommandResult r = Measure(file + " --canvas 400x400 --ctr --drag 266,367,300,380");
  ASSERT_EQ(r.status, 0) << r.err;
  // Heart 140 display pixels = 70 columns = 17.5 mm; thorax 300 = 150 columns = 37.5 mm.
  EXPECT_EQ(r.out, "ctr\t46.7 %\nctr\t18 mm / 38 mm\n");
  for (const char* bad : {"", " --distance 1,2,3", " --drag 1,2,3,4", " --pixel 1,x", " --frobnicate"})
    EXPECT_EQ(Measure(file + bad).status, 2) << bad;
  EXPECT_EQ(Measure(test::ShellQuote(dir.path() + "/missing.dcm") + " --pixel 1,1").status, 1);
}

}  // namespace
}  // namespace velmo
