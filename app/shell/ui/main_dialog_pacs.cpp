// Archive query and retrieve in the main window: the "PACS(&P)..." item of the file
// menu opens the PACS window; each series it has on disk is taken in like files
// opened from the file menu, so the lists grow while a retrieve runs.
#include <QAction>
#include <QMenu>

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
    pacsWindow->seriesReady = [this](const std::vector<std::string>& paths) { TakeFiles(paths); };
  }
  pacsWindow->show();
  pacsWindow->raise();
  pacsWindow->activateWindow();
}

}  // namespace velmo::ui
