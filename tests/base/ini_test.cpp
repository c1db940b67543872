#include "base/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/install.h"
#include "base/text.h"
#include "support/test_util.h"

namespace velmo {
namespace {

std::string S(const char* utf8) { return SjisFromUtf8(utf8); }

std::string Crlf(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '\n') out += "\r\n"; else out += c;
  }
  return SjisFromUtf8(out);
}

const char kByteUnsafe[] =
    "[グループ]\n"
    "数=1\n"
    "グループ1=ソート表\n"
    "\n"
    "[ヘッダー]\n"
    "キー=値\n"
    "[外部ソフト]\n"
    "パス1=/opt/表示ソフト\n"
    "[ソート]\n"
    "１位=患者ID\n"
    "[分離表示]\n"
    "表=ソ]\n"
    "[ゾーン]\n"
    "ゾ=ゾ\n";

TEST(Ini, SectionNamesWithBracketAndBackslashTrailBytes) {
  // The test only means something when the names really contain these bytes.
  std::string all = S("グループヘッダー外部ソフトソート分離表示ゾーン");
  EXPECT_NE(all.find('\x5B'), std::string::npos);
  EXPECT_NE(all.find('\x5C'), std::string::npos);
  EXPECT_NE(all.find('\x5D'), std::string::npos);

  IniFile ini;
  ini.LoadFromBytes(Crlf(kByteUnsafe));
  EXPECT_EQ(ini.Get(S("グループ"), S("グループ1")), S("ソート表"));
  EXPECT_EQ(ini.GetInt(S("グループ"), S("数"), -1), 1);
  EXPECT_EQ(ini.Get(S("ヘッダー"), S("キー")), S("値"));
  EXPECT_EQ(ini.Get(S("外部ソフト"), S("パス1")), S("/opt/表示ソフト"));
  EXPECT_EQ(ini.Get(S("ソート"), S("１位")), S("患者ID"));
  EXPECT_EQ(ini.Get(S("分離表示"), S("表")), S("ソ]"));
  EXPECT_EQ(ini.Get(S("ゾーン"), S("ゾ")), S("ゾ"));
  EXPECT_FALSE(ini.Has(S("ゾ"), S("ゾ")));
  EXPECT_EQ(ini.ToBytes(), Crlf(kByteUnsafe));  // nothing altered by reading
}

TEST(Ini, SetChangesOneLineAndKeepsEveryOther) {
  IniFile ini;
  ini.LoadFromBytes(Crlf(std::string("; comment\n") + kByteUnsafe));
  ini.Set(S("ヘッダー"), S("キー"), S("新しい値"));
  ini.Set(S("ソート"), S("２位"), S("検査日"));        // new key at the end of its section
  ini.Set(S("グループ"), S("その他"), S("その他"));    // after the last non-blank line
  ini.Set(S("新規"), "A", "1");                       // new section at the end
  std::string expected = std::string("; comment\n") +
      "[グループ]\n数=1\nグループ1=ソート表\nその他=その他\n\n"
      "[ヘッダー]\nキー=新しい値\n"
      "[外部ソフト]\nパス1=/opt/表示ソフト\n"
      "[ソート]\n１位=患者ID\n２位=検査日\n"
      "[分離表示]\n表=ソ]\n"
      "[ゾーン]\nゾ=ゾ\n"
      "[新規]\nA=1\n";
  EXPECT_EQ(ini.ToBytes(), Crlf(expected));
  ini.Remove(S("ソート"), S("２位"));
  EXPECT_FALSE(ini.Has(S("ソート"), S("２位")));
  EXPECT_TRUE(ini.Has(S("ソート"), S("１位")));
}

TEST(Ini, KeysValuesAndNameMatching) {
  IniFile ini;
  ini.LoadFromBytes("[Detail]\n  LogLevel = 3 \nurl=a=b\n;x=1\nnoequals\n[\x83\x41]\nk=1\n");
  EXPECT_EQ(ini.Get("detail", "loglevel"), "3");  // ASCII letters match in any case
  EXPECT_EQ(ini.Get("Detail", "url"), "a=b");     // the key ends at the first "="
  EXPECT_FALSE(ini.Has("Detail", ";x"));
  EXPECT_FALSE(ini.Has("Detail", "noequals"));
  EXPECT_EQ(ini.Get("Detail", "missing"), "");
  EXPECT_EQ(ini.GetInt("Detail", "missing", 5000), 5000);
  EXPECT_EQ(ini.GetInt("Detail", "url", 5000), 0);
  // "ア" is 83 41; 83 61 is another character and must not match.
  EXPECT_EQ(ini.Get("\x83\x41", "k"), "1");
  EXPECT_FALSE(ini.Has("\x83\x61", "k"));
  // LF-only files stay LF-only.
  ini.Set("Detail", "LogLevel", "1");
  EXPECT_EQ(ini.ToBytes(), "[Detail]\nLogLevel=1\nurl=a=b\n;x=1\nnoequals\n[\x83\x41]\nk=1\n");
  // Sections listed in file order.
  auto keys = ini.Section("detail");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1].first, "url");
}

TEST(Ini, SaveReplacesTheFileThroughARename) {
  test::TempDir dir;
  const std::string path = dir.File("Velmo.ini");
  test::WriteText(path, "[a]\r\nk=1\r\n");
  chmod(path.c_str(), 0640);
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  ini.Set("a", "k", "2");
  ASSERT_TRUE(ini.Save(path));
  auto bytes = test::ReadBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "[a]\r\nk=2\r\n");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) { (void)e; ++files; }
  EXPECT_EQ(files, 1);  // no temporary file left behind
  EXPECT_FALSE(ini.Save(dir.File("missing/Velmo.ini")));
  IniFile none;
  EXPECT_FALSE(none.Load(dir.File("nothing.ini")));
  EXPECT_EQ(none.Get("a", "k"), "");
}

TEST(Ini, ProfileFunctionsUseTheInstallationsFile) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=2\n[リスト]\n最大数=\n");
  EXPECT_EQ(ProfileString("詳細", "LogLevel"), "2");
  EXPECT_EQ(ProfileInt("詳細", "LogLevel", 9), 2);
  EXPECT_EQ(ProfileInt("リスト", "最大数", 5000), 0);  // present but empty reads as 0
  EXPECT_EQ(ProfileInt("詳細", "DotPitchX", 7), 7);
  ASSERT_TRUE(WriteProfileString("状態", "リスト", S("シリーズ")));
  EXPECT_EQ(ProfileString("状態", "リスト"), S("シリーズ"));
  EXPECT_EQ(ProfileString("詳細", "LogLevel"), "2");
}

}  // namespace
}  // namespace velmo
