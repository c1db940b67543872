// MainDialog: file intake (file and folder dialogs, drops, start-up paths, refresh,
// clear), the loading job under the progress window, and the study lists.
#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "browser/intake.h"
#include "browser/loading_job.h"
#include "browser/study_tree.h"
#include "browser/ui/file_list.h"
#include "base/text.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/progress_dialog.h"

namespace velmo::ui {

struct MainDialog::FileArea {
  std::unique_ptr<Intake> intake;
  LoadingJob job;
  SortState sort;
  bool startupTaken = false;
  bool lastCancelled = false;
  bool choosingRow = false;  // a list row is making its pane active

  // The intake is made on first use: the table and the log exist by then.
  Intake& IntakeOf(MainDialog& d) {
    if (!intake) intake = std::make_unique<Intake>(d.fileTable_, *d.log_, &d.notifier(), d.loadContext_.files);
    return *intake;
  }
};

namespace {

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString DisplayPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// The folder the open dialogs start in: the last path when it is a folder, else the
// folder that holds it.
QString StartFolder(const std::string& lastPath) {
  if (lastPath.empty()) return QDir::currentPath();
  const QString path = DisplayPath(lastPath);
  const QFileInfo info(path);
  if (info.isDir()) return info.absoluteFilePath();
  const QString folder = info.absolutePath();
  return QFileInfo(folder).isDir() ? folder : QDir::currentPath();
}

// Drag and drop on the main window: files and folders from outside (text/uri-list),
// and rows dragged from the file list (text). The main window is the only widget
// that accepts drops, so every drag over it arrives here in its coordinates.
class DropCatcher : public QObject {
 public:
  explicit DropCatcher(MainDialog* dialog) : QObject(dialog), dialog_(dialog) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != dialog_) return false;
    switch (event->type()) {
      case QEvent::DragEnter: {
        auto* e = static_cast<QDragEnterEvent*>(event);
        if (e->mimeData()->hasUrls() || e->mimeData()->hasText())
          e->acceptProposedAction();
        else
          e->ignore();
        return true;
      }
      case QEvent::DragMove: {
        auto* e = static_cast<QDragMoveEvent*>(event);
        if (Takes(e))
          e->acceptProposedAction();
        else
          e->ignore();
        return true;
      }
      case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        if (!Takes(e)) {
          e->ignore();
          return true;
        }
        const int zone = Zone(e);
        if (IsRowDrag(e)) {
          // Handled before the drag returns, so the list knows the row was taken.
          dialog_->TakeDroppedRow(zone);
        } else {
          std::vector<std::string> paths;
          for (const QUrl& url : e->mimeData()->urls())
            if (url.isLocalFile()) paths.push_back(NativePath(url.toLocalFile()));
          // The intake may show the modal progress window: run it after the drop has
          // been answered, not inside the drag-and-drop exchange.
          QPointer<MainDialog> dialog(dialog_);
          QTimer::singleShot(0, dialog_, [dialog, paths, zone] {
            if (dialog) dialog->TakeDroppedPaths(paths, zone);
          });
        }
        e->acceptProposedAction();
        return true;
      }
      default:
        return false;
    }
  }

 private:
  static bool IsRowDrag(const QDropEvent* e) { return !e->mimeData()->hasUrls() && e->mimeData()->hasText(); }
  int Zone(const QDropEvent* e) const { return dialog_->DropZoneAt(e->position().toPoint(), IsRowDrag(e)); }
  bool Takes(const QDropEvent* e) const {
    if (dialog_->loadingJobRunning()) return false;
    const int zone = Zone(e);
    if (zone < 0) return false;
    if (IsRowDrag(e)) return dialog_->fileList != nullptr && dialog_->fileList->pressedRow() >= 0;
    return zone <= 2;  // the hidden frames take no files
  }

  MainDialog* dialog_;
};

}  // namespace

