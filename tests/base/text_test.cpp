#include "base/text.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace velmo {
namespace {

const std::string kEsc = "\x1B";
const std::string kJis = kEsc + "$B";    // JIS X 0208 run
const std::string kAscii = kEsc + "(B";  // back to one-byte
const std::string kKana = kEsc + ")I";   // half-width katakana (closes a run too)

TEST(Text, Utf8AndSjisRoundTripKeepsTrailBytesThatLookLikeAscii) {
  // "ソ" and "表" end in 0x5C, "ー" in 0x5B, "ロ" in 0x8D.
  const std::string sjis = SjisFromUtf8("ソ表ーロABC");
  EXPECT_EQ(sjis, "\x83\x5C\x95\x5C\x81\x5B\x83\x8D" "ABC");
  EXPECT_EQ(Utf8FromSjis(sjis), "ソ表ーロABC");
  EXPECT_EQ(SJ("ソート"), SjisFromUtf8("ソート"));
}

TEST(Text, SjisFromUtf8ReplacesWhatCp932CannotHold) {
  bool ok = true;
  EXPECT_EQ(SjisFromUtf8("a\xF0\x9F\x98\x80" "b", &ok), "a?b");  // emoji
  EXPECT_FALSE(ok);
  EXPECT_EQ(SjisFromUtf8("x\xFFy", &ok), "x?y");  // malformed UTF-8
  EXPECT_FALSE(ok);
  EXPECT_EQ(SjisFromUtf8("日本", &ok), "\x93\xFA\x96\x7B");
  EXPECT_TRUE(ok);
  EXPECT_EQ(SjisOrEmpty("/home/\xC3\xA9t\xC3\xA9/a.dcm"), "");  // "é" has no Shift-JIS form
  EXPECT_EQ(SjisOrEmpty("/data/画像"), "/data/" + SjisFromUtf8("画像"));
}

TEST(Text, Utf8FromSjisReplacesEachBadByteAndCarriesOn) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf8FromSjis("A\xFF" "B"), "A" + fffd + "B");
  EXPECT_EQ(Utf8FromSjis("\x80\xA0"), fffd + fffd);
  // A lead byte followed by a byte that cannot trail: only the lead is replaced.
  EXPECT_EQ(Utf8FromSjis("\x81 x"), fffd + " x");
  // A lead byte cut off at the end.
  EXPECT_EQ(Utf8FromSjis("\x93\xFA\x96"), "日" + fffd);
  // Half-width katakana stays decodable.
  EXPECT_EQ(Utf8FromSjis("\xB1\xB2"), "ｱｲ");
  EXPECT_EQ(Utf8FromSjis(""), "");
}

TEST(Text, InternSjisIsSharedAcrossThreads) {
  std::vector<const std::string*> seen(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&seen, t] {
      for (int i = 0; i < 200; ++i) seen[t] = &SJ("正常");
    });
  }
  for (auto& th : threads) th.join();
  for (const std::string* p : seen) {
    EXPECT_EQ(p, seen[0]);
    EXPECT_EQ(*p, "\x90\xB3\x8F\xED");
  }
}

TEST(Text, JisAndSjisRoundTripOverTheWholeJisX0208Area) {
  std::set<std::pair<uint8_t, uint8_t>> seen;
  for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
    for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
      uint8_t s1, s2, b1, b2;
      JisToSjis(static_cast<uint8_t>(j1), static_cast<uint8_t>(j2), &s1, &s2);
      ASSERT_TRUE(IsSjisLeadByte(s1)) << j1 << "," << j2;
      ASSERT_TRUE(SjisToJis(s1, s2, &b1, &b2)) << j1 << "," << j2;
      ASSERT_EQ(b1, j1);
      ASSERT_EQ(b2, j2);
      seen.insert({s1, s2});
    }
  }
  EXPECT_EQ(seen.size(), 94u * 94u);
  // Known characters, checked against the code page converter.
  const struct { uint8_t j1, j2; const char* utf8; } known[] = {
      {0x24, 0x22, "あ"}, {0x30, 0x21, "亜"}, {0x25, 0x3D, "ソ"}, {0x21, 0x3C, "ー"}, {0x74, 0x26, "熙"},
      {0x3B, 0x33, "山"}, {0x45, 0x44, "田"}, {0x21, 0x21, "　"}};
  for (const auto& k : known) {
    uint8_t s1, s2;
    JisToSjis(k.j1, k.j2, &s1, &s2);
    EXPECT_EQ(std::string({static_cast<char>(s1), static_cast<char>(s2)}), SjisFromUtf8(k.utf8)) << k.utf8;
  }
}

TEST(Text, SjisToJisRejectsCodesOutsideJisX0208) {
  uint8_t j1, j2;
  EXPECT_FALSE(SjisToJis(0x80, 0x40, &j1, &j2));  // not a lead byte
  EXPECT_FALSE(SjisToJis(0xA0, 0x40, &j1, &j2));
  EXPECT_FALSE(SjisToJis(0xF0, 0x40, &j1, &j2));  // user-defined area
  EXPECT_FALSE(SjisToJis(0x88, 0x7F, &j1, &j2));  // bad trail bytes
  EXPECT_FALSE(SjisToJis(0x88, 0x3F, &j1, &j2));
  EXPECT_FALSE(SjisToJis(0x88, 0xFD, &j1, &j2));
  EXPECT_TRUE(SjisToJis(0xEF, 0xFC, &j1, &j2));
  EXPECT_EQ(j1, 0x7E);
  EXPECT_EQ(j2, 0x7E);
}

