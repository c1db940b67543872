#pragma once
// The preset dialog (138, "Level、Widthのプリセット設定"): a list of the window presets
// of Config/Preset.csv with add, edit, move and delete, written back with "登録".
#include <QDialog>
#include <string>
#include <vector>

#include "render/window_level.h"

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace velmo {
class Log;
class Notifier;
}

namespace velmo::ui {

class PresetDialog : public QDialog {
  Q_OBJECT
 public:
  // Reads `path` (creating it when missing). Warnings go to `notifier`.
  PresetDialog(std::string path, const Log& log, Notifier* notifier, QWidget* parent = nullptr);

  // The rows as the list holds them (Shift-JIS texts).
  const std::vector<PresetRow>& rows() const { return rows_; }
  int selectedRow() const;

  QTableWidget* list = nullptr;       // 1174
  QPushButton* addButton = nullptr;   // 1175 "追加"
  QPushButton* editButton = nullptr;  // 1176 "編集"
  QPushButton* upButton = nullptr;    // 1177 "↑"
  QPushButton* downButton = nullptr;  // 1178 "↓"
  QPushButton* deleteButton = nullptr;  // 1179 "削除"
  QLineEdit* nameEdit = nullptr;      // 1180
  QLineEdit* levelEdit = nullptr;     // 1181
  QLineEdit* widthEdit = nullptr;     // 1182
  QPushButton* okButton = nullptr;    // 1183 "OK"
  QPushButton* cancelEditButton = nullptr;  // 1184 "ｷｬﾝｾﾙ"
  QPushButton* registerButton = nullptr;    // 1 "登録"
  QPushButton* closeButton = nullptr;       // 2 "ｷｬﾝｾﾙ"

 private:
  enum class Mode { kNone, kAdd, kEdit };
  void FillList(int select);
  void OnSelectionChanged();
  void BeginEdit(Mode mode);
  void EndEdit();
  void CommitEdit();
  void MoveSelected(int step);
  void DeleteSelected();
  void Register();
  void Warn(const char* utf8);

  std::string path_;
  const Log& log_;
  Notifier* notifier_;
  std::vector<PresetRow> rows_;
  Mode mode_ = Mode::kNone;
};

}  // namespace velmo::ui
