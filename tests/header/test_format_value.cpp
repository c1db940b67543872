// The overlay's value texts: dates and eras, ages, person names by priority,
// decimal strings, binary numbers, coded words, and the failures that make the
// overlay try the next alternative.
#include <gtest/gtest.h>

#include "base/text.h"
#include "header/format_value.h"
#include "header/header_rows.h"
#include "header_test_support.h"
#include "support/dicom_writer.h"

namespace velmo::test {
namespace {

// A loaded image whose header is `dataset` (after a meta group) in `syntax`.
DicomImage ImageOf(const DicomWriter& w) {
  static const char* const kTs[] = {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2"};
  DicomImage im;
  const Bytes meta = MakeMetaGroup(kTs[w.syntax()], "1.2.840.10008.5.1.4.1.1.2");
  im.headerCopy.assign(128, 0);
  im.headerCopy.insert(im.headerCopy.end(), {'D', 'I', 'C', 'M'});
  im.headerCopy.insert(im.headerCopy.end(), meta.begin(), meta.end());
  im.preambleSize = 132;
  im.datasetOffset = static_cast<int32_t>(im.headerCopy.size());
  im.headerCopy.insert(im.headerCopy.end(), w.bytes().begin(), w.bytes().end());
  im.headerSize = static_cast<int32_t>(im.headerCopy.size());
  im.syntaxType = static_cast<int16_t>(w.syntax());
  im.loaded = 1;
  return im;
}

std::string Value(const DicomImage& im, const char* g, const char* e, const FormatSettings& s = {}, bool* ok = nullptr) {
  std::string out;
  const bool r = FormatTagValue(&im, false, ShippedDictionaries(), s, g, e, &out);
  if (ok) *ok = r;
  return Utf8FromSjis(out);
}

// Text VRs are read in the data set's character set in the header rows and in the
// overlay alike: accents dropped, Greek, Cyrillic and kanji kept, and the Japanese
// sets and files without a character set exactly as before.
TEST(FormatValue, TextInEveryCharacterSetInHeaderRowsAndOverlay) {
  struct Case {
    const char* what;
    const char* charset;  // nullptr: no (0008,0005)
    std::string name, description;  // stored bytes of (0010,0010) PN and (0008,1030) LO
    const char* headerName;         // the header row (carets kept)
    const char* overlayName;        // the overlay (carets as spaces)
    const char* descriptionText;    // both
  };
  const Case cases[] = {
      {"Latin-1", "ISO_IR 100", "J\xE9r\xF4me^Ren\xE9" "e", "\xC4rztin M\xFCller", "Jerome^Renee", "Jerome Renee",
       "Arztin Muller"},
      {"Greek", "ISO_IR 126", "\xC1\xE8\xE7\xED\xE1", "\xC1\xE8\xE7\xED\xE1", "Αθηνα", "Αθηνα", "Αθηνα"},
      {"Cyrillic", "ISO_IR 144", "\xB8\xD2\xD0\xDD", "\xB8\xD2\xD0\xDD", "Иван", "Иван", "Иван"},
      {"UTF-8 kanji and an accent", "ISO_IR 192", "山田^太郎", "Caf\xC3\xA9 胸部", "山田^太郎", "山田 太郎",
       "Cafe 胸部"},
      {"Japanese ISO 2022", "\\ISO 2022 IR 87", "Yamada=\x1B$B;3ED\x1B(B", "\x1B$B;3ED\x1B(B", "Yamada=山田",
       "Yamada", "山田"},
      {"no character set", nullptr, "Doe^John", "\x1B$B;3ED\x1B(B", "Doe^John", "Doe John", "山田"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DicomWriter w(1);
    if (c.charset) w.Text(0x0008, 0x0005, "CS", c.charset);
    w.Text(0x0008, 0x1030, "LO", c.description);
    w.Text(0x0010, 0x0010, "PN", c.name);
    const DicomImage im = ImageOf(w);
    auto trimmed = [](std::string v) {  // the padding of odd-length values
      while (!v.empty() && v.back() == ' ') v.pop_back();
      return v;
    };
    EXPECT_EQ(trimmed(Value(im, "0010", "0010")), c.overlayName);
    EXPECT_EQ(trimmed(Value(im, "0008", "1030")), c.descriptionText);
    std::string headerName, headerDescription;
    for (const HeaderRow& r : BuildHeaderRows(im, ShippedDictionaries(), HeaderOptions{})) {
      if (r.group == "0010" && r.element == "0010") headerName = trimmed(Utf8FromSjis(r.value));
      if (r.group == "0008" && r.element == "1030") headerDescription = trimmed(Utf8FromSjis(r.value));
    }
    EXPECT_EQ(headerName, c.headerName);
    EXPECT_EQ(headerDescription, c.descriptionText);
  }
}

TEST(FormatValue, DatesInWesternAndEraForm) {
  struct Case { const char* raw; bool era; const char* text; } cases[] = {
      {"20190430", true, "平成31年4月30日"},
      {"20190501", true, "令和1年5月1日"},
      {"1989.01.08", true, "平成1年1月8日"},
      {"19890107", true, "昭和64年1月7日"},
      {"19261225", true, "大正15年12月25日"},  // first day of Showa counts as Taisho
      {"19261226", true, "昭和1年12月26日"},
      {"19120730", true, "明治45年7月30日"},
      {"18680908", true, "明治1年9月8日"},
      {"18680907", true, "1868年9月7日"},
      {"18000101", true, "1800年1月1日"},
      {"20190432", true, "2019年4月32日"},  // between the eras: no real date, Western text
      {"20240105", false, "2024年1月5日"},
      {"2024010512", false, "2024年1月5日"},  // ten characters without dots: as eight
  };
  for (const Case& c : cases) {
    std::string out;
    ASSERT_TRUE(FormatDate(c.raw, c.era, &out)) << c.raw;
    EXPECT_EQ(Utf8FromSjis(out), c.text) << c.raw;
  }
  for (const char* bad : {"", "2019", "2019043", "201904300", "00000000", "abcdefgh", "0000.00.00"}) {
    std::string out = "kept";
    EXPECT_FALSE(FormatDate(bad, true, &out)) << bad;
    EXPECT_EQ(out, "kept");
  }
}

TEST(FormatValue, DecimalStringsAndAges) {
  EXPECT_EQ(FormatDecimalStrings("  1.500\\0.0 "), "1.5  0");
  EXPECT_EQ(FormatDecimalStrings("100"), "100");
  EXPECT_EQ(FormatDecimalStrings("2.50"), "2.5");
  EXPECT_EQ(FormatDecimalStrings("3."), "3");
  EXPECT_EQ(FormatDecimalStrings("1.5E+00"), "1.5E+00");  // exponents keep their zeros
  EXPECT_EQ(FormatDecimalStrings(""), "");
  EXPECT_EQ(Utf8FromSjis(FormatAge("003M")), "3 ヶ月");
  EXPECT_EQ(Utf8FromSjis(FormatAge("012Y")), "12 才");
  EXPECT_EQ(Utf8FromSjis(FormatAge("002W")), "2 週");
  EXPECT_EQ(Utf8FromSjis(FormatAge("010D")), "10 日");
  EXPECT_EQ(FormatAge("012X"), "012X");
  EXPECT_EQ(FormatAge("01"), "01");
}

TEST(FormatValue, ElementsOfEveryKindInEachEncoding) {
  for (int syntax = 0; syntax <= 2; ++syntax) {
    SCOPED_TRACE("syntax " + std::to_string(syntax));
    DicomWriter w(syntax);
    w.Text(0x0008, 0x0020, "DA", "20190501")
        .Text(0x0008, 0x0060, "CS", "CT")
        .Text(0x0008, 0x0080, "LO", "Hospital  ")
        .Text(0x0010, 0x0040, "CS", "O")
        .Text(0x0010, 0x1010, "AS", "045Y")
        .Text(0x0018, 0x0050, "DS", "5.000")
        .Text(0x0018, 0x1063, "DS", "33.3")
        .Text(0x0020, 0x0060, "CS", "R")
        .U16s(0x0028, 0x0010, {512, 512})
        .U32(0x0028, 0x0000, 7)
        .F64(0x0018, 0x9306, 0.625)
        .BeginSequence(0x0008, 0x1140, true)
        .BeginItem(true)
        .Text(0x0020, 0x0013, "IS", "77")
        .EndItem()
        .EndSequence()
        .Element(0x0009, 0x1001, "LO", std::string_view("AB", 2))
        .Element(0x7FE1, 0x0010, "OB", std::string_view("\x01\x02", 2));
    const DicomImage im = ImageOf(w);
    FormatSettings era;
    era.japaneseEra = true;
    EXPECT_EQ(Value(im, "0008", "0020", era), "令和1年5月1日");
    EXPECT_EQ(Value(im, "0008", "0020"), "2019年5月1日");
    EXPECT_EQ(Value(im, "0008", "0060"), "CT");
    EXPECT_EQ(Value(im, "0008", "0080"), "Hospital");
    EXPECT_EQ(Value(im, "0010", "0040"), "その他");
    EXPECT_EQ(Value(im, "0010", "1010"), "45 才");
    EXPECT_EQ(Value(im, "0018", "0050"), "5");
    EXPECT_EQ(Value(im, "0018", "1063"), "30");
    EXPECT_EQ(Value(im, "0020", "0060"), "右");
    EXPECT_EQ(Value(im, "0028", "0010"), "512512");
    EXPECT_EQ(Value(im, "0018", "9306"), "0.62500000");
    EXPECT_EQ(Value(im, "0020", "0013"), "77");           // found inside a sequence
    EXPECT_EQ(Value(im, "0009", "1001"), "41 42 ");       // not in Tag.csv: bytes
    EXPECT_EQ(Value(im, "7FE1", "0010"), "01 02 ");
    bool ok = true;
    EXPECT_EQ(Value(im, "0010", "0010", {}, &ok), "");
    EXPECT_FALSE(ok);
  }
}

TEST(FormatValue, SexFrameRateAndMissingImage) {
  DicomWriter w(1);
  w.Text(0x0010, 0x0040, "CS", "F").Text(0x0018, 0x1063, "DS", "0").Text(0x0020, 0x0062, "CS", "B");
  DicomImage im = ImageOf(w);
  EXPECT_EQ(Value(im, "0010", "0040"), "女");
  EXPECT_EQ(Value(im, "0018", "1063"), "0");
  EXPECT_EQ(Value(im, "0020", "0062"), "左右両方");
  std::string out = "x";
  EXPECT_FALSE(FormatTagValue(&im, true, ShippedDictionaries(), {}, "0010", "0040", &out));  // MPR/MIP shown
  EXPECT_FALSE(FormatTagValue(nullptr, false, ShippedDictionaries(), {}, "0010", "0040", &out));
  im.loaded = 0;
  EXPECT_FALSE(FormatTagValue(&im, false, ShippedDictionaries(), {}, "0010", "0040", &out));
  EXPECT_EQ(out, "x");
  // A header whose offsets lie about its size is not read past its bytes.
  im.loaded = 1;
  im.headerSize = 1 << 30;
  im.datasetOffset = static_cast<int32_t>(im.headerCopy.size()) + 10;
  EXPECT_FALSE(FormatTagValue(&im, false, ShippedDictionaries(), {}, "0010", "0040", &out));
}

TEST(FormatValue, PersonNamesByPriority) {
  const std::string name = "Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B=\x1b$B$d$^$@\x1b(B^\x1b$B$?$m$&\x1b(B";
  auto withCharset = [&](const char* charset, const std::string& value) {
    DicomWriter w(1);
    if (charset) w.Text(0x0008, 0x0005, "CS", charset);
    w.Text(0x0010, 0x0010, "PN", value);
    return ImageOf(w);
  };
  FormatSettings kanjiFirst;
  kanjiFirst.nameKeywords[0] = "IR 87";
  kanjiFirst.nameKeywords[1] = "IR 6";
  FormatSettings romanFirst;
  romanFirst.nameKeywords[0] = "IR 6";
  romanFirst.nameKeywords[1] = "IR 87";
  FormatSettings noneMatch;
  noneMatch.nameKeywords[0] = "IR 87";
  noneMatch.nameKeywords[1] = "IR 13";
  FormatSettings kanjiOnly;
  kanjiOnly.nameKeywords[0] = "IR 87";

  const DicomImage jp = withCharset("\\ISO 2022 IR 87", name);
  EXPECT_EQ(Value(jp, "0010", "0010", kanjiFirst), "山田 太郎");
  EXPECT_EQ(Value(jp, "0010", "0010", romanFirst), "Yamada Tarou");
  const DicomImage noCharset = withCharset(nullptr, name);
  EXPECT_EQ(Value(noCharset, "0010", "0010", noneMatch), "Yamada Tarou");
  // The first priority points at an empty ideographic group: no fallback.
  const DicomImage alphabeticOnly = withCharset("\\ISO 2022 IR 87", "Yamada^Tarou");
  EXPECT_EQ(Value(alphabeticOnly, "0010", "0010", kanjiOnly), "");
  // Unbalanced escapes: a run left open, an escape cut at the end, a lone last byte.
  for (const std::string bad : {std::string("\x1b$B;3ED"), std::string("A\x1b$"), std::string("\x1b$B;"),
                                std::string("=\x1b$B=")}) {
    const DicomImage im = withCharset("\\ISO 2022 IR 87", bad);
    bool ok = false;
    Value(im, "0010", "0010", kanjiFirst, &ok);
    EXPECT_TRUE(ok);
  }
}

}  // namespace
}  // namespace velmo::test
