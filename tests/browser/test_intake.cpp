// File intake: the DICOMDIR name test, folder scans (links, loops, hidden and
// non-UTF-8 names), the full table, and the intake operations' table and DICOMDIR rules.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "browser/intake.h"
#include "browser/loading_job.h"
#include "base/ini.h"
#include "base/text.h"
#include "test_intake_files.h"

namespace velmo {
namespace {

using test::TempDir;

std::vector<std::string> Paths(const FileTable& t, int32_t from = 0) {
  std::vector<std::string> out;
  for (int32_t i = from; i < t.pendingEnd.load(); ++i) out.push_back(t.Record(i).filePath);
  return out;
}

void Touch(const std::string& path) { test::WriteText(path, "x"); }

// An Intake whose DICOMDIR reader and Velmo.ini memory are recorded instead of run.
struct Fixture {
  FileTable table;
  Intake intake{table, Log::Null()};
  std::vector<std::string> dicomdirsRead;
  std::vector<std::string> remembered;
  Fixture(int32_t capacity = 100) {
    table.Allocate(capacity);
    intake.SetDicomdirReader([this](const std::string& p) {
      dicomdirsRead.push_back(p);
      table.Append(p + "#image");  // what a DICOMDIR with one image leaves
      table.validCount = table.pendingEnd.load();
      return true;
    });
    intake.SetRemember([this](const std::string& p) { remembered.push_back(p); });
  }
};

TEST(Intake, DicomdirNameTest) {
  EXPECT_TRUE(IsDicomdirPath("DICOMDIR"));
  EXPECT_TRUE(IsDicomdirPath("/media/cd/dicomdir"));
  EXPECT_TRUE(IsDicomdirPath("/media/cd/DicomDir.bak"));  // the extension is not part of the name
  EXPECT_FALSE(IsDicomdirPath("/media/cd/DICOMDIR-implicit"));
  EXPECT_FALSE(IsDicomdirPath("/media/DICOMDIR/IM0001"));
  EXPECT_FALSE(IsDicomdirPath("/media/cd/XDICOMDIR"));
  EXPECT_FALSE(IsDicomdirPath(""));
}

TEST(Intake, FolderScanTakesEveryFileOnceWhateverItsName) {
  TempDir dir;
  const std::string root = dir.File("root");
  std::filesystem::create_directories(root + "/b_sub/deeper");
  std::filesystem::create_directories(root + "/a_sub");
  Touch(root + "/z.dcm");
  Touch(root + "/.hidden");
  Touch(root + "/noext");
  Touch(root + "/b_sub/deeper/x");
  Touch(root + "/a_sub/1");
  const std::string latin1 = root + "/caf\xe9";  // not valid UTF-8
  Touch(latin1);
  // A loop back to the root, a second way into a_sub, a link to a file, a broken link.
  ASSERT_EQ(symlink(root.c_str(), (root + "/b_sub/loop").c_str()), 0);
  ASSERT_EQ(symlink((root + "/a_sub").c_str(), (root + "/c_again").c_str()), 0);
  ASSERT_EQ(symlink((root + "/z.dcm").c_str(), (root + "/d_link").c_str()), 0);
  ASSERT_EQ(symlink((root + "/gone").c_str(), (root + "/e_broken").c_str()), 0);

  FileTable table;
  ASSERT_TRUE(table.Allocate(100));
  EXPECT_TRUE(ScanFolder(table, root));
  // Depth first, names in byte order, each subfolder where it is met.
  const std::vector<std::string> expected = {root + "/.hidden",  root + "/a_sub/1", root + "/b_sub/deeper/x",
                                             root + "/caf\xe9",  root + "/d_link",  root + "/e_broken",
                                             root + "/noext",    root + "/z.dcm"};
  EXPECT_EQ(Paths(table), expected);
}

TEST(Intake, FullTableTakesOnlyWhatFits) {
  TempDir dir;
  for (int i = 0; i < 10; ++i) Touch(dir.File("f" + std::to_string(i)));
  FileTable table;
  ASSERT_TRUE(table.Allocate(5000));
  for (int i = 0; i < 4999; ++i) ASSERT_TRUE(table.Append("/x/" + std::to_string(i)));
  table.validCount = 4999;

  Intake intake(table, Log::Null());
  intake.SetRemember([](const std::string&) {});
  intake.TakeFolder(dir.path());
  EXPECT_EQ(table.pendingStart.load(), 4999);
  EXPECT_EQ(table.pendingEnd.load(), 5000);
  EXPECT_EQ(table.Record(4999).filePath, dir.File("f0"));
  EXPECT_TRUE(table.Full());
  EXPECT_FALSE(ScanFolder(table, dir.path()));
  EXPECT_FALSE(table.Append("/one/more"));
  EXPECT_EQ(table.pendingEnd.load(), 5000);
  // A file intake on a full table takes nothing and stops quietly.
  table.validCount = 5000;
  EXPECT_EQ(intake.TakeFiles({"/a", "/b"}), LoadCommand::kLeftPane);
  EXPECT_EQ(table.pendingEnd.load(), 5000);
}

TEST(Intake, FilesAppendAfterFilesButReplaceADicomdirList) {
  Fixture f;
  f.intake.TakeFiles({"/a", "/b"});
  f.table.validCount = 2;  // as the loading job would leave it
  f.intake.TakeFiles({"/c"});
  EXPECT_EQ(Paths(f.table), (std::vector<std::string>{"/a", "/b", "/c"}));
  EXPECT_EQ(f.table.pendingStart.load(), 2);
  EXPECT_EQ(f.table.lastPath, "/c");

  f.table.validCount = 3;
  f.table.fromDicomdir = true;
  f.intake.TakeFiles({"/d"});
  EXPECT_EQ(Paths(f.table), (std::vector<std::string>{"/d"}));
  EXPECT_EQ(f.table.pendingStart.load(), 0);
  EXPECT_EQ(f.table.validCount.load(), 0);
}

TEST(Intake, ADicomdirInAMultiSelectionEndsItAndIsRead) {
  Fixture f;
  f.table.Append("/old");
  f.table.validCount = 1;
  EXPECT_EQ(f.intake.TakeFiles({"/a", "/cd/DICOMDIR", "/b"}), LoadCommand::kLeftPane);
  EXPECT_EQ(f.table.pendingEnd.load(), 0);  // files before it discarded, after it ignored
  EXPECT_EQ(f.table.lastPath, "/cd/DICOMDIR");

  const PendingLoad load = f.intake.LoadPending(LoadCommand::kLeftPane);
  EXPECT_EQ(load.pane, 1);
  EXPECT_TRUE(load.dicomdirRoad);
  EXPECT_TRUE(load.dicomdirRead);
  EXPECT_TRUE(load.clearSelections);
  EXPECT_FALSE(load.runLoadingJob);
  EXPECT_TRUE(f.table.fromDicomdir);
  EXPECT_EQ(f.dicomdirsRead, std::vector<std::string>{"/cd/DICOMDIR"});
  EXPECT_EQ(f.remembered, std::vector<std::string>{"/cd/DICOMDIR"});
  EXPECT_EQ(Paths(f.table), std::vector<std::string>{"/cd/DICOMDIR#image"});
}

TEST(Intake, LoadPendingRunsTheJobForFilesAndForgetsTheDicomdir) {
  Fixture f;
  f.table.fromDicomdir = true;
  f.table.lastPath = "/cd/DICOMDIR";
  f.intake.TakeDrop({"/x/1", "/x/2"}, 2);
  const PendingLoad load = f.intake.LoadPending(LoadCommand::kRightPane);
  EXPECT_EQ(load.pane, 2);
  EXPECT_TRUE(load.runLoadingJob);
  EXPECT_TRUE(load.clearSelections);  // the table had come from a DICOMDIR
  EXPECT_FALSE(load.dicomdirRoad);
  EXPECT_EQ(f.table.lastPath, "/x/1");  // the first pending record
  EXPECT_FALSE(f.table.fromDicomdir);
  EXPECT_EQ(f.remembered, std::vector<std::string>{""});
  EXPECT_TRUE(f.dicomdirsRead.empty());
}

TEST(Intake, DropRulesForDicomdirsFoldersAndZones) {
  TempDir dir;
  Touch(dir.File("img1"));
  Touch(dir.File("DICOMDIR"));  // inside a dropped folder it is a file like any other

  Fixture f;
  // Two DICOMDIRs at once: neither is taken.
  EXPECT_EQ(f.intake.TakeDrop({"/cd1/DICOMDIR", "/cd2/DICOMDIR"}, 1), LoadCommand::kLeftPane);
  EXPECT_EQ(f.table.pendingEnd.load(), 0);
  // A DICOMDIR with a file: the DICOMDIR is skipped, the file taken.
  EXPECT_EQ(f.intake.TakeDrop({"/cd1/DICOMDIR", "/f"}, 0), LoadCommand::kLeftPane);
  EXPECT_EQ(Paths(f.table), std::vector<std::string>{"/f"});
  // A folder is scanned; zone 2 loads into the right pane.
  EXPECT_EQ(f.intake.TakeDrop({dir.path()}, 2), LoadCommand::kRightPane);
  EXPECT_EQ(Paths(f.table), (std::vector<std::string>{"/f", dir.File("DICOMDIR"), dir.File("img1")}));
  // The hidden frames take nothing.
  EXPECT_EQ(f.intake.TakeDrop({"/g"}, 3), LoadCommand::kNone);
  EXPECT_EQ(f.intake.TakeDrop({"/g"}, 4), LoadCommand::kNone);
  EXPECT_EQ(f.table.pendingEnd.load(), 3);
  // One DICOMDIR alone empties the table and becomes the last path.
  f.table.validCount = 3;
  f.intake.TakeDrop({"/cd/dicomdir"}, 1);
  EXPECT_EQ(f.table.pendingEnd.load(), 0);
  EXPECT_EQ(f.table.validCount.load(), 0);
  EXPECT_EQ(f.table.lastPath, "/cd/dicomdir");
  EXPECT_TRUE(f.intake.LoadPending(LoadCommand::kLeftPane).dicomdirRoad);
}

TEST(Intake, StartupArgumentsAreMadeAbsoluteAndFollowTheirRules) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("series"));
  Touch(dir.File("series/a"));
  Touch(dir.File("b"));

