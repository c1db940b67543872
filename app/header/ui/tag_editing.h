#pragma once
// The edit, add and delete commands of the header lists' tag menu: the refusals, the
// edit (144) and add (145) dialogs, the scope question by list level, the writers for
// every file of the scope, the re-read of each rewritten file and the refresh of the
// lists and panes. Owned by the main window, which supplies what it needs through
// TagEditingHost.
#include <QObject>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/log.h"
#include "base/notifier.h"
#include "dicom/dicom_image.h"
#include "header/tag_edit.h"

class QDialog;
class QTreeWidget;
class QWidget;

namespace velmo {
class StudyTree;
}

namespace velmo::ui {

class HeaderLists;

struct TagEditingHost {
  QWidget* window = nullptr;
  HeaderLists* headerLists = nullptr;
  QTreeWidget* lists[2] = {};  // the left and right header lists
  const Log* log = &Log::Null();
  Notifier* notifier = nullptr;
  const StudyTree* tree = nullptr;
  std::function<int()> listLevel;                       // 0 patient .. 3 image
  std::function<int32_t(int pane)> paneEntry;           // file-table entry a pane shows, -1 none
  std::function<const DicomImage*(int pane)> paneImage;
  std::function<std::string(int32_t entry)> entryPath;  // the entry's file path
  // Re-reads one list record in place (the loading worker in single-record mode).
  std::function<void(int32_t entry)> reread;
  // Rebuilds the lists and loads again every pane that shows one of `entries`
  // (`pane`, the menu pane, always).
  std::function<void(int pane, const std::vector<int32_t>& entries)> refresh;
};

class TagEditing : public QObject {
  Q_OBJECT

 public:
  // Enables the three commands of the tag menu and connects them.
  explicit TagEditing(TagEditingHost host, QObject* parent = nullptr);

  // The commands, for the menu pane of the header lists.
  void EditSelected();    // 32793 "ﾀｸﾞの編集"
  void AddTag();          // 32796 "ﾀｸﾞの追加"
  void DeleteSelected();  // 32797 "ﾀｸﾞの削除"

  // Applies a prepared change to every file of the scope of `pane`'s image at the
  // current list level, re-reads each rewritten file and refreshes. One report per
  // file of the scope (empty when the pane shows no list entry).
  std::vector<TagWriteReport> Apply(TagOperation op, const TagChange& change, int pane);

  // Test seams: answers the yes/no questions instead of the notifier, and is told
  // each dialog just before it runs.
  std::function<bool(std::string_view question)> answerOverride;
  std::function<void(QDialog& dialog)> dialogShown;

 private:
  bool Ask(std::string_view caption, std::string_view question, NoticeIcon icon);
  void Show(std::string_view caption, std::string_view message, NoticeIcon icon);
  // The header row selected in `pane`'s list, or -1.
  int SelectedRow(int pane) const;
  TagEditingHost host_;
};

}  // namespace velmo::ui
