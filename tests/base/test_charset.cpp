// Text in every Specific Character Set converted to Shift-JIS: letters Shift-JIS has
// stay, accented Latin letters lose their accents, the rest becomes "?", and the
// Japanese sets keep exactly the conversion they always had.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/charset.h"
#include "base/text.h"
#include "browser/list_reader.h"
#include "support/test_util.h"

namespace velmo {
namespace {

std::string Convert(std::string_view text, std::string_view sets, bool caretToSpace = false) {
  Iso2022Options options;
  options.caretToSpace = caretToSpace;
  return Utf8FromSjis(DicomTextToSjis(text, sets, options));
}

TEST(Charset, ConvertsEveryKindOfSet) {
  struct Case {
    const char* what;
    std::string sets, text, expected;
  };
  const Case cases[] = {
      {"Latin-1", "ISO_IR 100", "Buc^J\xE9r\xF4me", "Buc^Jerome"},
      {"Latin-1 German", "ISO_IR 100", "\xC4neas^R\xFC" "diger", "Aneas^Rudiger"},
      {"Latin-1 misspelt term", "ISO-IR 100", "J\xE9r\xF4me", "Jerome"},
      {"Latin-1 sharp s and ligature", "ISO_IR 100", "Stra\xDF" "e^\xC6sa", "Strasse^AEsa"},
      {"Latin-1 signs Shift-JIS has", "ISO_IR 100", "5\xD7" "3\xB1" "1\xB0", "5×3±1°"},
      {"Latin-2", "ISO_IR 101", "Dvo\xF8\xE1k^\xA3ukasz", "Dvorak^Lukasz"},
      {"Latin-9", "ISO_IR 203", "\xBC" "uvre", "OEuvre"},
      {"Greek", "ISO_IR 126", "\xC1\xE8\xE7\xED\xE1", "Αθηνα"},
      {"Cyrillic", "ISO_IR 144", "\xB8\xD2\xD0\xDD\xDE\xD2", "Иванов"},
      {"Arabic has no form", "ISO_IR 127", "\xC7\xE4", "??"},
      {"Thai has no form", "ISO_IR 166", "\xA1", "?"},
      {"ISO 2022 Latin-1 as first set", "ISO 2022 IR 100", "J\xE9r\xF4me", "Jerome"},
      {"ISO 2022 Greek by escape", "ISO 2022 IR 6\\ISO 2022 IR 126", "A=\x1B-F\xC1\xE8\xE7\xED\xE1", "A=Αθηνα"},
      {"ISO 2022 Latin-1 mixed with JIS X 0208", "ISO 2022 IR 100\\ISO 2022 IR 87",
       "J\xE9r\xF4me=\x1B$B;3ED\x1B(B", "Jerome=山田"},
      {"UTF-8 kanji and accents", "ISO_IR 192", "Wang^XiaoDong=\xE7\x8E\x8B^\xE5\xB0\x8F\xE6\x9D\xB1=J\xC3\xA9r\xC3\xB4me",
       "Wang^XiaoDong=王^小東=Jerome"},
      {"UTF-8 Japanese", "ISO_IR 192", "\xE5\xB1\xB1\xE7\x94\xB0^\xE3\x82\xBF\xE3\x83\xAD\xE3\x82\xA6", "山田^タロウ"},
      {"UTF-8 Hangul has no form", "ISO_IR 192", "\xED\x99\x8D", "?"},
      {"UTF-8 invalid byte", "ISO_IR 192", "A\xFF" "B", "A?B"},
      {"UTF-8 cut in a character", "ISO_IR 192", "J\xC3", "J?"},
      {"GBK", "GBK", "\xCD\xF5^\xD0\xA1", "王^小"},
      {"GB18030", "GB18030", "\xCD\xF5^\xD0\xA1", "王^小"},
      {"ISO 2022 IR 149 Korean: hanja stay, hangul become ?", "\\ISO 2022 IR 149",
       "Hong^Gildong=\x1B$)C\xFB\xF3^\x1B$)C\xD1\xCE\xD4\xD7=\x1B$)C\xC8\xAB^\x1B$)C\xB1\xE6\xB5\xBF",
       "Hong^Gildong=洪^吉洞=?^??"},
      {"ISO 2022 IR 58 Chinese", "\\ISO 2022 IR 58", "\x1B$)A\xCD\xF5^\x1B$)A\xD0\xA1", "王^小"},
      {"ISO 2022 IR 149 cut after a lead byte", "\\ISO 2022 IR 149", "\x1B$)C\xFB", "?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Convert(c.text, c.sets), c.expected);
    EXPECT_FALSE(IsJapaneseOrDefaultCharacterSet(c.sets));
  }
  // "^" and "," follow the options outside two-byte runs, in every set.
  EXPECT_EQ(Convert("Buc^J\xE9r\xF4me,X", "ISO_IR 100", true), "Buc Jerome,X");
  Iso2022Options commas;
  commas.commaToSpace = true;
  EXPECT_EQ(Utf8FromSjis(DicomTextToSjis("A,\xCD\xF5", "GBK", commas)), "A 王");
}

TEST(Charset, JapaneseAndUnknownSetsKeepTheirExactConversion) {
  const std::string texts[] = {
      "Yamada^Tarou=\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B=\x1B$B$d$^$@\x1B(B^\x1B$B$?$m$&\x1B(B",
      "\xD4\xCF\xC0\xDE^\xC0\xDB\xB3=\x1B$B;3ED\x1B(J^\x1B$BB@O:\x1B(J",
      "\x1B$(D0!\x1B(B^A", "plain^text, \xE9",
  };
  const char* sets[] = {"",           "\\ISO 2022 IR 87",  "ISO 2022 IR 13\\ISO 2022 IR 87", "ISO_IR 13",
                        "ISO 2022 IR 6\\ISO 2022 IR 87\\ISO 2022 IR 159", "ISO_IR 999"};
  for (const char* set : sets) {
    EXPECT_TRUE(IsJapaneseOrDefaultCharacterSet(set)) << set;
    for (const std::string& text : texts)
      for (bool caret : {false, true}) {
        Iso2022Options options;
        options.caretToSpace = caret;
        EXPECT_EQ(DicomTextToSjis(text, set, options), Iso2022ToSjis(text, options)) << set << " " << text;
      }
  }
}

// The names of the public corpus read through the list entry reader: each comes out as
// pydicom decodes it, less what Shift-JIS cannot hold.
TEST(Charset, CorpusNamesReadAsPydicomDecodesThem) {
  const std::string dir = test::TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public corpus not found";
  // Files whose names hold characters Shift-JIS does not have, and what they become.
  const std::map<std::string, std::string> lossy = {
      {"pydicom/charset/chrFren.dcm", "Buc^Jerome"},
      {"pydicom/charset/chrI2.dcm", "Hong^Gildong=洪^吉洞=?^??"},
  };
  ListEntryReader reader(Log::Null());
  int compared = 0;
  for (const auto& row : test::ReadReferenceTsv()) {
    const std::string file = row.at("file");
    std::string expected = row.at("patient_name_unicode");
    if (row.at("patient_name_raw") == "(absent)" || expected.empty()) continue;
    if (lossy.count(file)) expected = lossy.at(file);
    ListRecord r;
    r.filePath = dir + "/" + file;
    if (!reader.Read(r.filePath, r)) continue;
    SCOPED_TRACE(file);
    std::string converted = Utf8FromSjis(DicomTextToSjis(r.patientNameRaw.view(), r.characterSetRaw.view(),
                                                         Iso2022Options{false, false, true}));
    while (!converted.empty() && (converted.back() == ' ' || converted.back() == '\0')) converted.pop_back();
    while (!expected.empty() && expected.back() == ' ') expected.pop_back();
    // pydicom drops a trailing "=" of an empty last group.
    if (!converted.empty() && converted.back() == '=' && (expected.empty() || expected.back() != '='))
      converted.pop_back();
    EXPECT_EQ(converted, expected);
    ++compared;
  }
  EXPECT_GT(compared, 40);
}

}  // namespace
}  // namespace velmo
