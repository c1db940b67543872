#pragma once
// The settings dialog (132, menu item "設定"): every key of "色設定", "画像情報",
// "外部ソフト", "ソート", "昇順降順", "患者名", "画像処理", "詳細" and "リスト" "最大数" on
// six pages. Numbers and colours are checked before anything is written; "保存"
// writes every key through the atomic INI writer (every other line of Velmo.ini is
// kept) and reports `saved`.
#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <string>

#include "base/notifier.h"
#include "base/settings.h"

class QComboBox;
class QFormLayout;
class QLineEdit;
class QTabWidget;
class QPushButton;

namespace velmo::ui {

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // `current`: the values shown at start; `iniPath`: the file "保存" writes.
  SettingsDialog(const Settings& current, std::string iniPath, QWidget* parent = nullptr);

  // The settings as the controls hold them now; false (with the field's caption in
  // *badField) when a number or colour field does not hold a valid value.
  bool Collect(Settings* out, QString* badField) const;
  // "保存": checks, writes, emits saved and closes. False when nothing was written.
  bool Save();

  // Test seam: replaces the colour picker; returns the chosen colour as 0x00BBGGRR,
  // or a negative value for cancel.
  std::function<long long(uint32_t current)> pickColourOverride;

  // Where "保存" reports a bad value or a failed write (a message box when null).
  Notifier* notifier = nullptr;

  QTabWidget* pages = nullptr;
  QPushButton* saveButton = nullptr;    // "保存" (objectName "1")
  QPushButton* cancelButton = nullptr;  // "ｷｬﾝｾﾙ" (objectName "2")

 signals:
  void saved();

 private:
  // Controls by "section/key" (UTF-8), which is also their objectName.
  QLineEdit* Edit(const char* id) const;
  QComboBox* Combo(const char* id) const;
  void AddColour(QFormLayout* form, const QString& section, const char* key, uint32_t value);

  Settings base_;
  std::string iniPath_;
  std::map<QString, QLineEdit*> edits_;
  std::map<QString, QComboBox*> combos_;
};

}  // namespace velmo::ui
