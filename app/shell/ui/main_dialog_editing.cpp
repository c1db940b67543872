// MainDialog: creation and wiring of tag editing (the tag menu's edit, add and delete).
#include <QTreeWidget>
#include <algorithm>

#include "browser/loading_job.h"
#include "browser/study_tree.h"
#include "browser/ui/file_list.h"
#include "header/ui/header_lists.h"
#include "header/ui/tag_editing.h"
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

void MainDialog::SetUpTagEditing() {
  if (headerLists == nullptr) return;
  TagEditingHost host;
  host.window = this;
  host.headerLists = headerLists;
  host.lists[0] = leftHeaderList;
  host.lists[1] = rightHeaderList;
  host.log = log_.get();
  host.notifier = &notifier();
  host.tree = &studyTree_;
  host.listLevel = [this] { return listLevel_; };
  host.paneEntry = [this](int pane) -> int32_t {
    const int entry = loadContext_.viewIndex[pane == 2 ? 2 : 1];
    return entry >= 0 && entry < fileTable_.validCount.load() ? entry : -1;
  };
  host.paneImage = [this](int pane) -> const DicomImage* { return PaneImage(pane); };
  host.entryPath = [this](int32_t entry) { return fileTable_.entries[static_cast<size_t>(entry)].record.filePath; };
  host.reread = [this](int32_t entry) { RereadEntry(entry); };
  host.refresh = [this](int pane, const std::vector<int32_t>& entries) { RefreshAfterTagChange(pane, entries); };
  tagEditing = new TagEditing(std::move(host), this);
}

void MainDialog::RereadEntry(int32_t entry) {
  // The worker reads the one record in place; the window waits for it without a
  // progress window (the user interface does not respond meanwhile).
  LoadingJob job;
  SetLoadingJobRunning(true);
  if (job.Start(fileTable_, std::make_unique<Log>(), loadContext_.files, LoadingJob::kModeSingle, entry)) job.Finish();
  SetLoadingJobRunning(false);
}

void MainDialog::RefreshAfterTagChange(int pane, const std::vector<int32_t>& entries) {
  if (!fileArea_) return;
  RebuildLists();
  for (int p = 1; p <= 2; ++p) {
    const int entry = loadContext_.viewIndex[p];
    if (entry < 0 || static_cast<size_t>(entry) >= loadContext_.records.size()) continue;
    if (p != pane && std::find(entries.begin(), entries.end(), entry) == entries.end()) continue;
    // The record is read again from the rewritten file at its next display.
    DicomImage& record = loadContext_.records[static_cast<size_t>(entry)];
    record.FreeBuffers();
    record.loaded = 0;
    record.extracted = 0;
    ShowEntry(p, entry);
  }
  ReselectCurrentEntry(false);
}

}  // namespace velmo::ui
