#include "base/log.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "base/numbers.h"
#include "base/text.h"
#include "support/test_util.h"

namespace velmo {
namespace {

std::string ReadAll(const std::string& path) {
  auto bytes = test::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) { out.push_back(text.substr(pos)); break; }
    out.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return out;
}

// An installation with the given "詳細" lines, rotated once as at start-up.
std::string Install(const test::TempDir& dir, std::string_view detailUtf8) {
  test::MakeInstallation(dir.path(), "[詳細]\n" + std::string(detailUtf8));
  const std::string folder = dir.path() + "/";
  RotateLogs(folder);
  return folder;
}

TEST(Log, LineFormatKindsAndShiftJis) {
  test::TempDir dir;
  const std::string folder = Install(dir, "LogLevel=3\nLogFileCount=3\n");
  Log log(folder);
  ASSERT_FALSE(log.disabled());
  EXPECT_EQ(log.path(), folder + "Log/VelmoLog1.csv");
  log.Write(SJ("初期化の開始"), kLogNormal, 1);
  log.Write("w", kLogWarning, 2);
  log.Write("e", kLogError, 3);
  const std::string text = ReadAll(log.path());
  ASSERT_EQ(text.size() >= 2 ? text.substr(text.size() - 2) : "", "\r\n");
  auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 3u);
  const std::regex stamp(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3},)");
  for (const auto& l : lines) EXPECT_TRUE(std::regex_search(l, stamp)) << l;
  EXPECT_EQ(lines[0].substr(24), SJ("正常") + "," + SJ("初期化の開始"));
  EXPECT_EQ(lines[1].substr(24), SJ("警告") + ",w");
  EXPECT_EQ(lines[2].substr(24), SJ("異常") + ",e");
  // The stamp is local time: the date part matches today's local date (or the
  // date a moment ago, should midnight have passed meanwhile).
  time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  const std::string today = Format("%04d/%02d/%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  EXPECT_TRUE(lines[2].substr(0, 10) == today || lines[0].substr(0, 10) != lines[2].substr(0, 10));
}

TEST(Log, LevelFiltersMessages) {
  struct Case { const char* setting; int expectedLines; };
  const Case cases[] = {{"LogLevel=0\n", 0}, {"LogLevel=\n", 0}, {"", 0}, {"LogLevel=1\n", 1},
                        {"LogLevel=2\n", 2}, {"LogLevel=3\n", 3}, {"LogLevel=x\n", 0}};
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string folder = Install(dir, std::string(c.setting) + "LogFileCount=2\n");
    Log log(folder);
    for (int level = 1; level <= 3; ++level) log.Write(Format("level %d", level), kLogNormal, level);
    EXPECT_EQ(Lines(ReadAll(log.path())).size(), static_cast<size_t>(c.expectedLines)) << c.setting;
  }
}

TEST(Log, LevelIsReadWhenTheLogIsCreated) {
  test::TempDir dir;
  const std::string folder = Install(dir, "LogLevel=1\n");
  Log before(folder);
  test::WriteText(folder + "Config/Velmo.ini", "[" + SJ("詳細") + "]\r\nLogLevel=3\r\n");
  Log after(folder);
  EXPECT_EQ(before.level(), 1);
  EXPECT_EQ(after.level(), 3);
}

TEST(Log, OnlyWritesWhileFileOneExists) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=3\n");
  const std::string folder = dir.path() + "/";
  Log log(folder);
  log.Write("before rotation", kLogNormal, 1);
  EXPECT_FALSE(std::filesystem::exists(log.path()));  // only rotation creates it
  RotateLogs(folder);
  log.Write("kept", kLogNormal, 1);
  std::filesystem::remove(log.path());
  log.Write("lost", kLogNormal, 1);
  EXPECT_FALSE(std::filesystem::exists(log.path()));  // a deleted file is not re-created
}

TEST(Log, RotationKeepsLogFileCountFiles) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=3\nLogFileCount=3\n");
  const std::string folder = dir.path() + "/";
  std::filesystem::create_directories(folder + "Log");
  test::WriteText(LogFilePath(folder, 1), "one");
  test::WriteText(LogFilePath(folder, 2), "two");
  test::WriteText(LogFilePath(folder, 3), "three");
  test::WriteText(LogFilePath(folder, 5), "five");
  RotateLogs(folder);
  EXPECT_EQ(ReadAll(LogFilePath(folder, 1)), "");
  EXPECT_TRUE(std::filesystem::exists(LogFilePath(folder, 1)));
  EXPECT_EQ(ReadAll(LogFilePath(folder, 2)), "one");
  EXPECT_EQ(ReadAll(LogFilePath(folder, 3)), "two");
  EXPECT_FALSE(std::filesystem::exists(LogFilePath(folder, 4)));
  EXPECT_EQ(ReadAll(LogFilePath(folder, 5)), "five");  // beyond the count: untouched
  // A gap: file 3 is deleted, file 2 is missing, so only file 1 moves.
  test::WriteText(LogFilePath(folder, 1), "new one");
  std::filesystem::remove(LogFilePath(folder, 2));
  RotateLogs(folder);
  EXPECT_EQ(ReadAll(LogFilePath(folder, 1)), "");
  EXPECT_EQ(ReadAll(LogFilePath(folder, 2)), "new one");
  EXPECT_FALSE(std::filesystem::exists(LogFilePath(folder, 3)));
}

TEST(Log, RotationWithCountZeroOnlyCreatesFileOne) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=3\nLogFileCount=0\n");
  const std::string folder = dir.path() + "/";
  RotateLogs(folder);
  EXPECT_TRUE(std::filesystem::exists(LogFilePath(folder, 1)));
  test::WriteText(LogFilePath(folder, 1), "kept");
  RotateLogs(folder);  // creates without truncating
  EXPECT_EQ(ReadAll(LogFilePath(folder, 1)), "kept");
  EXPECT_FALSE(std::filesystem::exists(LogFilePath(folder, 2)));
}

