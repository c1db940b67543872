#include "header/ui/tag_editing.h"

#include <QAction>
#include <QMenu>
#include <QStandardPaths>
#include <QTreeWidget>
#include <algorithm>

#include "base/install.h"
#include "base/numbers.h"
#include "base/text.h"
#include "header/ui/header_lists.h"
#include "header/ui/tag_edit_dialogs.h"

namespace velmo::ui {

TagEditing::TagEditing(TagEditingHost host, QObject* parent) : QObject(parent), host_(std::move(host)) {
  HeaderLists* h = host_.headerLists;
  // Edit and delete act on the selected row; add needs an image in the pane.
  connect(h->tagMenu(), &QMenu::aboutToShow, this, [this, h] {
    const int pane = h->menuPane();
    const bool image = host_.paneEntry && host_.paneEntry(pane) >= 0;
    h->editTagAction->setEnabled(image && h->rowSelected(pane));
    h->deleteTagAction->setEnabled(image && h->rowSelected(pane));
    h->addTagAction->setEnabled(image);
  });
  for (QAction* a : {h->editTagAction, h->addTagAction, h->deleteTagAction}) a->setEnabled(true);
  connect(h->editTagAction, &QAction::triggered, this, &TagEditing::EditSelected);
  connect(h->addTagAction, &QAction::triggered, this, &TagEditing::AddTag);
  connect(h->deleteTagAction, &QAction::triggered, this, &TagEditing::DeleteSelected);
}

bool TagEditing::Ask(std::string_view caption, std::string_view question, NoticeIcon icon) {
  if (answerOverride) return answerOverride(question);
  return host_.notifier != nullptr && host_.notifier->AskYesNo(caption, question, icon);
}

void TagEditing::Show(std::string_view caption, std::string_view message, NoticeIcon icon) {
  if (host_.notifier != nullptr) host_.notifier->Show(caption, message, icon);
}

int TagEditing::SelectedRow(int pane) const {
  const HeaderLists& h = *host_.headerLists;
  if (!h.rowSelected(pane)) return -1;
  const auto& rows = h.rows(pane);
  if (QTreeWidget* list = host_.lists[pane == 2 ? 1 : 0]) {
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (!selected.isEmpty()) {
      const int i = list->indexOfTopLevelItem(selected.first());
      if (i >= 0 && static_cast<size_t>(i) < rows.size()) return i;
    }
  }
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].group == h.selectedGroup(pane) && rows[i].element == h.selectedElement(pane))
      return static_cast<int>(i);
  return -1;
}

std::vector<TagWriteReport> TagEditing::Apply(TagOperation op, const TagChange& change, int pane) {
  const int32_t entry = host_.paneEntry ? host_.paneEntry(pane) : -1;
  if (entry < 0 || host_.tree == nullptr) return {};
  const std::vector<int32_t> entries = ImagesInScope(*host_.tree, host_.listLevel ? host_.listLevel() : 3, entry);
  std::vector<std::string> paths;
  paths.reserve(entries.size());
  for (int32_t e : entries) paths.push_back(host_.entryPath(e));

  TagWriteEnv env;
  env.log = host_.log;
  env.notifier = host_.notifier;
  env.installFolder = InstallFolder();
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (!desktop.isEmpty()) env.desktopFolder = desktop.toStdString() + "/";
  std::vector<TagWriteReport> reports = ApplyTagChange(op, paths, change, env);

  std::vector<int32_t> rewritten;
  int failures = 0;
  std::string firstFailure;
  for (size_t i = 0; i < reports.size(); ++i) {
    if (!reports[i].ok()) {
      if (failures++ == 0) firstFailure = reports[i].failure;
      continue;
    }
    if (!reports[i].changed) continue;
    if (host_.reread) host_.reread(entries[i]);
    rewritten.push_back(entries[i]);
  }
  if (host_.refresh) host_.refresh(pane, rewritten);
  // Each failure is in the log; one message says that files were left as they were.
  if (failures > 0)
    Show(SJ("警告"),
         Format(SJ("%d 件のファイルは書き換えられませんでした（元のファイルはそのままです）。\n%s"), failures,
                firstFailure),
         NoticeIcon::Warning);
  return reports;
}

void TagEditing::EditSelected() {
  HeaderLists& h = *host_.headerLists;
  const int pane = h.menuPane();
  const int row = SelectedRow(pane);
  if (row < 0 || !host_.paneEntry || host_.paneEntry(pane) < 0) return;
  const HeaderRow& r = h.rows(pane)[static_cast<size_t>(row)];
  const std::string refusal = EditRefusal(r.group, r.vr, r.vm);
  if (!refusal.empty()) {
    Show(SJ("情報"), refusal, NoticeIcon::Information);
    return;
  }
  const std::string group = r.group, element = r.element, name = r.name;
  TagEditDialog dialog(h.dictionaries(), host_.paneImage ? host_.paneImage(pane) : nullptr, group, element, name,
                       host_.window);
  dialog.execute = [this, pane](TagEditDialog& d) {
    const int level = host_.listLevel ? host_.listLevel() : 3;
    if (!Ask(SJ("確認"), ScopeQuestion(level), NoticeIcon::Question)) return false;
    TagChange change;
    if (!d.Encode(&change)) {
      Show(SJ("警告"), SJ("値が長すぎます"), NoticeIcon::Warning);
      return false;
    }
    Apply(TagOperation::kEdit, change, pane);
    return true;
  };
  if (dialogShown) dialogShown(dialog);
  dialog.exec();
}

void TagEditing::AddTag() {
  const int pane = host_.headerLists->menuPane();
  if (!host_.paneEntry || host_.paneEntry(pane) < 0) return;
  TagAddDialog dialog(host_.window);
  dialog.execute = [this, pane](TagAddDialog& d) {
    TagChange change;
    const std::string refusal = d.ReadInput(&change);
    if (!refusal.empty()) {
      Show(SJ("警告"), refusal, NoticeIcon::Warning);
      return false;
    }
    const int level = host_.listLevel ? host_.listLevel() : 3;
    if (!Ask(SJ("確認"), ScopeQuestion(level), NoticeIcon::Question)) return false;
    if (!d.Encode(&change)) {
      Show(SJ("警告"), SJ("値が長すぎます"), NoticeIcon::Warning);
      return false;
    }
    Apply(TagOperation::kAdd, change, pane);
    return true;
  };
  if (dialogShown) dialogShown(dialog);
  dialog.exec();
}

void TagEditing::DeleteSelected() {
  HeaderLists& h = *host_.headerLists;
  const int pane = h.menuPane();
  const int row = SelectedRow(pane);
  if (row < 0 || !host_.paneEntry || host_.paneEntry(pane) < 0) return;
  const HeaderRow r = h.rows(pane)[static_cast<size_t>(row)];
  const int level = host_.listLevel ? host_.listLevel() : 3;
  if (!Ask(SJ("確認"), DeleteQuestion(level, r.group, r.element, r.name), NoticeIcon::Information)) return;
  TagChange change;
  if (!ReadTagTexts(r.group, r.element, &change).empty()) return;
  Apply(TagOperation::kDelete, change, pane);
}

}  // namespace velmo::ui
