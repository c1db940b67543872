#pragma once
// How the core tells the user something. The core never shows anything itself:
// the GUI implements this with message boxes, the CLI with stderr, tests with a
// recorder. Captions and messages are Shift-JIS bytes like all core text.
#include <string>
#include <string_view>

namespace velmo {

enum class NoticeIcon { Error, Warning, Information, Question };

class Notifier {
 public:
  virtual ~Notifier() = default;
  // Shows a message with a caption ("エラー", "警告" or "情報") and an icon.
  virtual void Show(std::string_view caption, std::string_view message, NoticeIcon icon) = 0;
  // Asks a yes/no question; true for yes.
  virtual bool AskYesNo(std::string_view caption, std::string_view message, NoticeIcon icon) = 0;
};

// Shows nothing and answers no. Used where nobody is there to ask.
class SilentNotifier final : public Notifier {
 public:
  void Show(std::string_view, std::string_view, NoticeIcon) override {}
  bool AskYesNo(std::string_view, std::string_view, NoticeIcon) override { return false; }
};

}  // namespace velmo