  Fixture f;
  StartupIntake s = f.intake.TakeStartupArguments({"series", "b", "nothing-here"}, dir.path());
  EXPECT_TRUE(s.runLoadingJob);
  EXPECT_FALSE(s.dicomdirRoad);
  EXPECT_EQ(Paths(f.table),
            (std::vector<std::string>{dir.File("series/a"), dir.File("b"), dir.File("nothing-here")}));
  EXPECT_EQ(s.missing, std::vector<std::string>{dir.File("nothing-here")});
  EXPECT_EQ(f.table.lastPath, dir.File("nothing-here"));

  Fixture g;
  s = g.intake.TakeStartupArguments({"/cd/DICOMDIR"}, dir.path());
  EXPECT_FALSE(s.runLoadingJob);
  EXPECT_TRUE(s.dicomdirRoad);
  EXPECT_TRUE(g.table.fromDicomdir);
  EXPECT_EQ(g.dicomdirsRead, std::vector<std::string>{"/cd/DICOMDIR"});
  EXPECT_EQ(g.remembered, std::vector<std::string>{"/cd/DICOMDIR"});

  // A DICOMDIR among several arguments is ignored.
  Fixture h;
  s = h.intake.TakeStartupArguments({"/cd/DICOMDIR", dir.File("b")}, dir.path());
  EXPECT_TRUE(h.dicomdirsRead.empty());
  EXPECT_EQ(Paths(h.table), std::vector<std::string>{dir.File("b")});
}

