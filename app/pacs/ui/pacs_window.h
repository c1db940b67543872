#pragma once
// The "PACS" window: the archive node, the query fields, the answers as a study ->
// series tree, and "検索" / "取得" / "中止" with progress and the failed objects.
// Searches and retrieves run on a worker thread; a timer moves what it found into
// the window, so the window never blocks. Each series that is complete on disk is
// handed on through seriesReady, so the lists grow while the retrieve runs.
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pacs/pacs_settings.h"

class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QLabel;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace velmo::ui {

class PacsWindow : public QWidget {
  Q_OBJECT
 public:
  explicit PacsWindow(QWidget* parent = nullptr);
  ~PacsWindow() override;

  // A series complete on disk: its files, in arrival order.
  std::function<void(const std::vector<std::string>& paths)> seriesReady;

  // Test seams.
  bool busy() const { return worker_.joinable(); }
  QTreeWidget* results() const { return results_; }

 public slots:
  void Search();
  void Retrieve();
  // "再取得": the objects listed as failed, one by one.
  void RetryFailed();
  void Stop();

 private:
  struct Shared;
  void StartRetrieve(std::vector<pacs::RetrieveRequest> requests);
  void Poll();
  void Finish();
  pacs::Settings FromFields();
  void SaveFields();

  QLineEdit *callingEdit_, *hostEdit_, *portEdit_, *calledEdit_, *folderEdit_;
  QLineEdit *nameEdit_, *idEdit_, *dateFromEdit_, *dateToEdit_, *modalityEdit_, *accessionEdit_, *descriptionEdit_;
  QTreeWidget* results_;
  QPushButton *searchButton_, *retrieveButton_, *stopButton_, *retryButton_;
  QProgressBar* progress_;
  QLabel* status_;
  QListWidget* failures_;
  QTimer* timer_;
  std::shared_ptr<Shared> shared_;
  std::thread worker_;
};

}  // namespace velmo::ui
