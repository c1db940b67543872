#pragma once
// Shared pieces of velmo-cli: the stderr notifier, output text conversion and
// the exit codes (0 done, 1 the operation failed, 2 bad usage).
#include <string>
#include <string_view>
#include <vector>

#include "base/notifier.h"

namespace velmo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Prints messages to stderr in UTF-8 and answers questions with "no".
class StderrNotifier final : public Notifier {
 public:
  void Show(std::string_view caption, std::string_view message, NoticeIcon icon) override;
  bool AskYesNo(std::string_view caption, std::string_view message, NoticeIcon icon) override;
};

// Core text (Shift-JIS) as output text: UTF-8, or the bytes as they are with --sjis.
std::string OutText(std::string_view sjis);
void SetSjisOutput(bool on);
bool SjisOutput();
// Trailing spaces and NULs removed, then OutText.
std::string CleanText(std::string_view sjis);

// Prints "velmo-cli: <message>" (message in Shift-JIS) to stderr.
void PrintError(std::string_view sjisMessage);

int RunInfo(const std::vector<std::string>& args);
int RunRender(const std::vector<std::string>& args);
int RunList(const std::vector<std::string>& args);
int RunMeasure(const std::vector<std::string>& args);
// edit, add or delete (the command name decides).
int RunEdit(const std::string& command, const std::vector<std::string>& args);
int RunDump(const std::vector<std::string>& args);
int RunOverlay(const std::vector<std::string>& args);

}  // namespace velmo::cli