TEST(Intake, StartWithoutArgumentsRereadsTheRememberedDicomdir) {
  TempDir dir;
  // A remembered path without a leading "/" is taken in the installation folder.
  test::MakeInstallation(dir.path(), "[リスト]\n左=media/DICOMDIR\n");
  FileTable table;
  table.Allocate(10);
  Intake intake(table, Log::Null());
  std::vector<std::string> read;
  intake.SetDicomdirReader([&](const std::string& p) {
    read.push_back(p);
    return false;
  });
  const StartupIntake s = intake.TakeStartupArguments({}, "/nowhere");
  EXPECT_TRUE(s.dicomdirRoad);
  EXPECT_FALSE(s.dicomdirRead);
  EXPECT_FALSE(s.runLoadingJob);
  EXPECT_EQ(read, std::vector<std::string>{dir.path() + "/media/DICOMDIR"});
  EXPECT_EQ(table.lastPath, "media/DICOMDIR");

  // The refresh with files as last path reads nothing and leaves DICOMDIR mode.
  table.lastPath = "/x/image.dcm";
  const PendingLoad r = intake.Refresh();
  EXPECT_FALSE(r.dicomdirRoad);
  EXPECT_FALSE(table.fromDicomdir);
  EXPECT_EQ(read.size(), 1u);
}

TEST(Intake, FolderIntakeForgetsTheRememberedDicomdirInVelmoIni) {
  TempDir dir;
  test::MakeInstallation(dir.path(), "[リスト]\n左=/cd/DICOMDIR\n");
  EXPECT_EQ(RememberedDicomdir(), "/cd/DICOMDIR");
  std::filesystem::create_directories(dir.File("imgs"));
  Touch(dir.File("imgs/1"));
  FileTable table;
  table.Allocate(10);
  table.fromDicomdir = true;
  table.Append("/cd/IMG");
  table.validCount = 1;
  Intake intake(table, Log::Null());
  EXPECT_TRUE(intake.TakeFolder(dir.File("imgs")));  // emptied: the GUI resets its selections
  EXPECT_FALSE(table.fromDicomdir);
  EXPECT_EQ(Paths(table), std::vector<std::string>{dir.File("imgs/1")});
  EXPECT_EQ(table.lastPath, dir.File("imgs"));
  EXPECT_EQ(RememberedDicomdir(), "");
}

}  // namespace
}  // namespace velmo
