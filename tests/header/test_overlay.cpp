// The overlay configuration: group names that stay inside Config, Key.csv matching,
// corner files (missing, empty, not Shift-JIS, out of range), and the corner texts
// by priority and level.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/text.h"
#include "header_test_support.h"
#include "render/overlay.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::test {
namespace {

TEST(Overlay, GroupNamesNeverLeaveConfig) {
  struct Case { std::string name; bool ok; } cases[] = {
      {"CT", true}, {SJ("ソート"), true}, {SJ("表示"), true},  // trail bytes 0x5C are not separators
      {"", false}, {"  ", false}, {".", false}, {"..", false}, {" .. ", false}, {"a/b", false},
      {"/etc", false}, {"a\\b", false}, {std::string("a\0b", 3), false}, {"../Config", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSafeGroupName(c.name), c.ok) << c.name;

  TempDir dir;
  MakeInstallation(dir.path());
  // A corner file one level above Config that a "../x" group would read.
  std::filesystem::create_directories(dir.File("x"));
  for (int c = 0; c < 4; ++c) WriteText(dir.File(std::string("x/") + CornerFileName(c)), "0,0,0,1,0010,0010,n,EVIL,\r\n");
  Settings s;
  s.otherGroup = "../x";
  s.groups = {"/tmp", "..", "../x"};
  OverlayConfig config;
  LoadOverlayGroups(s, dir.path() + "/", config, Log::Null());
  ASSERT_EQ(config.groups.size(), 4u);
  for (const OverlayGroup& g : config.groups) EXPECT_FALSE(g.usable) << g.name;
  RecordingNotifier notifier;
  EXPECT_TRUE(LoadCornerFiles(dir.path() + "/", config, Log::Null(), &notifier));
  for (const OverlayGroup& g : config.groups)
    for (const CornerTable& t : g.corners) EXPECT_EQ(t.lineCount, 0);
}

TEST(Overlay, CornerFilesMissingEmptyAndBroken) {
  TempDir dir;
  MakeInstallation(dir.path());
  const std::string other = SJ("その他");
  const std::string folder = GroupFolder(dir.path() + "/", other);
  std::filesystem::create_directories(folder);
  Settings s;
  s.otherGroup = other;
  OverlayConfig config;
  LoadOverlayGroups(s, dir.path() + "/", config, Log::Null());
  RecordingNotifier notifier;
  EXPECT_FALSE(LoadCornerFiles(dir.path() + "/", config, Log::Null(), &notifier));
  ASSERT_EQ(notifier.entries.size(), 1u);
  EXPECT_EQ(notifier.entries[0].caption, SJ("エラー"));
  EXPECT_NE(notifier.entries[0].message.find("InfoUpLeft.csv"), std::string::npos);

  WriteText(folder + "InfoUpLeft.csv", "");                             // empty
  WriteText(folder + "InfoUpRight.csv", "\xff\xfe\x81,\x00\r\n,,,\n");  // not Shift-JIS, short lines
  WriteText(folder + "InfoDownLeft.csv",
            "0,0,0,1,0020,0011,Series,\x82\xa0\xff,unit-too-long\n"  // LF only is read too
            "12,0,0,1,0020,0013,past the table,x,\r\n"
            "3,5,0,1,0020,0013,bad priority,x,\r\n"
            "-1,0,0,1,0020,0013,negative,x,\r\n"
            "5,0,0,0,0020,0013,disabled,x,\r\n");
  WriteText(folder + "InfoDownRight.csv", "2,1,1,1,0008,0060,m,,\r\n");
  notifier.entries.clear();
  EXPECT_TRUE(LoadCornerFiles(dir.path() + "/", config, Log::Null(), &notifier));
  EXPECT_TRUE(notifier.entries.empty());
  const OverlayGroup& g = config.groups[0];
  EXPECT_EQ(g.corners[kUpLeft].lineCount, 0);
  EXPECT_EQ(g.corners[kUpRight].lineCount, 0);
  EXPECT_EQ(g.corners[kDownLeft].lineCount, 1);  // disabled line 5 does not count
  EXPECT_EQ(std::string(g.corners[kDownLeft].lines[0][0].label.view()), "\x82\xa0\xff");
  EXPECT_EQ(std::string(g.corners[kDownLeft].lines[0][0].unit.view()), "unit-to");  // 7 bytes
  EXPECT_EQ(g.corners[kDownRight].lineCount, 3);
}

DicomImage Image(const char* modality, const char* manufacturer) {
  DicomImage im;
  im.modality = modality;
  im.manufacturer = manufacturer;
  return im;
}

TEST(Overlay, GroupSelectionByKeyFile) {
  OverlayConfig config;
  config.groups.resize(4);
  ParseKeyFile("M,0008,0060,,CT\r\nMaker,0008,0070,,ACME\r\n", config.groups[1]);
  ParseKeyFile("M,0008,0060,,CR,DX\r\nOther tag,0010,0010,,nobody\r\n", config.groups[2]);
  ParseKeyFile("M,0008,0060,\r\n", config.groups[3]);  // no values: never matches
  EXPECT_EQ(config.groups[2].alternatives, 2);
  EXPECT_EQ(SelectOverlayGroup(config, Image("CT", "ACME Medical")), 1);  // prefix match
  EXPECT_EQ(SelectOverlayGroup(config, Image("CT", "Other")), 0);
  EXPECT_EQ(SelectOverlayGroup(config, Image("DX", "")), 2);  // second alternative; other tags always hold
  EXPECT_EQ(SelectOverlayGroup(config, Image("CR", "")), 2);
  EXPECT_EQ(SelectOverlayGroup(config, Image("MR", "ACME")), 0);
  OverlayConfig none;
  none.groups.resize(1);
  EXPECT_EQ(SelectOverlayGroup(none, Image("CT", "ACME")), 0);
  // At most ten key lines are kept.
  std::string many;
  for (int i = 0; i < 14; ++i) many += "M,0008,0060,,CT\r\n";
  ParseKeyFile(many, config.groups[3]);
  EXPECT_EQ(config.groups[3].keys.size(), 10u);
}

TEST(Overlay, CornerTextsByPriorityAndLevel) {
  DicomWriter w(1);
  w.Text(0x0010, 0x0010, "PN", "Doe^Jane").Text(0x0010, 0x0020, "LO", "ID7").Text(0x0018, 0x0050, "DS", "2.50");
  DicomImage im;
  const Bytes file = MakeFile("1.2.840.10008.1.2.1", w.bytes());
  im.headerCopy = file;
  im.preambleSize = 132;
  im.datasetOffset = 132 + static_cast<int32_t>(MakeMetaGroup("1.2.840.10008.1.2.1", "1.2.840.10008.5.1.4.1.1.2").size());
  im.headerSize = static_cast<int32_t>(file.size());
  im.syntaxType = 1;
  im.loaded = 1;
  im.level = 40;
  im.width = 400;
  OverlayConfig config;
  config.groups.resize(1);
  ParseCornerFile(
      "0,0,0,1,0010,1010,age (absent),Age ,\r\n"
      "0,1,0,1,0010,0010,name,,\r\n"
      "1,0,1,1,0018,0050,thickness,T: , mm\r\n"
      "2,0,0,0,0010,0020,disabled,,\r\n"
      "2,1,0,1,0010,0020,id,ID ,\r\n"
      "3,0,0,1,0008,0020,absent date,,\r\n",
      config.groups[0].corners[kUpLeft]);
  OverlayInput in;
  in.image = &im;
  in.overlayLevel = 1;
  in.orientationHorizontal = "L";
  in.orientationVertical = "P";
  const OverlayTexts t1 = LayOutOverlay(config, 0, in, ShippedDictionaries(), {});
  ASSERT_EQ(t1.corners[kUpLeft].size(), 4u);
  EXPECT_EQ(t1.corners[kUpLeft][0], "Doe Jane");
  EXPECT_EQ(t1.corners[kUpLeft][1], "T: 2.5 mm");
  EXPECT_EQ(t1.corners[kUpLeft][2], "ID ID7");
  EXPECT_EQ(t1.corners[kUpLeft][3], "");
  EXPECT_EQ(t1.levelWidth, (std::vector<std::string>{"L:   40", "W:  400"}));
  EXPECT_EQ(t1.orientationHorizontal, "L");
  in.rotated = true;
  in.overlayLevel = 0;
  const OverlayTexts t0 = LayOutOverlay(config, 0, in, ShippedDictionaries(), {});
  EXPECT_EQ(t0.corners[kUpLeft][1], "");  // a level-1 item
  EXPECT_TRUE(t0.levelWidth.empty());
  EXPECT_TRUE(t0.orientationHorizontal.empty());
  im.isColour = 1;
  in.overlayLevel = 1;
  EXPECT_EQ(Utf8FromSjis(LayOutOverlay(config, 0, in, ShippedDictionaries(), {}).levelWidth[0]), "明度:  40");
  in.overlayLevel = -1;
  EXPECT_TRUE(LayOutOverlay(config, 0, in, ShippedDictionaries(), {}).corners[kUpLeft].empty());
  in.overlayLevel = 1;
  in.blocked = true;  // the right pane shows MPR/MIP: no element can be shown
  EXPECT_EQ(LayOutOverlay(config, 7, in, ShippedDictionaries(), {}).corners[kUpLeft][0], "");
}

TEST(Overlay, GroupFoldersAreCreatedRenamedAndDeletedInsideConfig) {
  namespace fs = std::filesystem;
  TempDir dir;
  MakeInstallation(dir.path());
  const std::string home = dir.path() + "/";
  fs::create_directories(dir.File("Master"));
  WriteText(dir.File("Master/Key.csv"), "M,0008,0060,\r\n");
  for (int c = 0; c < 4; ++c) WriteText(dir.File(std::string("Master/") + CornerFileName(c)), "0,0,0,1,0010,0010,n,,\r\n");
  std::vector<std::string> groups;
  const std::string other = SJ("その他");
  for (const std::string bad : {std::string(""), std::string(".."), std::string("../up"), std::string("/abs"), other})
    EXPECT_EQ(CreateOverlayGroup(home, groups, other, bad), GroupEditResult::kRefusedName) << bad;
  EXPECT_FALSE(fs::exists(dir.File("up")));
  ASSERT_EQ(CreateOverlayGroup(home, groups, other, "CT"), GroupEditResult::kOk);
  EXPECT_EQ(CreateOverlayGroup(home, groups, other, "CT"), GroupEditResult::kRefusedName);  // duplicate
  EXPECT_TRUE(fs::exists(dir.File("Config/CT/Key.csv")));
  EXPECT_TRUE(fs::exists(dir.File("Config/CT/InfoDownRight.csv")));
  // An existing file is kept when a group of that name is made again.
  WriteText(dir.File("Config/MR/Key.csv.keep"), "");
  fs::create_directories(dir.File("Config/MR"));
  WriteText(dir.File("Config/MR/Key.csv"), "mine");
  ASSERT_EQ(CreateOverlayGroup(home, groups, other, "MR"), GroupEditResult::kOk);
  EXPECT_EQ(ReadBytes(dir.File("Config/MR/Key.csv")).size(), 4u);
  // Renaming never replaces a folder.
  EXPECT_EQ(RenameOverlayGroup(home, groups, other, 0, "MR"), GroupEditResult::kRefusedName);
  fs::create_directories(dir.File("Config/XA"));
  EXPECT_EQ(RenameOverlayGroup(home, groups, other, 0, "XA"), GroupEditResult::kFailed);
  ASSERT_EQ(RenameOverlayGroup(home, groups, other, 0, "CT2"), GroupEditResult::kOk);
  EXPECT_TRUE(fs::exists(dir.File("Config/CT2/Key.csv")));
  EXPECT_EQ(groups, (std::vector<std::string>{"CT2", "MR"}));
  // A group folder that is a link to a folder outside Config is not followed.
  fs::create_directories(dir.File("outside"));
  WriteText(dir.File("outside/precious"), "x");
  fs::create_directory_symlink(dir.File("outside"), dir.File("Config/LINK"));
  groups.push_back("LINK");
  EXPECT_FALSE(DeleteOverlayGroup(home, groups, 2));
  EXPECT_TRUE(fs::exists(dir.File("outside/precious")));
  EXPECT_TRUE(DeleteOverlayGroup(home, groups, 0));
  EXPECT_FALSE(fs::exists(dir.File("Config/CT2")));
  EXPECT_EQ(groups.size(), 2u);
  // Fifteen configured groups at most.
  for (int i = 0; groups.size() < 15; ++i) ASSERT_EQ(CreateOverlayGroup(home, groups, other, "G" + std::to_string(i)), GroupEditResult::kOk);
  EXPECT_EQ(CreateOverlayGroup(home, groups, other, "ONE-MORE"), GroupEditResult::kFailed);
}

TEST(Overlay, EditedFilesReadBackAsWritten) {
  const std::string corner = "0,0,0,1,0010,0010,name,label,unit\r\n3,2,1,0,0008,0060,m,,\r\n";
  EXPECT_EQ(CornerRowsText(ParseCornerRows(corner)), corner);
  OverlayGroup g;
  ParseKeyFile("M,0008,0060,xx,CT,MR\r\nMaker,0008,0070,\r\n", g);
  EXPECT_EQ(KeyFileText(g.keys), "M,0008,0060,xx,CT,MR\r\nMaker,0008,0070,\r\n");
}

}  // namespace
}  // namespace velmo::test
