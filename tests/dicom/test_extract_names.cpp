// Character sets, name priorities and person names in Shift-JIS.
#include <fstream>
#include <sstream>

#include "dicom/person_name.h"
#include "base/text.h"
#include "test_extract_support.h"

namespace velmo::test {
namespace {

const std::string kYamadaTarouJis = "Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B";

TEST(PersonName, DisplayGroupFollowsPrioritiesAndSkipsEmptyGroups) {
  const std::string groups[3] = {"Yamada", "", "yamada-kana"};
  const int16_t kanjiFirst[3] = {1, 0, -1};
  EXPECT_EQ(ChooseDisplayGroup(kanjiFirst, groups), 0);  // group 1 empty: next priority
  const int16_t kanaFirst[3] = {2, 0, -1};
  EXPECT_EQ(ChooseDisplayGroup(kanaFirst, groups), 2);
  const int16_t none[3] = {-1, -1, -1};
  EXPECT_EQ(ChooseDisplayGroup(none, groups), 0);
}

TEST(PersonName, CutNeverSplitsADoubleByteCharacter) {
  const std::string kanji = SJ("山田太郎");  // 8 bytes
  EXPECT_EQ(CutSjis("A" + kanji, 4), "A" + kanji.substr(0, 2));
  EXPECT_EQ(CutSjis(kanji, 5), kanji.substr(0, 4));
  EXPECT_EQ(CutSjis("\xB1\xB2\xB3", 2), "\xB1\xB2");  // half-width katakana are single bytes
}

// Priorities "漢字", "ローマ字", "なし" against ISO 2022 IR 6 \ ISO 2022 IR 87.
TEST_F(ExtractFixture, NamePrioritiesChooseTheKanjiGroup) {
  ctx.nameKeywords[0] = NamePriorityKeyword(SJ("漢字"));
  ctx.nameKeywords[1] = NamePriorityKeyword(SJ("ローマ字"));
  ctx.nameKeywords[2] = NamePriorityKeyword(SJ("なし"));
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0005, "CS", "ISO 2022 IR 6\\ISO 2022 IR 87");
    w.Text(0x0010, 0x0010, "PN", kYamadaTarouJis);
  }));
  const DicomImage& r = im();
  EXPECT_EQ(r.characterSets[0].view(), "ISO 2022 IR 6");
  EXPECT_EQ(r.characterSets[1].view(), "ISO 2022 IR 87");
  EXPECT_EQ(r.nameGroupIndex[0], 1);
  EXPECT_EQ(r.nameGroupIndex[1], 0);
  EXPECT_EQ(r.nameGroupIndex[2], -1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ctx.namePriority[i], r.nameGroupIndex[i]);
  EXPECT_EQ(r.patientNameGroups[0].view(), "Yamada Tarou");
  EXPECT_EQ(r.patientNameGroups[1].view(), SJ("山田 太郎"));
  EXPECT_TRUE(r.patientNameGroups[2].empty());
  EXPECT_EQ(r.patientNameDisplay.view(), SJ("山田 太郎"));

  // With romaji first the first group is shown.
  ctx.nameKeywords[0] = "IR 6";
  ctx.nameKeywords[1] = "IR 87";
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0005, "CS", "ISO 2022 IR 6\\ISO 2022 IR 87");
    w.Text(0x0010, 0x0010, "PN", kYamadaTarouJis);
  }));
  EXPECT_EQ(im().patientNameDisplay.view(), "Yamada Tarou");
}

TEST_F(ExtractFixture, CharacterSetSlots) {
  // An empty first value means the default repertoire; the last matching slot of
  // the first three wins; a sixth value is dropped.
  ctx.nameKeywords[0] = "IR 87";
  ctx.nameKeywords[1] = "";
  ctx.nameKeywords[2] = "IR 13";
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0005, "CS", "\\ISO 2022 IR 87\\ISO 2022 IR 87\\ISO 2022 IR 13\\A\\B");
  }));
  const DicomImage& r = im();
  EXPECT_EQ(r.characterSets[0].view(), "ISO 2022 IR 6");
  EXPECT_EQ(r.characterSets[2].view(), "ISO 2022 IR 87");
  EXPECT_EQ(r.characterSets[3].view(), "ISO 2022 IR 13");
  EXPECT_EQ(r.characterSets[4].view(), "A");
  EXPECT_EQ(r.nameGroupIndex[0], 2);
  EXPECT_EQ(r.nameGroupIndex[1], -1);
  EXPECT_EQ(r.nameGroupIndex[2], -1);  // IR 13 stands only in the fourth slot
}

