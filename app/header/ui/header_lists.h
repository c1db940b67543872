#pragma once
// The two "ヘッダ情報" lists (controls 1010 and 1011) with their language, binary,
// copy and save buttons and the tag menu. Each list shows every element of the image
// in its pane; selecting a row publishes the element's caption and value, which the
// image-information overlay draws on the image. Owns the tag dictionary for the run.
#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/notifier.h"
#include "dicom/dicom_image.h"
#include "header/dictionary.h"
#include "header/header_rows.h"

class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QToolButton;

class QWidget;

namespace velmo::ui {

// What the lists need from the main window: their controls (index 0 left, 1 right),
// the log and notifier, the image a pane shows and a repaint of a pane.
struct HeaderListsHost {
  QWidget* window = nullptr;
  QTreeWidget* lists[2] = {};
  QToolButton* japanese[2] = {};
  QToolButton* english[2] = {};
  QToolButton* binary[2] = {};
  QToolButton* copyValue[2] = {};
  QToolButton* saveText[2] = {};
  const Log* log = &Log::Null();
  Notifier* notifier = nullptr;
  std::function<const DicomImage*(int pane)> paneImage;
  std::function<void(int pane)> repaintPane;
};

class HeaderLists : public QObject {
  Q_OBJECT

 public:
  // Loads Config/Tag.csv and Config/VR.csv and wires the controls of both pages.
  explicit HeaderLists(HeaderListsHost host, QObject* parent = nullptr);
  ~HeaderLists() override;

  const Dictionaries& dictionaries() const { return dict_; }
  // False when a dictionary buffer could not be allocated at start-up.
  bool dictionariesLoaded() const { return dictionariesLoaded_; }

  // Refills the list of `pane` (1 left, 2 right) from the image the pane shows.
  void ShowHeader(int pane);
  // Puts the pane's selected value on the clipboard as text.
  void CopySelectedValue(int pane);
  // "ﾃｷｽﾄ保存": asks for a file name (initially the patient ID) and writes the list.
  void SaveText(int pane);
  // Writes the pane's list as text to `path` (Shift-JIS, CR LF); false when it fails.
  bool WriteText(int pane, const std::string& path);
  void SetEnglish(int pane, bool english);
  void SetBinary(int pane, bool binary);
  bool english(int pane) const { return state(pane).english; }
  bool binary(int pane) const { return state(pane).binary; }
  const std::vector<HeaderRow>& rows(int pane) const { return state(pane).rows; }

  // Published selection (Shift-JIS): "( GGGG,EEEE ) name" and the value text.
  bool rowSelected(int pane) const { return state(pane).rowSelected; }
  const std::string& selectionCaption(int pane) const { return state(pane).caption; }
  const std::string& selectedValue(int pane) const { return state(pane).value; }
  const std::string& selectedGroup(int pane) const { return state(pane).group; }
  const std::string& selectedElement(int pane) const { return state(pane).element; }
  // The pane whose list opened the tag menu last (1 left, 2 right).
  int menuPane() const { return menuPane_; }

  // The tag menu (resource 143): "値のｺﾋﾟｰ", "ﾀｸﾞの編集", "ﾀｸﾞの追加", "ﾀｸﾞの削除".
  QMenu* tagMenu() const { return menu_; }
  QAction* copyValueAction = nullptr;  // 32795
  QAction* editTagAction = nullptr;    // 32793 (the editing area enables it)
  QAction* addTagAction = nullptr;     // 32796
  QAction* deleteTagAction = nullptr;  // 32797

  // Test seam: replaces the save dialog; returns the chosen path or "" for cancel.
  std::function<QString(int pane, const QString& initialName)> saveFileNameOverride;

 private:
  struct PaneState {
    bool english = false;
    bool binary = false;
    bool rowSelected = false;
    std::string group, element, name, caption, value;
    std::string previousGroup, previousElement;
    std::vector<HeaderRow> rows;
  };
  PaneState& state(int pane) { return panes_[pane == 2 ? 1 : 0]; }
  const PaneState& state(int pane) const { return panes_[pane == 2 ? 1 : 0]; }
  QTreeWidget* list(int pane) const;
  void SetTitles(int pane);
  void OnSelectionChanged(int pane);
  void OnItemClicked(int pane, QTreeWidgetItem* item);
  void OnContextMenu(int pane, const QPoint& pos);
  void ClearSelection(int pane);

  HeaderListsHost host_;
  Dictionaries dict_;
  bool dictionariesLoaded_ = false;
  PaneState panes_[2];
  bool filling_ = false;
  int menuPane_ = 1;
  QMenu* menu_ = nullptr;
};

}  // namespace velmo::ui
