// Placeholder main window until the full main dialog is built.
#include "shell/ui/main_window_stub.h"

#include <QLabel>
#include <QVBoxLayout>

namespace velmo::ui {

StubWindow::StubWindow(const QString& title, QWidget* parent) : QWidget(parent) {
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(title, this));
  resize(640, 480);
}

}  // namespace velmo::ui
