#include "base/numbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>

#include "support/test_util.h"

namespace velmo {
namespace {

TEST(Numbers, ParseIntFollowsAtoiAndSaturates) {
  EXPECT_EQ(ParseInt(" \t-12abc"), -12);
  EXPECT_EQ(ParseInt("+7"), 7);
  EXPECT_EQ(ParseInt(""), 0);
  EXPECT_EQ(ParseInt("abc"), 0);
  EXPECT_EQ(ParseInt("- 5"), 0);
  EXPECT_EQ(ParseInt("5000\r"), 5000);
  EXPECT_EQ(ParseInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt("2147483648"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ParseInt("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ParseInt("-99999999999999999999"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ParseInt(std::string_view("12345", 2)), 12);  // never reads past the view
}

TEST(Numbers, ParseDoubleFollowsAtofButRejectsNonFinite) {
  EXPECT_DOUBLE_EQ(ParseDouble("1.5e3x"), 1500.0);
  EXPECT_DOUBLE_EQ(ParseDouble("  +2.25"), 2.25);
  EXPECT_DOUBLE_EQ(ParseDouble("-.5"), -0.5);
  EXPECT_DOUBLE_EQ(ParseDouble("3."), 3.0);
  EXPECT_DOUBLE_EQ(ParseDouble("1,5"), 1.0);
  EXPECT_DOUBLE_EQ(ParseDouble("0.2646"), 0.2646);
  EXPECT_EQ(ParseDouble("nan"), 0.0);
  EXPECT_EQ(ParseDouble("-inf"), 0.0);
  EXPECT_EQ(ParseDouble("infinity"), 0.0);
  EXPECT_EQ(ParseDouble("1e999"), 0.0);
  EXPECT_EQ(ParseDouble("abc"), 0.0);
  EXPECT_EQ(ParseDouble("+-1"), 0.0);
  EXPECT_EQ(ParseDouble(""), 0.0);
}

TEST(Numbers, TruncToInt32Saturates) {
  EXPECT_EQ(TruncToInt32(-2.9), -2);
  EXPECT_EQ(TruncToInt32(2.9), 2);
  EXPECT_EQ(TruncToInt32(1e20), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(TruncToInt32(-1e20), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(TruncToInt32(std::numeric_limits<double>::infinity()), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(TruncToInt32(std::nan("")), 0);
  EXPECT_EQ(TruncToInt32(2147483647.5), 2147483647);
}

// Our formatter must agree with the C library's printf in the C locale.
TEST(Numbers, FormatMatchesPrintfInTheCLocale) {
  std::setlocale(LC_ALL, "C");
  char buf[256];
  const char* intFormats[] = {"%d", "%5d", "%-5d|", "%05d", "%+d", "% d", "%.3d", "%x", "%X", "%08X", "%u", "%3i"};
  const int ints[] = {0, 7, -7, 42, -123456, 2147483647, -2147483647 - 1};
  for (const char* f : intFormats) {
    for (int v : ints) {
      std::snprintf(buf, sizeof buf, f, v);
      EXPECT_EQ(Format(f, v), buf) << f << " " << v;
    }
  }
  const char* doubleFormats[] = {"%f", "%.0f", "%.1f", "%.2f", "%.8f", "%10.3f", "%-10.2f|", "%+.3f",
                                 "%010.2f", "%e", "%.3e", "%g", "%.10g", "%G"};
  const double doubles[] = {0.0, -0.0, 0.5, 1.5, 2.5, -1.25, 0.2646, 123456.789, 1e-7, 1e20, -3.14159265358979};
  for (const char* f : doubleFormats) {
    for (double v : doubles) {
      std::snprintf(buf, sizeof buf, f, v);
      EXPECT_EQ(Format(f, v), buf) << f << " " << v;
    }
  }
  EXPECT_EQ(Format("%s|%-6s|%6s|%.2s", "ab", "cd", "ef", "ghij"), "ab|cd    |    ef|gh");
  EXPECT_EQ(Format("%c%c 100%%", 'O', 'K'), "OK 100%");
  EXPECT_EQ(Format("(%04d,%04X)", 8, 0x7FE0), "(0008,7FE0)");
  EXPECT_EQ(Format("%u", -1), "4294967295");
  EXPECT_EQ(Format("%ld %lld %zu", 1L, 2LL, size_t{3}), "1 2 3");
  EXPECT_EQ(Format("%f", std::numeric_limits<double>::infinity()), "inf");
}

TEST(Numbers, FormatSurvivesMissingAndMismatchedArguments) {
  EXPECT_EQ(Format("%d and %s"), "0 and ");
  EXPECT_EQ(Format("%d", 2.9), "2");
  EXPECT_EQ(Format("%.1f", 3), "3.0");
  EXPECT_EQ(Format("%s", 12), "12");
  EXPECT_EQ(Format("100%"), "100%");
  EXPECT_EQ(Format("%q", 1), "%q");
  EXPECT_EQ(Format("%s", static_cast<const char*>(nullptr)), "(null)");
}

TEST(Numbers, ParseAndFormatIgnoreACommaLocale) {
  if (!test::UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma (de_DE.UTF-8) available";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", 1.5);
  EXPECT_STREQ(buf, "1,50");  // the locale is really in effect
  EXPECT_EQ(Format("%.2f", 1.5), "1.50");
  EXPECT_EQ(Format("%.8f", -0.2646), "-0.26460000");
  EXPECT_EQ(Format("%g", 1234.5), "1234.5");
  EXPECT_EQ(Format("%d", 1234567), "1234567");
  EXPECT_DOUBLE_EQ(ParseDouble("0.2646"), 0.2646);
  EXPECT_DOUBLE_EQ(ParseDouble("1,5"), 1.0);
  EXPECT_EQ(ParseInt("1.234"), 1);
  test::RestoreCLocale();
}

}  // namespace
}  // namespace velmo
