// velmo-cli edit|add|delete: one line per file, the exit status, the refusals of the
// edit command, and a run by an unprivileged user on a folder it may not write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::test {
namespace {

Bytes Sample(int syntax, const char* ts) {
  DicomWriter w(syntax);
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  w.Text(0x0009, 0x0010, "LO", "PRIVATE");
  w.Text(0x0010, 0x0010, "PN", "YAMADA^TAROU");
  w.U16s(0x0028, 0x0010, {2, 2});
  w.PixelData(Bytes(8, 1));
  return MakeFile(ts, w.bytes());
}

struct CliFixture {
  TempDir tmp;
  std::string home;
  CliFixture() {
    MakeInstallation(tmp.File("home"));
    home = tmp.File("home/");
  }
  CommandResult Run(const std::string& args, const std::string& prefix = "") const {
    return RunCommand(prefix + "env VELMO_HOME=" + ShellQuote(home) + " HOME=" + ShellQuote(tmp.path()) + " " +
                      ShellQuote(CliPath()) + " " + args);
  }
};

TEST(CliEdit, LinesAndExitStatusPerCommand) {
  CliFixture fx;
  const std::string a = fx.tmp.File("a.dcm"), b = fx.tmp.File("b.dcm"), missing = fx.tmp.File("none.dcm");
  WriteBytes(a, Sample(1, "1.2.840.10008.1.2.1"));
  WriteBytes(b, Sample(0, "1.2.840.10008.1.2"));
  const std::string qa = ShellQuote(a), qb = ShellQuote(b), qm = ShellQuote(missing);
  struct {
    std::string args;
    int status;
    std::string out, err;  // expected lines on stdout, a piece of stderr
  } rows[] = {
      // The VR of an implicit file must be given.
      {"edit " + qb + " " + qa + " --tag 0010,0010 --value 'SATO JIRO'", 2, "", "値表現(VR) が入力されていません"},
      {"edit " + qa + " " + qb + " --tag 0010,0010 --vr PN --value 'SATO JIRO'", 0,
       "rewritten\t" + a + "\nrewritten\t" + b + "\n", ""},
      {"edit " + qa + " --tag 0010,0010 --value 'SATO JIRO'", 0, "unchanged\t" + a + "\n", ""},
      {"add " + qa + " " + qm + " " + qb + " --tag 0010,1030 --vr DS --value 72.5", 1,
       "rewritten\t" + a + "\nfailed\t" + missing + "\t画像ファイル（" + missing + "）のステータス取得に失敗\nrewritten\t" + b + "\n", ""},
      {"delete " + qa + " --tag 0010,1030", 0, "rewritten\t" + a + "\n", ""},
      {"delete " + qa + " --tag 0010,1030", 1, "failed\t" + a, ""},
      {"edit " + qa + " --tag 0009,0010 --value X", 1, "", "プライベートタグは編集できません"},
      {"edit " + qa + " --tag 7FE0,0010 --value X", 1, "", "値表現(VR)が OB、OW、SQ は編集できません"},
      {"edit " + qa + " --tag 0028,0010 --value 4", 1, "", "値複数度(VM)が 1 以上は編集できません"},
      {"add " + qa + " --tag 10,0010 --vr PN --value X", 1, "", "ｸﾞﾙｰﾌﾟ が入力されていません"},
      {"add " + qa + " --tag 0010,010 --vr PN --value X", 1, "", "ｴﾚﾒﾝﾄ が入力されていません"},
      {"add " + qa + " --tag 0010,0010 --vr P --value X", 1, "", "値表現(VR) が入力されていません"},
      {"delete " + qa + " --tag 0010,0010 --value X", 2, "", "usage"},
      {"edit --tag 0010,0010 --value X", 2, "", "usage"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.args);
    const CommandResult run = fx.Run(r.args);
    EXPECT_EQ(run.status, r.status) << run.err;
    if (r.status == 1 && r.out.rfind("failed", 0) == 0) {
      EXPECT_EQ(run.out.rfind(r.out, 0), 0u) << run.out;
    } else {
      EXPECT_EQ(run.out, r.out);
    }
    EXPECT_NE(run.err.find(r.err), std::string::npos) << run.err;
  }
  // 2 edits, 2 adds, 1 delete made backups.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fx.home + "VelmoImgBk"),
                          std::filesystem::directory_iterator()), 5);
}

// CI runs as root, where file modes stop nothing; setpriv runs the tool as nobody.
TEST(CliEdit, UnprivilegedUserOnAReadOnlyFolder) {
  CliFixture fx;
  std::string prefix;
  if (geteuid() == 0) {
    if (RunCommand("command -v setpriv").status != 0) GTEST_SKIP() << "setpriv not found";
    prefix = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    if (RunCommand(prefix + "true").status != 0) GTEST_SKIP() << "setpriv cannot switch to nobody here";
  }
  chmod(fx.tmp.path().c_str(), 0755);
  std::filesystem::create_directories(fx.home + "VelmoImgBk");
  chmod((fx.home + "VelmoImgBk").c_str(), 0777);
  const std::string folder = fx.tmp.File("ro");
  std::filesystem::create_directory(folder);
  const std::string file = folder + "/IM1.dcm";
  const Bytes original = Sample(1, "1.2.840.10008.1.2.1");
  WriteBytes(file, original);
  chmod(file.c_str(), 0666);
  chmod(folder.c_str(), 0555);
  const CommandResult run = fx.Run("edit " + ShellQuote(file) + " --tag 0010,0010 --value X", prefix);
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(run.out.rfind("failed\t" + file + "\t", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("の書き込みに失敗しました。"), std::string::npos) << run.out;
  EXPECT_EQ(ReadBytes(file), original);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fx.home + "VelmoImgBk"),
                          std::filesystem::directory_iterator()), 1);
}

}  // namespace
}  // namespace velmo::test