TEST_F(ExtractFixture, EqualsSignInsideTwoByteRunDoesNotSplit) {
  // "=!" is the JIS X 0208 pair 3D 21 inside the run.
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.Text(0x0010, 0x0010, "PN", "A=\x1b$B=!\x1b(B");
  }));
  uint8_t s1, s2;
  JisToSjis(0x3D, 0x21, &s1, &s2);
  EXPECT_EQ(im().patientNameGroups[0].view(), "A");
  EXPECT_EQ(im().patientNameGroups[1].view(), std::string({static_cast<char>(s1), static_cast<char>(s2)}));
  EXPECT_TRUE(im().patientNameGroups[2].empty());
}

TEST_F(ExtractFixture, LongKanjiNameIsCutAtAWholeCharacter) {
  std::string jis = "A=\x1b$B";
  for (int i = 0; i < 40; ++i) jis += ";3";  // 山 forty times: 80 Shift-JIS bytes
  jis += "\x1b(B";
  ctx.nameKeywords[0] = "IR 87";
  ASSERT_TRUE(LoadDataset(1, [&](DicomWriter& w) {
    w.Text(0x0008, 0x0005, "CS", "\\ISO 2022 IR 87");
    w.Text(0x0010, 0x0010, "PN", jis);
    w.Text(0x0018, 0x1030, "LO", "\x1b$B;3ED\x1b(B");
  }));
  std::string expected;
  for (int i = 0; i < 32; ++i) expected += SJ("山");
  EXPECT_EQ(im().patientNameGroups[1].view(), expected);
  EXPECT_EQ(im().patientNameDisplay.view(), expected);
  EXPECT_EQ(im().protocolName.view(), SJ("山田"));
}

// The patient name column of the corpus reference, for one file.
std::string ReferenceName(const std::string& dir, const std::string& file) {
  std::ifstream in(dir + "/reference.tsv");
  std::string line;
  std::getline(in, line);
  std::vector<std::string> titles;
  {
    std::stringstream s(line);
    std::string t;
    while (std::getline(s, t, '\t')) titles.push_back(t);
  }
  size_t column = 0;
  while (column < titles.size() && titles[column] != "patient_name_unicode") ++column;
  while (std::getline(in, line)) {
    std::stringstream s(line);
    std::string field;
    std::vector<std::string> fields;
    while (std::getline(s, field, '\t')) fields.push_back(field);
    if (!fields.empty() && fields[0] == file && column < fields.size()) return fields[column];
  }
  return "";
}

TEST_F(ExtractFixture, JapaneseNamesOfRealFiles) {
  const std::string dir = TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public test corpus not present";
  for (const char* name : {"pydicom/charset/chrH31.dcm", "pydicom/charset/chrH32.dcm"}) {
    SCOPED_TRACE(name);
    ctx.nameKeywords[0] = "IR 87";
    ctx.nameKeywords[1] = "IR 6";
    ctx.nameKeywords[2] = "IR 13";
    files.Add(name, ReadBytes(dir + "/" + name));
    PrepareSingleFile(ctx, name);
    ASSERT_TRUE(ReadDicomFile(ctx, name, 1, true));
    ASSERT_TRUE(ExtractImageAttributes(ctx, 1));

    // Reference groups in Unicode, converted with iconv, carets shown as spaces.
    std::string reference = ReferenceName(dir, name);
    ASSERT_FALSE(reference.empty());
    for (char& c : reference) if (c == '^') c = ' ';
    std::string groups[3];
    size_t start = 0;
    for (int g = 0; g < 3; ++g) {
      const size_t eq = reference.find('=', start);
      groups[g] = SjisFromUtf8(reference.substr(start, eq == std::string::npos ? std::string::npos : eq - start));
      if (eq == std::string::npos) break;
      start = eq + 1;
    }
    for (int g = 0; g < 3; ++g) EXPECT_EQ(im().patientNameGroups[g].view(), groups[g]) << g;
    EXPECT_EQ(im().nameGroupIndex[0], 1);  // IR 87 in the second value of (0008,0005)
    EXPECT_EQ(im().patientNameDisplay.view(), SJ("山田 太郎"));
  }
  // Half-width katakana pass unchanged: "ﾔﾏﾀﾞ ﾀﾛｳ".
  EXPECT_EQ(im().patientNameGroups[0].view(), "\xD4\xCF\xC0\xDE \xC0\xDB\xB3");
  EXPECT_EQ(im().nameGroupIndex[2], 0);  // IR 13 in the first value
}

}  // namespace
}  // namespace velmo::test
