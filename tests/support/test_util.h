#pragma once
// Small helpers shared by the test suites.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/notifier.h"

namespace velmo::test {

// Records every message and answers questions with a fixed answer.
class RecordingNotifier : public Notifier {
 public:
  struct Entry { std::string caption, message; NoticeIcon icon; bool question; };
  void Show(std::string_view caption, std::string_view message, NoticeIcon icon) override;
  bool AskYesNo(std::string_view caption, std::string_view message, NoticeIcon icon) override;
  std::vector<Entry> entries;
  bool answer = false;
};

// A fresh folder under /tmp, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }      // no trailing "/"
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
 private:
  std::string path_;
};

// Makes `dir` + "/" a complete installation folder (Config with the given Velmo.ini
// text in UTF-8, converted to Shift-JIS) and makes it the current install folder.
void MakeInstallation(const std::string& dir, std::string_view velmoIniUtf8 = "");

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, std::string_view text);

// The public corpus folder, or "" when it is not there.
std::string TestDataDir();
// The rows of the corpus's reference.tsv as column -> value maps (empty when absent).
using TsvRow = std::map<std::string, std::string>;
std::vector<TsvRow> ReadReferenceTsv();

// Runs a shell command; collects its exit status, standard output and standard error.
struct CommandResult {
  int status = -1;
  std::string out, err;
};
CommandResult RunCommand(const std::string& shellCommand);
// A string quoted for the shell.
std::string ShellQuote(const std::string& s);
// The velmo-cli of this build.
std::string CliPath();
// "name=value" lines (velmo-cli info) as a map.
std::map<std::string, std::string> ParseNameValueLines(const std::string& text);

// Runs `fn` in a child process whose file rights follow the file modes: as root (CI)
// the child drops to the unprivileged user "nobody" (uid/gid 65534, no groups) first;
// otherwise it runs as the current user. Returns fn's result, or -1 when the child
// could not be run or died. The folders fn touches must be reachable for that user
// (see OpenToEveryone).
int RunUnprivileged(const std::function<int()>& fn);
// Gives every user full access to `path` and, for a folder, to everything below it
// (a TempDir is private to its owner).
void OpenToEveryone(const std::string& path);

// Switches LC_ALL to a locale whose decimal separator is a comma (de_DE.UTF-8),
// compiling it with localedef into a private folder when the system lacks it.
// Returns false when no such locale can be had; the caller then skips.
// RestoreCLocale() switches back to "C".
bool UseCommaLocale();
void RestoreCLocale();

}  // namespace velmo::test