void MainDialog::SetUpFileControls() {
  fileArea_ = std::make_shared<FileArea>();

  fileList = new FileList(fileListHost != nullptr ? fileListHost : client);
  if (fileListHost != nullptr) {
    if (fileListHostLayout == nullptr) {
      fileListHostLayout = new QVBoxLayout(fileListHost);
      fileListHostLayout->setContentsMargins(0, 0, 0, 0);
    }
    fileListHostLayout->addWidget(fileList);
  }
  connect(fileList, &FileList::rowSelected, this, &MainDialog::OnListRowSelected);
  // Every change of the active pane (click, double-click, keys, drops) highlights the
  // row of the entry that pane shows, so the arrow keys go on from there.
  connect(this, &MainDialog::activePaneChanged, this, [this](int) {
    if (fileArea_ && !fileArea_->choosingRow && !loadingJobRunning_) ReselectCurrentEntry(false);
  });
  connect(fileList, &FileList::columnClicked, this, &MainDialog::OnListColumnClicked);

  const std::array<QToolButton*, 4> levels{patientLevelButton, studyLevelButton, seriesLevelButton, imageLevelButton};
  for (int level = 0; level < 4; ++level) {
    QToolButton* b = levels[static_cast<size_t>(level)];
    if (b == nullptr) continue;
    b->setCheckable(true);
    connect(b, &QToolButton::clicked, this, [this, level] { SetListLevel(level); });
  }
  if (fileButton != nullptr) connect(fileButton, &QToolButton::clicked, this, &MainDialog::ChooseFiles);
  // "開く(&O)" clicks "ﾌｧｲﾙ" (connected where the menu is made).
  if (folderButton != nullptr) connect(folderButton, &QToolButton::clicked, this, &MainDialog::ChooseFolder);
  if (refreshButton != nullptr) connect(refreshButton, &QToolButton::clicked, this, &MainDialog::RefreshLists);
  if (clearButton != nullptr) connect(clearButton, &QToolButton::clicked, this, &MainDialog::ClearLists);

  setAcceptDrops(true);
  installEventFilter(new DropCatcher(this));

  listLevel_ = ListLevelFromText(settings_.listLevel);
  fileArea_->sort = SortState::FromSettings(settings_);
  ShowLevelButtons();

  // Last step of the initialisation: the command-line paths (or the remembered
  // DICOMDIR) are taken in and the lists built.
  if (initialised_) TakeStartupPaths(startupArguments_);
}

// ---- start-up, level and lists ----

void MainDialog::TakeStartupPaths(const QStringList& paths) {
  std::vector<std::string> native;
  for (const QString& p : paths) native.push_back(NativePath(p));
  TakeStartupPaths(native);
}

void MainDialog::TakeStartupPaths(const std::vector<std::string>& paths) {
  if (!fileArea_ || fileArea_->startupTaken) return;
  fileArea_->startupTaken = true;
  // The settings are complete now: the level shown at the last exit and the sort keys.
  listLevel_ = ListLevelFromText(settings_.listLevel);
  fileArea_->sort = SortState::FromSettings(settings_);
  ShowLevelButtons();

  const StartupIntake intake =
      fileArea_->IntakeOf(*this).TakeStartupArguments(paths, NativePath(QDir::currentPath()));
  if (intake.runLoadingJob) RunLoadingJobWithProgress();
  RebuildLists();
  if (fileList->RowCount() > 0) {
    fileList->SelectRow(0);
    ShowListRow(0);
  }
  MarkStartupIntakeFinished();
}

const std::string& MainDialog::ListLevelSetting() const { return ListLevelText(listLevel_); }

void MainDialog::ShowLevelButtons() {
  // Exactly one button is down; a level outside 0..3 shows as "画像".
  const int shown = listLevel_ >= 0 && listLevel_ <= 3 ? listLevel_ : 3;
  const std::array<QToolButton*, 4> levels{patientLevelButton, studyLevelButton, seriesLevelButton, imageLevelButton};
  for (int level = 0; level < 4; ++level)
    if (QToolButton* b = levels[static_cast<size_t>(level)]) b->setChecked(level == shown);
}

void MainDialog::SetListLevel(int level) {
  if (!fileArea_) return;
  listLevel_ = level >= 0 && level <= 3 ? level : 3;
  ShowLevelButtons();
  studyTree_.Sort(listLevel_, fileArea_->sort);
  fileList->SetRows(RowsOfTree(studyTree_));
  ReselectCurrentEntry(false);
  fileList->setFocus(Qt::OtherFocusReason);
}

