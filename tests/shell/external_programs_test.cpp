// External programs: the program table from "外部ソフト", starting a program, the
// "AppliExit" line on its standard input when Velmo closes it, and the cases where the
// program is missing, has ended or does not read its input.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "base/settings.h"
#include "base/text.h"
#include "shell/external_programs.h"
#include "support/test_util.h"

using namespace velmo;
using velmo::test::ReadBytes;
using velmo::test::TempDir;
using velmo::test::WriteText;

namespace {

std::string Script(const TempDir& dir, const char* name, const std::string& body) {
  const std::string path = dir.File(name);
  WriteText(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
  for (int i = 0; i < ms / 10; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace

TEST(ExternalPrograms, TableFollowsTheSettings) {
  Settings s;
  s.programNames = {SJ("ビューア"), "", "Edit", ""};
  s.programPaths = {SjisFromUtf8("/opt/ビューア/run.sh"), "/usr/bin/true", "", ""};
  const auto table = ExternalProgramTable(s);
  EXPECT_TRUE(table[0].Shown());
  EXPECT_TRUE(table[0].Usable());
  EXPECT_EQ(table[0].path, "/opt/ビューア/run.sh");  // native UTF-8
  EXPECT_EQ(table[0].ModuleName(), "run.sh");
  EXPECT_FALSE(table[1].Shown());  // a path without a caption has no button
  EXPECT_FALSE(table[1].Usable());
  EXPECT_TRUE(table[2].Shown());  // a caption without a path: a button that does nothing
  EXPECT_FALSE(table[2].Usable());
  EXPECT_FALSE(table[3].Shown());
}

TEST(ExternalPrograms, ClosingSendsAppliExitOnStandardInput) {
  TempDir dir;
  const std::string out = dir.File("received.txt");
  const std::string program = Script(dir, "reader.sh", "read line\nprintf '%s' \"$line\" > '" + out + "'\n");
  ExternalProcess p;
  ASSERT_EQ(p.Start(program), 0);
  EXPECT_TRUE(p.Running());
  // A running program is not started again.
  EXPECT_NE(p.Start(program), 0);
  p.Close(5000);
  EXPECT_TRUE(WaitUntil([&] { return !p.Running(); }, 5000));
  EXPECT_EQ(ReadText(out), "AppliExit");
  // After it ended the button starts it again.
  EXPECT_EQ(p.Start(program), 0);
  p.Close(5000);
}

TEST(ExternalPrograms, MissingProgramsFailAtOnce) {
  TempDir dir;
  WriteText(dir.File("not-executable.sh"), "#!/bin/sh\n");
  const struct {
    std::string path;
    int error;
  } cases[] = {
      {dir.File("nothing-here"), ENOENT},
      {dir.File("not-executable.sh"), EACCES},
      {"no-such-program-in-path-xyz", ENOENT},
      {"", ENOENT},
  };
  for (const auto& c : cases) {
    ExternalProcess p;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.Start(c.path), c.error) << c.path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.path;
    EXPECT_FALSE(p.Running());
    p.Close(10);  // nothing to close
  }
}

TEST(ExternalPrograms, ProgramsThatDoNotListenAreTerminated) {
  TempDir dir;
  const struct {
    const char* name;
    const char* body;
  } cases[] = {
      {"ignores.sh", "exec sleep 30\n"},                // never reads its input
      {"closed.sh", "exec 0<&-\nexec sleep 30\n"},      // closed its input: no SIGPIPE for us
      {"ended.sh", "exit 0\n"},                          // already gone
  };
  for (const auto& c : cases) {
    ExternalProcess p;
    ASSERT_EQ(p.Start(Script(dir, c.name, c.body)), 0) << c.name;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    p.Close(200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.name;
    EXPECT_TRUE(WaitUntil([&] { return !p.Running(); }, 5000)) << c.name;
  }
}
