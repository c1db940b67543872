#pragma once
// The two overlay settings dialogs: the group settings dialog (148, "ｸﾞﾙｰﾌﾟの設定")
// creates, renames and deletes device groups and edits their Key.csv; the
// image-information settings dialog (149, "画像情報の設定") edits the four corner
// files of a group. Both write the files at once; the caller reloads the overlay
// configuration when they close.
#include <QDialog>
#include <QPointer>
#include <string>
#include <vector>

#include "base/notifier.h"
#include "base/settings.h"
#include "header/ui/tag_list_window.h"
#include "render/overlay.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace velmo::ui {

class OverlayGroupDialog : public QDialog {
  Q_OBJECT
 public:
  // `settings` receives the new group list ("グループ" is rewritten after each change).
  OverlayGroupDialog(Settings& settings, Notifier& notifier, QWidget* parent = nullptr);

  QListWidget* groupList = nullptr;   // configured groups, then "その他"
  QLineEdit* nameEdit = nullptr;
  QPushButton* addButton = nullptr;     // "追加"
  QPushButton* renameButton = nullptr;  // "変更"
  QPushButton* deleteButton = nullptr;  // "削除"
  QTableWidget* keyTable = nullptr;     // Key.csv of the selected group
  QPushButton* saveButton = nullptr;    // "登録"
  QPushButton* closeButton = nullptr;   // "閉じる"

  void AddGroup();
  void RenameGroup();
  void DeleteGroup();
  // Writes the key table to the selected group's Key.csv; false when refused.
  bool SaveKeys();

 private:
  void FillGroups(int select);
  void ShowKeys();
  int SelectedConfigured() const;  // index into settings_.groups, or -1
  Settings& settings_;
  Notifier& notifier_;
};

class OverlayInfoDialog : public QDialog {
  Q_OBJECT
 public:
  OverlayInfoDialog(const Settings& settings, Notifier& notifier, QWidget* parent = nullptr);

  QComboBox* groupCombo = nullptr;   // configured groups, then "その他"
  QComboBox* cornerCombo = nullptr;  // "左上", "右上", "左下", "右下"
  QTableWidget* itemTable = nullptr;
  QPushButton* addRowButton = nullptr;     // "行追加"
  QPushButton* deleteRowButton = nullptr;  // "行削除"
  QPushButton* saveButton = nullptr;       // "登録"
  QPushButton* closeButton = nullptr;      // "閉じる"
  QPushButton* tagListButton = nullptr;    // "DICOMタグ一覧" (32790)
  QPointer<TagListWindow> tagList;         // the tag list window it opened, if still open

  // Writes the table to the selected corner file; false when refused or failed.
  bool SaveRows();

 private:
  void Load();
  std::string CurrentPath() const;
  const Settings& settings_;
  Notifier& notifier_;
};

}  // namespace velmo::ui
