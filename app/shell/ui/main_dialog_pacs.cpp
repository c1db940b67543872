// Archive query and retrieve in the main window: the "PACS(&P)..." item of the file
// menu opens the PACS window; the files it retrieves are taken in like files opened
// from the file menu while the retrieve runs, so the lists grow as they arrive.
#include <QAction>
#include <QMenu>
#include <unordered_set>

#include "browser/ui/file_list.h"
#include "pacs/ui/pacs_window.h"
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

void MainDialog::SetUpPacs() {
  pacsAction = new QAction(QString::fromUtf8("PACS(&P)..."), this);
  pacsAction->setObjectName("pacsAction");
  if (auto* fileMenu = qobject_cast<QMenu*>(exitAction ? exitAction->parent() : nullptr))
    fileMenu->insertAction(exitAction, pacsAction);
  connect(pacsAction, &QAction::triggered, this, &MainDialog::OpenPacsWindow);
}

void MainDialog::OpenPacsWindow() {
  if (!pacsWindow) {
    pacsWindow = new PacsWindow(this);
    // Retrieved files join the lists like opened ones; the first of a retrieve is shown
    // in the left pane at once. A file already in the table (a study retrieved again)
    // is not taken twice. While a loading job runs nothing is taken: the window offers
    // the files again on its next tick.
    pacsWindow->filesReady = [this](const std::vector<std::string>& paths, bool first) {
      if (!fileArea_ || loadingJobRunning_) return false;
      std::unordered_set<std::string> known;
      const int32_t valid = fileTable_.validCount.load();
      for (int32_t i = 0; i < valid; ++i) known.insert(fileTable_.Record(i).filePath);
      std::vector<std::string> fresh;
      for (const std::string& p : paths)
        if (known.insert(p).second) fresh.push_back(p);
      if (!fresh.empty()) TakeFiles(fresh);
      if (first && !paths.empty()) {
        const auto& records = loadContext_.records;
        for (size_t i = 0; i < records.size(); ++i) {
          if (records[i].filePath != paths.front()) continue;
          const int row = studyTree_.RowOfEntry(static_cast<int>(i));
          if (row < 0) break;
          SetActivePane(1);
          fileList->SelectRow(row);
          ShowListRow(row);
          break;
        }
      }
      return true;
    };
  }
  pacsWindow->show();
  pacsWindow->raise();
  pacsWindow->activateWindow();
}

}  // namespace velmo::ui
