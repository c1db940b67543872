#include "shell/ui/message_notifier.h"

#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "base/text.h"
#include "base/ui/qt_text.h"

namespace velmo::ui {

namespace {

QMessageBox::Icon BoxIcon(NoticeIcon icon) {
  switch (icon) {
    case NoticeIcon::Error: return QMessageBox::Critical;
    case NoticeIcon::Warning: return QMessageBox::Warning;
    case NoticeIcon::Information: return QMessageBox::Information;
    case NoticeIcon::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}
}  // namespace

MessageNotifier::MessageNotifier(QWidget* parent) : QObject(parent), parent_(parent) {}

void MessageNotifier::Show(std::string_view caption, std::string_view message, NoticeIcon icon) {
  Shown m{FromSjis(caption), FromSjis(message), icon};
  if (painting_ > 0) {
    for (const Shown& q : queue_)
      if (q.caption == m.caption && q.message == m.message) return;
    queue_.push_back(m);
    return;
  }
  ShowNow(m);
}

bool MessageNotifier::AskYesNo(std::string_view caption, std::string_view message, NoticeIcon icon) {
  Shown m{FromSjis(caption), FromSjis(message), icon};
  if (painting_ > 0 || unattended_) {
    shown_.push_back(m);
    if (unattended_) std::fprintf(stderr, "%s: %s (no)\n", qPrintable(m.caption), qPrintable(m.message));
    return false;
  }
  shown_.push_back(m);
  return QMessageBox(BoxIcon(icon), m.caption, m.message, QMessageBox::Yes | QMessageBox::No, parent_).exec() ==
         QMessageBox::Yes;
}

void MessageNotifier::EndPaint() {
  if (painting_ > 0) --painting_;
  if (painting_ == 0 && !queue_.empty() && !flushScheduled_) {
    flushScheduled_ = true;
    QTimer::singleShot(0, this, [this] { Flush(); });
  }
}

void MessageNotifier::Flush() {
  flushScheduled_ = false;
  std::vector<Shown> pending;
  pending.swap(queue_);
  for (const Shown& m : pending) ShowNow(m);
}

void MessageNotifier::ShowNow(const Shown& m) {
  shown_.push_back(m);
  if (unattended_) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(m.caption), qPrintable(m.message));
    return;
  }
  QMessageBox box(BoxIcon(m.icon), m.caption, m.message, QMessageBox::Ok, parent_);
  box.exec();
}

}  // namespace velmo::ui
