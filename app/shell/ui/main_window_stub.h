#pragma once
#include <QWidget>

namespace velmo::ui {
class StubWindow : public QWidget {
  Q_OBJECT
 public:
  explicit StubWindow(const QString& title, QWidget* parent = nullptr);
};
}  // namespace velmo::ui