TEST(Log, MissingConfigFolderDisablesLoggingAndRotation) {
  test::TempDir dir;
  const std::string folder = dir.path() + "/";
  Log log(folder);
  EXPECT_TRUE(log.disabled());
  RotateLogs(folder);
  EXPECT_FALSE(std::filesystem::exists(folder + "Log"));
}

TEST(Log, ReadOnlyConfigFolderDisablesLoggingAndRotation) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=3\nLogFileCount=3\n");
  const std::string folder = dir.path() + "/";
  test::OpenToEveryone(dir.path());
  chmod((folder + "Config").c_str(), 0555);
  // Run as a user the folder's mode applies to (CI runs as root, which writes anyway).
  const int result = test::RunUnprivileged([&] {
    if (access((folder + "Config").c_str(), W_OK) == 0) return 2;
    Log log(folder);
    if (!log.disabled()) return 3;
    RotateLogs(folder);
    return std::filesystem::exists(folder + "Log") ? 4 : 0;
  });
  chmod((folder + "Config").c_str(), 0755);
  EXPECT_EQ(result, 0) << "2: Config writable, 3: log enabled, 4: rotation created Log";
}

TEST(Log, ConcurrentWritersLoseAndInterleaveNothing) {
  test::TempDir dir;
  const std::string folder = Install(dir, "LogLevel=3\n");
  constexpr int kThreads = 6, kLines = 400, kChildLines = 400;
  const std::string padding(300, 'x');  // long lines make interleaving likely if unprotected
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // another process writing to the same file, in batches of about 50 lines
    {
      Log log(folder);
      const LogBatch batch(log);
      for (int i = 0; i < kChildLines; ++i) log.Write(Format("p-%d-%s", i, padding), kLogNormal, 1);
    }
    _exit(0);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Log log(folder);
      // Half the threads write through batches of their own, half line by line.
      std::optional<LogBatch> batch;
      if (t % 2 == 0) batch.emplace(log);
      for (int i = 0; i < kLines; ++i) log.Write(Format("t%d-%d-%s", t, i, padding), t % 2 ? kLogWarning : kLogNormal, 2);
    });
  }
  for (auto& th : threads) th.join();
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));

  auto lines = Lines(ReadAll(LogFilePath(folder, 1)));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines + kChildLines));
  const std::regex head(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3},$)");
  const std::regex message(R"(^(t\d+|p)-\d+-$)");
  std::set<std::string> messages;
  for (const auto& l : lines) {
    ASSERT_GT(l.size(), 24u + 5 + 300);
    ASSERT_TRUE(std::regex_match(l.substr(0, 24), head)) << l.substr(0, 80);
    const std::string kind = l.substr(24, 4);
    ASSERT_TRUE(kind == SJ("正常") || kind == SJ("警告")) << l.substr(0, 80);
    ASSERT_EQ(l[28], ',');
    const std::string text = l.substr(29);
    ASSERT_EQ(text.substr(text.size() - 300), padding) << l.substr(0, 80);
    ASSERT_TRUE(std::regex_match(text.substr(0, text.size() - 300), message)) << l.substr(0, 80);
    messages.insert(text);
  }
  EXPECT_EQ(messages.size(), lines.size());
}

// A batch holds normal lines until it ends; a warning takes them out at once, in
// order; a process that dies of a fatal signal inside a batch still leaves them all.
TEST(Log, BatchedLinesComeOutInOrderAlsoWhenTheProcessDies) {
  test::TempDir dir;
  const std::string folder = Install(dir, "LogLevel=1\n");
  const std::string path = LogFilePath(folder, 1);
  {
    Log log(folder);
    const LogBatch batch(log);
    log.Write("a", kLogNormal, 1);
    log.Write("b", kLogNormal, 1);
    EXPECT_EQ(ReadAll(path), "");
    log.Write("c", kLogWarning, 1);
    EXPECT_EQ(Lines(ReadAll(path)).size(), 3u);
    log.Write("d", kLogNormal, 1);
    {
      const LogBatch inner(log);
    }
    EXPECT_EQ(Lines(ReadAll(path)).size(), 3u) << "an inner batch flushed the outer one";
  }
  std::vector<std::string> lines = Lines(ReadAll(path));
  ASSERT_EQ(lines.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(lines[i].substr(29), std::string(1, static_cast<char>('a' + i)));

  for (const int sig : {SIGSEGV, SIGABRT}) {
    std::remove(path.c_str());
    RotateLogs(folder);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Log log(folder);
      const LogBatch batch(log);
      for (int i = 0; i < 3; ++i) log.Write(Format("line %d", i), kLogNormal, 1);
      if (sig == SIGSEGV) {  // a real fault, on a page that may not be touched
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
      }
      abort();
    }
    int status = 0;
    waitpid(child, &status, 0);
    // Killed by the signal (or, under a sanitizer that reports the fault, exited with an error).
    EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == sig : WEXITSTATUS(status) != 0) << sig;
    lines = Lines(ReadAll(path));
    ASSERT_EQ(lines.size(), 3u) << sig;
    EXPECT_EQ(lines[2].substr(29), "line 2");
  }
}

TEST(Log, NullWritesNothing) {
  const Log& log = Log::Null();
  EXPECT_TRUE(log.disabled());
  EXPECT_EQ(log.level(), 0);
  log.Write("nothing", kLogError, 1);
  EXPECT_EQ(&Log::Null(), &log);
}

}  // namespace
}  // namespace velmo