TEST(Text, PersonNameWithKanjiGroupConvertsEachGroup) {
  // "Yamada^Taro=山田^太郎" with the ideographic group in ISO 2022.
  const std::string name = "Yamada^Taro=" + kJis + "\x3B\x33\x45\x44" + kAscii + "^" + kJis + "\x42\x40\x4F\x3A" + kAscii;
  std::string groups[3];
  ASSERT_EQ(SplitPersonNameGroups(name, groups), 2);
  EXPECT_EQ(groups[0], "Yamada^Taro");
  EXPECT_EQ(groups[1], kJis + "\x3B\x33\x45\x44" + kAscii + "^" + kJis + "\x42\x40\x4F\x3A" + kAscii);
  EXPECT_EQ(groups[2], "");
  EXPECT_EQ(Iso2022ToSjis(groups[0]), "Yamada Taro");
  EXPECT_EQ(Iso2022ToSjis(groups[1]), SjisFromUtf8("山田 太郎"));
  Iso2022Options literal;
  literal.caretToSpace = false;
  EXPECT_EQ(Iso2022ToSjis(groups[1], literal), SjisFromUtf8("山田^太郎"));
}

TEST(Text, EqualsSignInsideTwoByteRunDoesNotSplit) {
  // 0x3D ("=") as first and second byte of JIS pairs.
  const std::string ideo = kJis + "\x3D\x21\x21\x3D" + kAscii;
  std::string groups[3];
  ASSERT_EQ(SplitPersonNameGroups("A=" + ideo + "=C", groups), 3);
  EXPECT_EQ(groups[0], "A");
  EXPECT_EQ(groups[1], ideo);
  EXPECT_EQ(groups[2], "C");
  uint8_t a1, a2, b1, b2;
  JisToSjis(0x3D, 0x21, &a1, &a2);
  JisToSjis(0x21, 0x3D, &b1, &b2);
  EXPECT_EQ(Iso2022ToSjis(groups[1]), std::string({char(a1), char(a2), char(b1), char(b2)}));
  // A run closed by ESC ) I also ends the two-byte state for splitting.
  ASSERT_EQ(SplitPersonNameGroups(kJis + "\x30\x21" + kKana + "\xB1=x", groups), 2);
  EXPECT_EQ(groups[1], "x");
}

TEST(Text, SplitKeepsAtMostThreeGroups) {
  std::string groups[3] = {"stale", "stale", "stale"};
  EXPECT_EQ(SplitPersonNameGroups("", groups), 0);
  EXPECT_EQ(groups[0], "");
  EXPECT_EQ(SplitPersonNameGroups("=b", groups), 2);
  EXPECT_EQ(groups[0], "");
  EXPECT_EQ(groups[1], "b");
  EXPECT_EQ(SplitPersonNameGroups("a=b=c=d", groups), 3);
  EXPECT_EQ(groups[2], "c");
}

TEST(Text, JisX0212RunsGiveOneGetaMarkPerPair) {
  const std::string text = kEsc + "$D" + "\x30\x21\x30\x22" + kAscii + "x";
  EXPECT_EQ(Iso2022ToSjis(text), "\x81\xAC\x81\xAC" "x");
  // The geta rule only applies inside that run.
  EXPECT_EQ(Iso2022ToSjis(kEsc + "$D\x30\x21" + kJis + "\x30\x21"), "\x81\xAC\x88\x9F");
  // ESC $ @ (older JIS X 0208) converts like ESC $ B.
  EXPECT_EQ(Iso2022ToSjis(kEsc + "$@\x30\x21"), "\x88\x9F");
}

TEST(Text, Iso2022EdgeBytes) {
  // A lone last byte in a run is copied.
  EXPECT_EQ(Iso2022ToSjis(kJis + "\x30\x21\x30"), "\x88\x9F\x30");
  // Pairs whose first byte is not 21..7E are copied unchanged inside a run.
  EXPECT_EQ(Iso2022ToSjis(kJis + "\x0D\x0A\xB1\xB2"), "\x0D\x0A\xB1\xB2");
  // Half-width katakana pass unchanged; a caret inside a run is part of a JIS pair.
  EXPECT_EQ(Iso2022ToSjis(kKana + "\xB1\xB2^" + kAscii), "\xB1\xB2 ");
  uint8_t s1, s2;
  JisToSjis(0x5E, 0x21, &s1, &s2);
  EXPECT_EQ(Iso2022ToSjis(kJis + "\x5E\x21"), std::string({char(s1), char(s2)}));
  // An unknown or cut-off escape sequence loses only its ESC byte.
  EXPECT_EQ(Iso2022ToSjis("a" + kEsc + "(Zb"), "a(Zb");
  EXPECT_EQ(Iso2022ToSjis("a" + kEsc + "$"), "a$");
  // Options of the list entry reader and the header list.
  Iso2022Options names;
  names.commaToSpace = true;
  EXPECT_EQ(Iso2022ToSjis("DOE,J^X", names), "DOE J X");
  Iso2022Options plain;
  plain.caretToSpace = false;
  EXPECT_EQ(Iso2022ToSjis("ID^1,2", plain), "ID^1,2");
  Iso2022Options noGeta;
  noGeta.jisX0212AsGeta = false;
  EXPECT_EQ(Iso2022ToSjis(kEsc + "$D\x30\x21", noGeta), "\x88\x9F");
}

}  // namespace
}  // namespace velmo