void MainDialog::OnListColumnClicked(int column) {
  if (!fileArea_ || loadingJobRunning_) return;
  fileArea_->sort.ClickColumn(column);
  studyTree_.Sort(listLevel_, fileArea_->sort);
  fileList->SetRows(RowsOfTree(studyTree_));
  ReselectCurrentEntry(false);
  fileList->setFocus(Qt::OtherFocusReason);
}

void MainDialog::RebuildLists() {
  // Records follow the table first, so no pane keeps an image of a file that left it.
  SyncRecordTable(loadContext_, fileTable_);
  studyTree_.SetNameKeywords(NameKeywordsFromSettings(settings_));
  studyTree_.Build(fileTable_);
  studyTree_.Sort(listLevel_, fileArea_->sort);
  fileList->SetRows(RowsOfTree(studyTree_));
}

void MainDialog::ReselectCurrentEntry(bool showIt) {
  const int pane = activePane_;
  const int entry = loadContext_.viewIndex[pane];
  const int row = entry >= 0 ? studyTree_.RowOfEntry(entry) : -1;
  if (row >= 0) {
    fileList->SelectRow(row);
    if (!showIt) return;
    // The pane's own entry, which at the upper levels need not be the row's first image.
    if (studyTree_.EntryOfRow(row) == entry)
      ShowListRow(row);
    else if (!loadingJobRunning_)
      ShowEntry(pane, entry);
    return;
  }
  if (!showIt) return;
  if (fileList->RowCount() > 0) {
    fileList->SelectRow(0);
    ShowListRow(0);
  } else {
    // Nothing left to show: the current pane goes black.
    if (loadContext_.viewIndex[pane] >= 0) ShowEntry(pane, -1);
  }
}

void MainDialog::OnListRowSelected(int row, int pane, bool show) {
  if (pane == 1 || pane == 2) {
    // The chosen row stays selected: it is about to be shown in that pane.
    fileArea_->choosingRow = true;
    SetActivePane(pane);
    fileArea_->choosingRow = false;
  }
  if (show) ShowListRow(row);
}

void MainDialog::ShowListRow(int row) {
  if (loadingJobRunning_ || row < 0 || row >= studyTree_.RowCount()) return;
  if (combined_ && !enlarged_) {
    // Combined mode: the selected entry and its neighbour at the level shown.
    const auto [left, right] = studyTree_.CombinedEntries(row, activePane_);
    ShowEntry(1, left);
    ShowEntry(2, right);
  } else {
    ShowEntry(activePane_, studyTree_.EntryOfRow(row));
  }
}

// ---- intakes ----

bool MainDialog::RunLoadingJobWithProgress() {
  SetLoadingJobRunning(true);
  const LoadingRun run =
      RunLoadingJob(this, fileArea_->job, fileTable_, log_.get(), std::make_unique<Log>(), loadContext_.files);
  SetLoadingJobRunning(false);
  fileArea_->lastCancelled = run.cancelled;
  return run.started && !run.cancelled;
}

bool MainDialog::lastLoadingJobCancelled() const { return fileArea_ && fileArea_->lastCancelled; }

void MainDialog::LoadPendingIntake(int command) {
  const PendingLoad pending = fileArea_->IntakeOf(*this).LoadPending(static_cast<LoadCommand>(command));
  if (pending.pane == 1 || pending.pane == 2) SetActivePane(pending.pane);
  if (pending.clearSelections) {
    ShowEntry(1, -1);
    ShowEntry(2, -1);
  }
  if (pending.runLoadingJob) RunLoadingJobWithProgress();
  RebuildLists();
  ReselectCurrentEntry(true);
}

void MainDialog::ChooseFiles() {
  if (!fileArea_ || loadingJobRunning_) return;
  QFileDialog dialog(this, QString::fromUtf8("開く"), StartFolder(fileTable_.lastPath));
  dialog.setObjectName("OpenFileDialog");
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // "*.*" means every file here as it does on the system the caption comes from; the
  // pattern actually used is "*", and the caption is shown as it stands.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setNameFilter(QString::fromUtf8("すべてのファイル(*.*) (*)"));
  if (dialog.exec() != QDialog::Accepted) return;
  std::vector<std::string> paths;
  for (const QString& f : dialog.selectedFiles()) paths.push_back(NativePath(f));
  if (!paths.empty()) TakeFiles(paths);
}

