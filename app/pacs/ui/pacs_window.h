#pragma once
// The "PACS" window: the archive nodes (a list to add to, remove from and choose
// from, each with its address, AE title and DICOM TLS files), the query fields, the answers as a study ->
// series tree, and "検索" / "取得" / "中止" with progress and the failed objects.
// Searches and retrieves run on a worker thread; a timer moves what it found into
// the window, so the window never blocks. Retrieved files are handed on through
// filesReady while the retrieve runs: the first as soon as it is on disk, so it can
// be shown at once, then the rest in batches, so the lists grow as they arrive.
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pacs/pacs_settings.h"

class QCheckBox;
class QComboBox;
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

  // Files complete on disk, in arrival order, each handed on once: the first of a
  // retrieve alone (`first` true) as soon as it is there, then the others every
  // kHandOverMs and whenever a series or the retrieve ends. Returning false means
  // they cannot be taken now: they are offered again on the next tick.
  std::function<bool(const std::vector<std::string>& paths, bool first)> filesReady;
  static constexpr int kHandOverMs = 250;

  // Test seams.
  bool busy() const { return worker_.joinable(); }
  QTreeWidget* results() const { return results_; }

 public slots:
  void Search();
  void Retrieve();
  // "再取得": the objects listed as failed, one by one.
  void RetryFailed();
  void Stop();

 private slots:
  void SelectNode(int index);
  void AddNode();
  void RemoveNode();

 private:
  static QString NodeCaption(const pacs::Node& n);
  void FillNodeList();
  void ShowNodeFields();   // the current node into the fields
  void StoreNodeFields();  // the fields into the current node
  struct Shared;
  void StartRetrieve(std::vector<pacs::RetrieveRequest> requests);
  void Poll();
  void HandOver(bool now);
  void Finish();
  pacs::Settings FromFields();
  void SaveFields();

  QLineEdit *callingEdit_, *hostEdit_, *portEdit_, *calledEdit_, *folderEdit_;
  QLineEdit *caEdit_, *certEdit_, *keyEdit_, *movePortEdit_;
  QCheckBox* tlsCheck_;
  QComboBox* nodeList_;
  QPushButton *addNodeButton_, *removeNodeButton_;
  std::vector<pacs::Node> nodes_;  // as edited; saved with every search and retrieve
  int current_ = 0;
  QLineEdit *nameEdit_, *idEdit_, *dateFromEdit_, *dateToEdit_, *modalityEdit_, *accessionEdit_, *descriptionEdit_;
  QTreeWidget* results_;
  QPushButton *searchButton_, *retrieveButton_, *stopButton_, *retryButton_;
  QProgressBar* progress_;
  QLabel* status_;
  QListWidget* failures_;
  QTimer* timer_;
  std::shared_ptr<Shared> shared_;
  std::thread worker_;
  std::vector<std::string> toHandOver_;  // arrived, not yet taken by filesReady
  bool handedFirst_ = false;             // the first file of this retrieve was taken
  qint64 lastHandOver_ = 0;              // msecs since the epoch
};

}  // namespace velmo::ui
