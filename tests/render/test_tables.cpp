// The grey ramps, a-LUT.csv parsing and its failure reports, and the shipped file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "render/display_tables.h"
#include "base/log.h"
#include "base/text.h"
#include "support/test_util.h"

namespace velmo {
namespace {

TEST(DisplayTables, Ramps) {
  DisplayTables t;
  EXPECT_EQ(t.boneWhite[0], 0);
  EXPECT_EQ(t.boneWhite[200 * 4 + 1], 200);
  EXPECT_EQ(t.boneWhite[200 * 4 + 3], 0);
  EXPECT_EQ(t.boneBlack[0], 255);
  EXPECT_EQ(t.boneBlack[200 * 4 + 2], 55);
  for (uint8_t b : t.colourPalette) EXPECT_EQ(b, 0);
}

TEST(DisplayTables, PaletteParsingKeepsWithinTheTable) {
  std::array<uint8_t, 768> p{};
  std::string text = "1,2,3\r\n300,-1,abc\r\n12345,7,8,9,10\r\n 5, 6\r\n";
  for (int i = 4; i < 300; ++i) text += "9,9,9\r\n";
  text += "1,1,1";  // line 300 without an end
  ParseColourPalette(text, p);
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(p[2], 3);
  EXPECT_EQ(p[3], 300 & 0xFF);
  EXPECT_EQ(p[4], 255);  // -1 keeps its low 8 bits
  EXPECT_EQ(p[5], 0);
  EXPECT_EQ(p[6], 123);  // only three characters of a field
  EXPECT_EQ(p[8], 8);
  EXPECT_EQ(p[9], 5);
  EXPECT_EQ(p[10], 6);
  EXPECT_EQ(p[11], 0);
  EXPECT_EQ(p[255 * 3], 9);
  std::array<uint8_t, 768> q{};
  ParseColourPalette("10,20,30", q);  // a single line without CR LF
  EXPECT_EQ(q[1], 20);
}

TEST(DisplayTables, MissingUnreadableAndPresentFiles) {
  test::TempDir dir;
  const std::string home = dir.path() + "/";
  mkdir((home + "Config").c_str(), 0755);
  DisplayTables t;
  test::RecordingNotifier n;
  EXPECT_EQ(BuildDisplayTables(t, home, Log::Null(), &n), TablesResult::kOk);
  ASSERT_EQ(n.entries.size(), 1u);
  EXPECT_EQ(n.entries[0].caption, SJ("エラー"));
  EXPECT_EQ(n.entries[0].message, SJ("設定ファイル(a-LUT.csv)が見つかりませんでした"));
  EXPECT_EQ(n.entries[0].icon, NoticeIcon::Error);

  mkdir((home + "Config/a-LUT.csv").c_str(), 0755);  // exists but cannot be read as a file
  n.entries.clear();
  EXPECT_EQ(BuildDisplayTables(t, home, Log::Null(), &n), TablesResult::kOk);
  EXPECT_TRUE(n.entries.empty());
  rmdir((home + "Config/a-LUT.csv").c_str());

  test::WriteText(home + "Config/a-LUT.csv", "0,0,0\r\n1,2,3\r\n");
  t.colourPalette.fill(77);
  EXPECT_EQ(BuildDisplayTables(t, home, Log::Null(), &n), TablesResult::kOk);
  EXPECT_EQ(t.colourPalette[3], 1);
  EXPECT_EQ(t.colourPalette[6], 0);  // rows the file does not give stay black
}

TEST(DisplayTables, ShippedPaletteIsAFullRampFromDarkToWhite) {
  const std::vector<uint8_t> bytes = test::ReadBytes(std::string(VELMO_SOURCE_DIR) + "/data/Config/a-LUT.csv");
  int lines = 0;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\n') {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(bytes[i - 1], '\r');
      ++lines;
    }
  EXPECT_EQ(lines, 256);
  std::array<uint8_t, 768> p{};
  ParseColourPalette(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), p);
  double last = -1;
  for (int k = 0; k < 256; ++k) {
    const double lum = 0.2126 * p[k * 3] + 0.7152 * p[k * 3 + 1] + 0.0722 * p[k * 3 + 2];
    EXPECT_GE(lum, last) << "row " << k;  // brightness never falls
    last = lum;
  }
  EXPECT_LT(p[0] + p[1], 10);
  EXPECT_EQ(p[255 * 3], 255);
  EXPECT_EQ(p[255 * 3 + 1], 255);
  EXPECT_EQ(p[255 * 3 + 2], 255);
}

}  // namespace
}  // namespace velmo
