#include "base/settings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "base/ini.h"
#include "base/install.h"
#include "base/text.h"
#include "support/test_util.h"

namespace velmo {
namespace {

std::string S(const char* utf8) { return SjisFromUtf8(utf8); }

std::string ShippedIniUtf8() {
  std::ifstream in(std::string(VELMO_SOURCE_DIR) + "/data/Config/Velmo.ini.utf8", std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string IniBytes() {
  auto b = test::ReadBytes(IniPath());
  return std::string(b.begin(), b.end());
}

TEST(Settings, ShippedDefaults) {
  const std::string shipped = ShippedIniUtf8();
  ASSERT_FALSE(shipped.empty());
  test::TempDir dir;
  test::MakeInstallation(dir.path(), shipped);
  Settings s = Settings::Load();
  EXPECT_EQ(s.selectFrame1, 65535u);
  EXPECT_EQ(s.mprActiveColor, 255u);
  EXPECT_EQ(s.overlayFontSize, 10);
  EXPECT_EQ(s.overlayFont, S("ＭＳ Ｐゴシック"));
  EXPECT_FALSE(s.JapaneseEra());
  EXPECT_FALSE(s.Bicubic());
  EXPECT_EQ(s.SortKeyAt(0), SortKey::PatientId);
  EXPECT_EQ(s.SortKeyAt(4), SortKey::None);
  EXPECT_FALSE(s.Descending(0));
  EXPECT_EQ(s.NamePriority(0), NamePart::Ideographic);
  EXPECT_EQ(Settings::CharsetKeyword(s.NamePriority(1)), "IR 6");
  EXPECT_EQ(s.logLevel, 2);
  EXPECT_EQ(s.logFileCount, 5);
  EXPECT_DOUBLE_EQ(s.dotPitchX, 0.2646);
  EXPECT_EQ(s.listCapacity, 5000);
  ASSERT_EQ(s.groups.size(), 4u);  // CT, MR, CR-DX, US
  EXPECT_EQ(s.otherGroup, S("その他"));
  EXPECT_EQ(s.print.paper, "A4");
  EXPECT_FALSE(s.print.Landscape());
  EXPECT_EQ(s.print.layout, S("1×1"));
  EXPECT_EQ(s.displayMode, S("分離表示"));
}

// Saving the shipped defaults adds nothing: the shipped file already holds every
// key the settings dialog writes, in the form it writes them.
TEST(Settings, ShippedFileHoldsEveryDialogKey) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), ShippedIniUtf8());
  const std::string before = IniBytes();
  ASSERT_TRUE(Settings::Load().Save());
  EXPECT_EQ(IniBytes(), before);
}

TEST(Settings, MissingFileAndMissingKeysGiveDefaults) {
  test::TempDir dir;
  SetInstallFolder(dir.path() + "/");  // no Config at all
  Settings s = Settings::Load();
  EXPECT_EQ(s.listCapacity, 5000);
  EXPECT_EQ(s.dotPitchX, 0.0);
  EXPECT_EQ(s.logLevel, 0);
  EXPECT_EQ(s.window.right, 0);
  EXPECT_EQ(s.era, "");
  EXPECT_EQ(s.print.marginTop, 2000);

  for (const char* value : {"0", "-3", "", "abc"}) {
    test::MakeInstallation(dir.path(), std::string("[リスト]\n最大数=") + value + "\n");
    EXPECT_EQ(Settings::Load().listCapacity, 5000) << value;
  }
  test::MakeInstallation(dir.path(), "[リスト]\n最大数=200\n[色設定]\nMPR=4294967295\n[詳細]\nDotPitchX=nan\n");
  Settings s2 = Settings::Load();
  EXPECT_EQ(s2.listCapacity, 200);
  EXPECT_EQ(s2.mprColor, 0xFFFFFFFFu);
  EXPECT_EQ(s2.dotPitchX, 0.0);
}

TEST(Settings, SaveWritesDialogKeysAndKeepsTheRest) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[独自]\nx=1\n[状態]\nリスト=画像\n[詳細]\nWndEndX=800\n");
  Settings s = Settings::Load();
  s.roiBoxColor = 0x00FF8000;
  s.era = S("和暦");
  s.programNames[3] = S("ビューア");
  s.programPaths[3] = "/usr/bin/viewer";
  s.sortKeys[1] = S("モダリティ");
  s.sortOrders[1] = S("降順");
  s.namePriorities[2] = S("なし");
  s.zoomMethod = S("バイキュービック");
  s.logLevel = 3;
  s.dotPitchY = 0.25;
  s.listCapacity = 123;
  ASSERT_TRUE(s.Save());
  Settings r = Settings::Load();
  EXPECT_EQ(r.roiBoxColor, 0x00FF8000u);
  EXPECT_TRUE(r.JapaneseEra());
  EXPECT_EQ(r.programNames[3], S("ビューア"));
  EXPECT_EQ(r.programPaths[3], "/usr/bin/viewer");
  EXPECT_EQ(r.SortKeyAt(1), SortKey::Modality);
  EXPECT_TRUE(r.Descending(1));
  EXPECT_EQ(r.NamePriority(2), NamePart::None);
  EXPECT_TRUE(r.Bicubic());
  EXPECT_EQ(r.logLevel, 3);
  EXPECT_DOUBLE_EQ(r.dotPitchY, 0.25);
  EXPECT_EQ(r.listCapacity, 123);
  // Keys outside the dialog stay as they were.
  EXPECT_EQ(r.window.right, 800);
  EXPECT_EQ(r.listLevel, S("画像"));
  EXPECT_EQ(ProfileString("独自", "x"), "1");
}

