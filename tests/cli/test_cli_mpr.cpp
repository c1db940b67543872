// velmo-cli mpr and mip on a generated series: the picture runs from the largest
// slice location at the top to the smallest at the bottom, the slab and thresholds
// act, and a series without a slice width fails with the system's message.
#include <gtest/gtest.h>

#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo {
namespace {

using test::Bytes;

// Slice `i` of 8 x 8 pixels at location 10 i, every pixel 100 i + x (16-bit signed).
Bytes Slice(int i, double location) {
  test::DicomWriter w(1);
  w.Text(0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4.5." + std::to_string(i + 1));
  w.Text(0x0010, 0x0020, "LO", "P1");
  w.Text(0x0020, 0x000D, "UI", "1.2.3.4.1");
  w.Text(0x0020, 0x000E, "UI", "1.2.3.4.2");
  w.Text(0x0020, 0x0013, "IS", std::to_string(i + 1));
  w.Text(0x0020, 0x0032, "DS", "0\\0\\" + std::to_string(location));
  w.Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0");
  w.Text(0x0020, 0x0052, "UI", "1.2.3.4.3");
  w.Text(0x0020, 0x1041, "DS", std::to_string(location));
  w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
  w.U16(0x0028, 0x0010, 8);
  w.U16(0x0028, 0x0011, 8);
  w.Text(0x0028, 0x0030, "DS", "2\\2");
  w.U16(0x0028, 0x0100, 16);
  w.U16(0x0028, 0x0101, 16);
  w.U16(0x0028, 0x0102, 15);
  w.U16(0x0028, 0x0103, 1);
  w.Text(0x0028, 0x1050, "DS", "400");
  w.Text(0x0028, 0x1051, "DS", "800");
  Bytes pixels;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const int v = 100 * i + x;
      pixels.push_back(uint8_t(v));
      pixels.push_back(uint8_t(v >> 8));
    }
  w.PixelData(pixels);
  return test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
}

// The grey value at (x, y) of an 8-bit display bitmap, counted from the top.
int Grey(const Bytes& bmp, int x, int y) {
  auto u32 = [&](size_t at) { return uint32_t(bmp[at] | (bmp[at + 1] << 8) | (bmp[at + 2] << 16) | (bmp[at + 3] << 24)); };
  const int w = int(u32(18)), h = int(u32(22));
  const size_t row = size_t(h - 1 - y) * size_t(w);
  return bmp[54 + size_t(bmp[u32(10) + row + size_t(x)]) * 4];
}

TEST(CliMpr, ReformatsTheSeriesOfTheFirstImage) {
  test::TempDir dir;
  test::MakeInstallation(dir.path());
  for (int i = 0; i < 6; ++i) test::WriteBytes(dir.File("s" + std::to_string(i) + ".dcm"), Slice(i, 10.0 * i));
  const std::string cli = test::ShellQuote(test::CliPath());
  const std::string series = test::ShellQuote(dir.File("s2.dcm")) + " " + test::ShellQuote(dir.path());
  const std::string out = dir.File("mpr.bmp");
  // 50 mm of locations at 2 mm: 25 planes of 8 pixels, shown 8 x 25 in a 64 x 64 canvas.
  test::CommandResult run = test::RunCommand(cli + " mpr " + series + " --line horizontal --pos 3 --canvas 64x64 -o " +
                                             test::ShellQuote(out));
  ASSERT_EQ(run.status, 0) << run.err;
  Bytes bmp = test::ReadBytes(out);
  ASSERT_GT(bmp.size(), 54u);
  // Largest location (brightest slice) at the top, smallest at the bottom.
  EXPECT_GT(Grey(bmp, 30, 2), Grey(bmp, 30, 61));

  // MIP with an upper threshold below every value: all rows stay at the start value.
  run = test::RunCommand(cli + " mip " + series + " --x1 0 --x2 7 --y1 0 --y2 7 --upper -5000 --canvas 64x64 -o " +
                         test::ShellQuote(out));
  ASSERT_EQ(run.status, 0) << run.err;
  bmp = test::ReadBytes(out);
  EXPECT_EQ(Grey(bmp, 30, 2), Grey(bmp, 30, 61));

  // One slice: no slice width.
  test::TempDir single;
  test::WriteBytes(single.File("s.dcm"), Slice(0, 0));
  run = test::RunCommand(cli + " mip " + test::ShellQuote(single.File("s.dcm")) + " -o " + test::ShellQuote(out));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("MIPを実行するためのスライス幅がありません"), std::string::npos) << run.err;
  EXPECT_EQ(test::RunCommand(cli + " mpr " + series + " -o " + test::ShellQuote(out)).status, 2);  // no --line
}

}  // namespace
}  // namespace velmo
