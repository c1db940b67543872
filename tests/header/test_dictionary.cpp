// Tag.csv and VR.csv: loading with every failure, and lookups that follow the
// positional CR LF / comma rules exactly.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/text.h"
#include "header/dictionary.h"
#include "header_test_support.h"
#include "support/test_util.h"

namespace velmo::test {
namespace {

TEST(Dictionary, LookupFollowsThePositionalRules) {
  const Dictionaries d = MakeDictionaries(
      "0010,0010,JA1,Patient's Name,PN,1\r\n"
      "0010,0010,second,Second,LO,9\r\n"        // listed twice: the first wins
      "0010,0020,,Patient ID,LO\r\n"            // five columns: no VM
      "0010,0030,BD,Birth Date,DA,\r\n"         // empty last column
      "0028,010a,lower,Lower,US,1\r\n"          // lower-case element never matches
      "7fe0,0010,lower,Lower,OW,1\r\n"          // lower-case group never matches
      "0018,0050,\"quoted\", spaced ,DS,1\r\n"  // quotes and spaces kept
      "0008,0060,M,Modality,CS,1,extra,more\r\n"
      "0008,0070,No CR LF at the end,x,LO,1",
      "");
  struct Case { const char *group, *element, *ja, *en, *vr, *vm; bool found; } cases[] = {
      {"0010", "0010", "JA1", "Patient's Name", "PN", "1", true},
      {"0010", "0020", "", "Patient ID", "LO", "", true},
      {"0010", "0030", "BD", "Birth Date", "DA", "", true},
      {"0028", "010A", "", "", "", "", false},
      {"0028", "010a", "lower", "Lower", "US", "1", true},  // callers always pass upper case
      {"7FE0", "0010", "", "", "", "", false},
      {"0018", "0050", "\"quoted\"", " spaced ", "DS", "1", true},
      {"0008", "0060", "M", "Modality", "CS", "1", true},
      {"0008", "0070", "No CR LF at the end", "x", "LO", "1", true},
      {"0010", "001", "", "", "", "", false},
      {"", "", "", "", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.group) + "," + c.element);
    TagEntry e;
    EXPECT_EQ(LookupTag(d, c.group, c.element, &e), c.found);
    EXPECT_EQ(e.japaneseName, c.ja);
    EXPECT_EQ(e.englishName, c.en);
    EXPECT_EQ(e.vr, c.vr);
    EXPECT_EQ(e.vm, c.vm);
  }
}

TEST(Dictionary, BareLineFeedsAndBrokenLinesStayInsideTheFile) {
  // A file saved with LF only is one long line: only its first element is found.
  Dictionaries lf = MakeDictionaries("0010,0010,A,B,PN,1\n0010,0020,C,D,LO,1\n", "");
  TagEntry e;
  EXPECT_TRUE(LookupTag(lf, "0010", "0010", &e));
  EXPECT_FALSE(LookupTag(lf, "0010", "0020", &e));
  // Short lines, a lone CR (not a line end), a last line of three bytes: positions
  // count from each line start and nothing is read past the end.
  Dictionaries broken = MakeDictionaries("00\r\n0010\r0010,X\r\n001", "A");
  EXPECT_TRUE(LookupTag(broken, "0010", "0010", &e));
  EXPECT_EQ(e.japaneseName, "X");
  EXPECT_FALSE(LookupTag(broken, "001\0", "0010", &e));
  std::string code, flag;
  EXPECT_FALSE(LookupVrFlag(broken, "AE", &code, &flag));
  // A line of 600-byte names is cut at the column limits.
  Dictionaries longLine = MakeDictionaries("0010,0010," + std::string(600, 'n') + "," + std::string(600, 'e') + "," +
                                               std::string(40, 'V') + "," + std::string(40, 'M') + "\r\n",
                                           "");
  EXPECT_TRUE(LookupTag(longLine, "0010", "0010", &e));
  EXPECT_EQ(e.japaneseName.size(), 511u);
  EXPECT_EQ(e.englishName.size(), 511u);
  EXPECT_EQ(e.vr.size(), 15u);
  EXPECT_EQ(e.vm.size(), 15u);
}

TEST(Dictionary, VrFlagIsTheFirstVrLineFoundInsideTheField) {
  const Dictionaries d = MakeDictionaries("", "OW,x,y,N\r\nOB,x,y,N2\r\nPN,x,y,A\r\nUN,x,y,\r\nSS,x\r\n");
  struct Case { const char *field, *code, *flag; } cases[] = {
      {"OB or OW", "OW", "N"},  // VR.csv order decides
      {"PN", "PN", "A"},
      {"UN", "UN", ""},          // empty column 3: no flag
      {"SS", "SS", ""},          // fewer than four columns
      {"XX", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    std::string code, flag;
    LookupVrFlag(d, c.field, &code, &flag);
    EXPECT_EQ(code, c.code) << c.field;
    EXPECT_EQ(flag, c.flag) << c.field;
  }
}

TEST(Dictionary, LoadingReportsMissingFilesAndReadsTheShippedOnes) {
  TempDir dir;
  MakeInstallation(dir.path());
  RecordingNotifier notifier;
  Dictionaries d;
  EXPECT_TRUE(LoadDictionaries(dir.path() + "/", d, Log::Null(), &notifier));
  ASSERT_EQ(notifier.entries.size(), 2u);
  EXPECT_EQ(notifier.entries[0].caption, SJ("エラー"));
  EXPECT_EQ(notifier.entries[0].message, SJ("設定ファイル(Tag.csv)が見つかりませんでした"));
  EXPECT_EQ(notifier.entries[1].message, SJ("設定ファイル(VR.csv)が見つかりませんでした"));
  TagEntry e;
  EXPECT_FALSE(LookupTag(d, "0010", "0010", &e));

  // Empty files and a folder in place of a file: no message, nothing found.
  WriteText(dir.File("Config/Tag.csv"), "");
  std::filesystem::create_directory(dir.File("Config/VR.csv"));
  notifier.entries.clear();
  EXPECT_TRUE(LoadDictionaries(dir.path() + "/", d, Log::Null(), &notifier));
  EXPECT_TRUE(notifier.entries.empty());
  EXPECT_FALSE(LookupTag(d, "0010", "0010", &e));

  // The shipped files: every public element with names, VR and VM.
  const Dictionaries& shipped = ShippedDictionaries();
  ASSERT_TRUE(LookupTag(shipped, "0010", "0010", &e));
  EXPECT_EQ(e.japaneseName, SJ("患者名"));
  EXPECT_EQ(e.englishName, "Patient's Name");
  EXPECT_EQ(e.vr, "PN");
  EXPECT_EQ(e.vm, "1");
  ASSERT_TRUE(LookupTag(shipped, "601E", "3000", &e));
  EXPECT_EQ(e.vr, "OB or OW");
  ASSERT_TRUE(LookupTag(shipped, "0002", "0010", &e));
  ASSERT_TRUE(LookupTag(shipped, "0004", "1220", &e));
  for (const char* vr : {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO", "LT", "OB", "OD", "OF",
                         "OL", "OV", "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "SV", "TM", "UC", "UI", "UL", "UN",
                         "UR", "US", "UT", "UV"}) {
    std::string code, flag;
    EXPECT_TRUE(LookupVrFlag(shipped, vr, &code, &flag)) << vr;
    EXPECT_EQ(code, vr);
  }
  int lines = 0;
  for (char c : shipped.tags.bytes) lines += c == '\n';
  EXPECT_GT(lines, 4000);
}

TEST(Dictionary, DescribeVrMatchesTheFirstTwoCharacters) {
  ASSERT_EQ(VrDescriptions().size(), 26u);
  EXPECT_EQ(VrDescriptions().front().code, "AE");
  EXPECT_EQ(VrDescriptions().back().code, "UT");
  const VrDescription as = DescribeVr("AS or xx");
  EXPECT_EQ(as.name, SJ("年齢列"));
  EXPECT_EQ(as.length, SJ("4 ﾊﾞｲﾄ固定"));
  EXPECT_EQ(DescribeVr("AE").repertoire, SJ("半角英数字と記号(\\, LF, FF, CR, ESCは除く)"));
  const VrDescription none = DescribeVr("");
  EXPECT_TRUE(none.code.empty() && none.name.empty() && none.definition.empty());
  EXPECT_TRUE(DescribeVr("OF").name.empty());
}

}  // namespace
}  // namespace velmo::test
