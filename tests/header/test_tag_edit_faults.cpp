// Faults injected while a file is rewritten: a file-size limit that stops the write
// half-way, a process killed between the write and the rename, read-only folders
// (as an unprivileged user, since file modes stop nothing for root), a full disk,
// a missing file in the scope. Each time the original must survive byte for byte
// and the backup must exist.
#include <gtest/gtest.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "test_tag_edit_fixture.h"

namespace velmo::test {
namespace {

constexpr int kSkipped = 77;

// Runs `body` in a forked child and returns its wait status. The child leaves with
// _exit, so nothing of the test process runs twice.
int InChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// As root, the child continues as nobody; otherwise as the current user.
bool BecomeUnprivileged() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

Bytes Sample(size_t pixelBytes = 4000) {
  DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  w.Text(0x0010, 0x0010, "PN", "YAMADA^TAROU");
  w.U16(0x0028, 0x0010, 2);
  w.PixelData(Bytes(pixelBytes, 5));
  return MakeFile("1.2.840.10008.1.2.1", w.bytes());
}

// A change that makes the file 2008 bytes longer.
TagChange Grow() { return Change(0x0010, 0x4000, "LT", std::string(2000, 'c')); }

void ExpectSurvived(const TagEditFixture& fx, const std::string& path, const Bytes& original) {
  EXPECT_EQ(ReadBytes(path), original);
  const std::vector<std::string> backups = FilesIn(fx.Backups());
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(ReadBytes(fx.Backups() + "/" + backups[0]), original);
}

TEST(TagEditFaults, FileSizeLimitStopsTheWriteHalfWay) {
  TagEditFixture fx;
  const std::string path = fx.tmp.File("IM1.dcm");
  const Bytes original = Sample();
  WriteBytes(path, original);
  const int status = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = original.size() + 1000;  // the backup fits, the new file does not
    struct rlimit r {limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) return 3;
    TagWriteReport report;
    if (AddElementToFile(path, Grow(), fx.env, &report)) return 1;
    return Utf8FromSjis(report.failure).find("の書き込みに失敗しました。") != std::string::npos ? 0 : 2;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ExpectSurvived(fx, path, original);
  EXPECT_EQ(FilesIn(fx.tmp.path()), (std::vector<std::string>{"IM1.dcm", "install"}));  // no temporary left
  EXPECT_NE(fx.LogText().find("の書き込みに失敗しました。"), std::string::npos);
}

TEST(TagEditFaults, ProcessKilledBetweenWriteAndRename) {
  TagEditFixture fx;
  const std::string path = fx.tmp.File("IM1.dcm");
  const Bytes original = Sample();
  WriteBytes(path, original);
  const int status = InChild([&] {
    g_tagEditBeforeRename = [](const std::string&) { raise(SIGKILL); };
    AddElementToFile(path, Grow(), fx.env);
    return 0;
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  ExpectSurvived(fx, path, original);
  // The file is whole and the next edit works.
  ASSERT_TRUE(AddElementToFile(path, Grow(), fx.env));
  EXPECT_EQ(ReadBytes(path).size(), original.size() + 2008);
}

TEST(TagEditFaults, ProcessKilledAmongTheRenamesOfABatch) {
  TagEditFixture fx;
  const Bytes original = Sample();
  std::vector<std::string> paths;
  for (int i = 0; i < 5; ++i) {
    paths.push_back(fx.tmp.File("IM" + std::to_string(i)));
    WriteBytes(paths.back(), original);
  }
  const int status = InChild([&] {
    g_tagEditBeforeRename = [](const std::string&) {
      static int renames = 0;
      if (++renames == 3) raise(SIGKILL);
    };
    ApplyTagChange(TagOperation::kAdd, paths, Grow(), fx.env);
    return 0;
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ReadBytes(paths[i]).size(), original.size() + (i < 2 ? 2008 : 0)) << i;
  for (int i = 2; i < 5; ++i) EXPECT_EQ(ReadBytes(paths[i]), original) << i;
  const std::vector<std::string> backups = FilesIn(fx.Backups());
  ASSERT_EQ(backups.size(), 5u);
  for (const std::string& b : backups) EXPECT_EQ(ReadBytes(fx.Backups() + "/" + b), original) << b;
}

TEST(TagEditFaults, ReadOnlyFolderAndFileForAnUnprivilegedUser) {
  TagEditFixture fx;
  chmod(fx.tmp.path().c_str(), 0755);
  std::filesystem::create_directories(fx.Backups());
  chmod(fx.install.c_str(), 0777);
  chmod(fx.Backups().c_str(), 0777);
  const Bytes original = Sample();
  // A writable file in a folder nobody may write to: the temporary file cannot be made.
  const std::string locked = fx.tmp.File("locked");
  std::filesystem::create_directory(locked);
  WriteBytes(locked + "/IM1.dcm", original);
  chmod((locked + "/IM1.dcm").c_str(), 0666);
  chmod(locked.c_str(), 0555);
  // A read-only file in a writable folder: refused before anything is written.
  const std::string open = fx.tmp.File("open");
  std::filesystem::create_directory(open);
  WriteBytes(open + "/IM2.dcm", original);
  chmod((open + "/IM2.dcm").c_str(), 0444);
  chmod(open.c_str(), 0777);

  const int status = InChild([&] {
    if (!BecomeUnprivileged()) return 3;
    TagWriteReport a, b;
    if (EditElementInFile(locked + "/IM1.dcm", Change(0x0010, 0x0010, "PN", "X"), fx.env, &a)) return 1;
    if (EditElementInFile(open + "/IM2.dcm", Change(0x0010, 0x0010, "PN", "X"), fx.env, &b)) return 1;
    if (Utf8FromSjis(b.failure).find("のアクセス権がありません") == std::string::npos) return 2;
    return 0;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ExpectSurvived(fx, locked + "/IM1.dcm", original);  // one backup: the refused file made none
  EXPECT_EQ(ReadBytes(open + "/IM2.dcm"), original);
  EXPECT_EQ(FilesIn(locked), std::vector<std::string>{"IM1.dcm"});
  chmod(locked.c_str(), 0755);
}

TEST(TagEditFaults, ReadOnlyInstallationSendsBackupsToTheDesktop) {
  for (bool desktopWritable : {true, false}) {
    SCOPED_TRACE(desktopWritable ? "desktop writable" : "no folder for backups");
    TagEditFixture fx;
    chmod(fx.tmp.path().c_str(), 0755);
    const std::string desktop = fx.tmp.File("Desktop");
    std::filesystem::create_directory(desktop);
    chmod(desktop.c_str(), desktopWritable ? 0777 : 0555);
    chmod(fx.install.c_str(), 0555);
    fx.env.desktopFolder = desktop;
    const std::string path = fx.tmp.File("IM1.dcm");
    const Bytes original = Sample();
    WriteBytes(path, original);
    chmod(path.c_str(), 0666);
    chmod(fx.tmp.path().c_str(), 0777);
    const int status = InChild([&] {
      if (!BecomeUnprivileged()) return 3;
      TagWriteReport report;
      const bool ok = EditElementInFile(path, Change(0x0010, 0x0010, "PN", "DESKTOP"), fx.env, &report);
      if (ok != desktopWritable) return 1;
      if (!ok && Utf8FromSjis(report.failure).find("のバックアップに失敗しました") == std::string::npos) return 2;
      return 0;
    });
    chmod(fx.install.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(fx.Backups()));
    if (desktopWritable) {
      const std::vector<std::string> backups = FilesIn(desktop + "/VelmoImgBk");
      ASSERT_EQ(backups.size(), 1u);
      EXPECT_EQ(ReadBytes(desktop + "/VelmoImgBk/" + backups[0]), original);
      EXPECT_NE(ReadBytes(path), original);
    } else {
      EXPECT_EQ(ReadBytes(path), original);
    }
  }
}

TEST(TagEditFaults, FullDisk) {
  TagEditFixture fx;
  const std::string mount = fx.tmp.File("small");
  std::filesystem::create_directory(mount);
  const Bytes original = Sample(20000);
  const int status = InChild([&] {
    // A 64 KiB file system of our own, seen only by this child.
    if (unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=64k") != 0)
      return kSkipped;
    const std::string path = mount + "/IM1.dcm";
    WriteBytes(path, original);
    // Leave less room than the new file needs.
    WriteBytes(mount + "/filler", Bytes(64 * 1024 - original.size() - 8192, 0));
    TagWriteReport report;
    if (AddElementToFile(path, Grow(), fx.env, &report)) return 1;
    if (ReadBytes(path) != original) return 2;
    if (FilesIn(mount) != std::vector<std::string>{"IM1.dcm", "filler"}) return 4;
    return 0;
  });
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kSkipped) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::string> backups = FilesIn(fx.Backups());
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(ReadBytes(fx.Backups() + "/" + backups[0]), original);
}

TEST(TagEditFaults, MissingFileInTheScopeStopsOnlyThatFile) {
  TagEditFixture fx;
  const Bytes original = Sample();
  const std::vector<std::string> scope{fx.tmp.File("IM1"), fx.tmp.File("IM2"), fx.tmp.File("IM3")};
  WriteBytes(scope[0], original);
  WriteBytes(scope[2], original);
  std::vector<bool> results;
  for (const std::string& p : scope) results.push_back(EditElementInFile(p, Change(0x0010, 0x0010, "PN", "S"), fx.env));
  EXPECT_EQ(results, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(FilesIn(fx.Backups()).size(), 2u);
  EXPECT_NE(fx.LogText().find("IM2）のステータス取得に失敗"), std::string::npos);
}

}  // namespace
}  // namespace velmo::test
