#pragma once
// The GUI's Notifier: message boxes. A message raised while a pane is being painted
// is queued and shown once the paint is over (a modal box inside a paint would
// re-enter painting); the same message queued twice is shown once.
#include <QObject>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "base/notifier.h"

namespace velmo::ui {

class MessageNotifier final : public QObject, public Notifier {
  Q_OBJECT
 public:
  explicit MessageNotifier(QWidget* parent);
  void Show(std::string_view caption, std::string_view message, NoticeIcon icon) override;
  // During a paint there is nobody to ask: the answer is no.
  bool AskYesNo(std::string_view caption, std::string_view message, NoticeIcon icon) override;

  // Set around pane painting; the end of a paint shows what was queued.
  void BeginPaint() { ++painting_; }
  void EndPaint();

  // Unattended runs (screenshots, tests): messages go to stderr and the record below
  // instead of message boxes; questions are answered no.
  void SetUnattended(bool on) { unattended_ = on; }
  struct Shown {
    QString caption, message;
    NoticeIcon icon;
  };
  const std::vector<Shown>& shown() const { return shown_; }
  void ClearShown() { shown_.clear(); }

 private:
  void ShowNow(const Shown& m);
  void Flush();
  QWidget* parent_;
  int painting_ = 0;
  bool unattended_ = false;
  bool flushScheduled_ = false;
  std::vector<Shown> queue_;
  std::vector<Shown> shown_;
};

}  // namespace velmo::ui