void MainDialog::ChooseFolder() {
  if (!fileArea_ || loadingJobRunning_) return;
  QFileDialog dialog(this, QString::fromUtf8("フォルダの選択"), StartFolder(fileTable_.lastPath));
  dialog.setObjectName("FolderDialog");
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  if (dialog.exec() != QDialog::Accepted) return;
  const QStringList chosen = dialog.selectedFiles();
  if (!chosen.isEmpty()) TakeFolder(NativePath(chosen.first()));
}

void MainDialog::TakeFiles(const std::vector<std::string>& paths) {
  if (!fileArea_ || loadingJobRunning_) return;
  const LoadCommand command = fileArea_->IntakeOf(*this).TakeFiles(paths);
  LoadPendingIntake(static_cast<int>(command));
}

void MainDialog::TakeFolder(const std::string& folder) {
  if (!fileArea_ || loadingJobRunning_) return;
  const bool emptied = fileArea_->IntakeOf(*this).TakeFolder(folder);
  if (emptied) {
    // The table was a DICOMDIR's: the panes' entries are gone with it.
    ShowEntry(1, -1);
    ShowEntry(2, -1);
  }
  RunLoadingJobWithProgress();
  RebuildLists();
  ReselectCurrentEntry(true);
}

bool MainDialog::TakeDroppedPaths(const std::vector<std::string>& paths, int zone) {
  if (!fileArea_ || loadingJobRunning_ || zone < 0 || zone > 4) return false;
  const LoadCommand command = fileArea_->IntakeOf(*this).TakeDrop(paths, zone);
  if (command == LoadCommand::kNone) return false;
  LoadPendingIntake(static_cast<int>(command));
  return true;
}

bool MainDialog::TakeDroppedRow(int zone) {
  if (!fileArea_ || loadingJobRunning_ || zone < 1 || zone > 4) return false;
  if (fileList->pressedRow() < 0) return false;
  if (zone == 1 || zone == 2) SetActivePane(zone);
  const int row = fileList->TakeRowDrop();
  ShowListRow(row);
  return true;
}

int MainDialog::DropZoneAt(QPoint pos, bool rowDrop) const {
  // Zone 0 the file list, 1 and 2 the pane frames, 3 and 4 the hidden frames; the
  // rectangles are read at the time of the drop, so they follow every resize.
  static const char* const kZoneIds[5] = {"1002", "1001", "1005", "1003", "1007"};
  for (int zone = rowDrop ? 1 : 0; zone < 5; ++zone) {
    const QWidget* w = findChild<QWidget*>(QString::fromLatin1(kZoneIds[zone]));
    if (w == nullptr) continue;
    const QRect r(w->mapTo(this, QPoint(0, 0)), w->size());
    // Strictly inside: the edges belong to no zone.
    if (pos.x() > r.left() && pos.x() < r.left() + r.width() && pos.y() > r.top() && pos.y() < r.top() + r.height())
      return zone;
  }
  return -1;
}

void MainDialog::RefreshLists() {
  if (!fileArea_ || loadingJobRunning_) return;
  const PendingLoad pending = fileArea_->IntakeOf(*this).Refresh();
  if (pending.clearSelections) {
    ShowEntry(1, -1);
    ShowEntry(2, -1);
  }
  if (pending.runLoadingJob) RunLoadingJobWithProgress();
  RebuildLists();
  ReselectCurrentEntry(false);
  fileList->setFocus(Qt::OtherFocusReason);
}

void MainDialog::ClearLists() {
  if (!fileArea_ || loadingJobRunning_) return;
  ShowEntry(1, -1);
  ShowEntry(2, -1);
  loadContext_.FreeAllRecordBuffers();
  fileTable_.Clear();
  fileTable_.lastPath.clear();
  studyTree_.Clear();
  SyncRecordTable(loadContext_, fileTable_);
  fileList->Clear();
  if (leftHeaderList != nullptr) leftHeaderList->clear();
  if (rightHeaderList != nullptr) rightHeaderList->clear();
  RepaintPane(0, true);
}

}  // namespace velmo::ui