TEST(Settings, WindowStateGroupsAndPrint) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[グループ]\n数=3\nグループ1=A\nグループ2=B\nグループ3=C\nその他=その他\n");
  EXPECT_EQ(Settings::Load().groups.size(), 3u);

  ASSERT_TRUE(Settings::SaveWindowState(S("シリーズ"), S("結合表示"), WindowRect{10, 20, 1010, 790}));
  ASSERT_TRUE(Settings::SaveGroups({S("ＣＴ"), "B"}, S("その他")));
  PrintSettings p;
  p.orientation = S("横");
  p.paper = S("はがき");
  p.blackBackground = true;
  p.layout = S("2×2");
  ASSERT_TRUE(Settings::SavePrint(p));

  Settings s = Settings::Load();
  EXPECT_EQ(s.listLevel, S("シリーズ"));
  EXPECT_EQ(s.displayMode, S("結合表示"));
  EXPECT_EQ(s.window.left, 10);
  EXPECT_EQ(s.window.bottom, 790);
  ASSERT_EQ(s.groups.size(), 2u);
  EXPECT_EQ(s.groups[0], S("ＣＴ"));
  EXPECT_EQ(ProfileString("グループ", "グループ3"), "");  // the stale entry is gone
  EXPECT_TRUE(s.print.Landscape());
  EXPECT_EQ(s.print.paper, S("はがき"));
  EXPECT_TRUE(s.print.blackBackground);
  EXPECT_EQ(s.print.layout, S("2×2"));
  EXPECT_EQ(s.print.marginLeft, 2000);
}

// A Velmo.ini that exists but cannot be read is never replaced: every writer fails and
// leaves its bytes alone, instead of writing the few keys it changes over the whole
// file. Run as a user the file's mode applies to (CI runs as root, which reads anyway).
TEST(Settings, UnreadableFileIsNeverWrittenOver) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), ShippedIniUtf8());
  const std::string before = IniBytes();
  ASSERT_GT(before.size(), 500u);
  test::OpenToEveryone(dir.path());
  chmod(IniPath().c_str(), 0200);
  const std::vector<std::function<bool()>> writers = {
      [] { return WriteProfileString("リスト", "左", ""); },
      [] { return Settings::SaveWindowState(S("シリーズ"), S("分離表示"), WindowRect{1, 2, 300, 400}); },
      [] { return Settings().Save(); },
      [] { return Settings::SaveGroups({S("CT")}, S("その他")); },
      [] { return Settings::SavePrint(PrintSettings{}); },
  };
  const int result = test::RunUnprivileged([&] {
    if (access(IniPath().c_str(), R_OK) == 0) return 100;
    int failedWrites = 0;
    for (const auto& write : writers) failedWrites += write() ? 0 : 1;
    return failedWrites;
  });
  chmod(IniPath().c_str(), 0644);
  EXPECT_EQ(result, static_cast<int>(writers.size())) << "100: the file was readable";
  EXPECT_EQ(IniBytes(), before);

  // A file that is really missing is created by the same writers.
  ASSERT_EQ(unlink(IniPath().c_str()), 0);
  EXPECT_TRUE(WriteProfileString("リスト", "左", "x"));
  EXPECT_EQ(ProfileString("リスト", "左"), "x");
}

}  // namespace
}  // namespace velmo
