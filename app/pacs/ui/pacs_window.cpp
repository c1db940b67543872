#include "pacs/ui/pacs_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

#include "base/text.h"

namespace velmo::ui {

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }
QString FromSjis(const std::string& sjis) { return QString::fromStdString(Utf8FromSjis(sjis)); }
std::string Ascii(const QLineEdit* e) { return e->text().trimmed().toStdString(); }

constexpr int kUidRole = Qt::UserRole;        // study or series UID
constexpr int kStudyRole = Qt::UserRole + 1;  // the study UID of a series row

// Dates typed as 2024/01/05 or 2024-01-05 become 20240105.
std::string DicomDate(const QLineEdit* e) {
  std::string out;
  for (QChar c : e->text())
    if (c.isDigit()) out += static_cast<char>(c.unicode());
  return out;
}

}  // namespace

// What the worker hands to the window, under one lock.
struct PacsWindow::Shared {
  std::mutex m;
  std::unique_ptr<pacs::Transport> transport;  // the running one, for Cancel
  std::vector<pacs::Answer> studies;
  std::vector<std::pair<std::string, pacs::Answer>> series;  // study UID, answer
  std::vector<std::string> arrived;  // files on disk, in arrival order
  bool seriesEnded = false;          // a series ended since the last tick
  std::vector<pacs::RetrieveRequest> failed;  // one per object: study, series, SOP instance
  pacs::Progress progress;
  int stored = 0;
  bool done = false;
  std::string error, summary;
};

PacsWindow::PacsWindow(QWidget* parent) : QWidget(parent, Qt::Window), shared_(std::make_shared<Shared>()) {
  setObjectName("pacsWindow");
  setWindowTitle("PACS");
  const pacs::Settings s = pacs::LoadSettings();
  auto edit = [&](const char* name, const QString& text, int width = 0) {
    auto* e = new QLineEdit(text, this);
    e->setObjectName(name);
    if (width) e->setMaximumWidth(width);
    return e;
  };
  nodes_ = s.nodes;
  current_ = static_cast<int>(std::min(s.current, nodes_.size() - 1));
  callingEdit_ = edit("pacsCallingAe", QString::fromStdString(s.node().callingAe), 160);
  hostEdit_ = edit("pacsHost", "");
  portEdit_ = edit("pacsPort", "", 80);
  calledEdit_ = edit("pacsCalledAe", "", 160);
  caEdit_ = edit("pacsCaFile", "");
  certEdit_ = edit("pacsCertFile", "");
  keyEdit_ = edit("pacsKeyFile", "");
  movePortEdit_ = edit("pacsMovePort", s.movePort ? QString::number(s.movePort) : QString(), 80);
  movePortEdit_->setPlaceholderText(U("使わない"));
  folderEdit_ = edit("pacsFolder", QString::fromStdString(pacs::RetrieveFolder(s)));
  tlsCheck_ = new QCheckBox(U("TLS を使う"), this);
  tlsCheck_->setObjectName("pacsTls");
  nodeList_ = new QComboBox(this);
  nodeList_->setObjectName("pacsNodes");
  addNodeButton_ = new QPushButton(U("追加"), this);
  addNodeButton_->setObjectName("pacsNodeAdd");
  removeNodeButton_ = new QPushButton(U("削除"), this);
  removeNodeButton_->setObjectName("pacsNodeRemove");
  nameEdit_ = edit("pacsPatientName", "");
  idEdit_ = edit("pacsPatientId", "");
  dateFromEdit_ = edit("pacsDateFrom", "", 110);
  dateToEdit_ = edit("pacsDateTo", "", 110);
  modalityEdit_ = edit("pacsModality", "", 60);
  accessionEdit_ = edit("pacsAccession", "");
  descriptionEdit_ = edit("pacsDescription", "");

  auto* nodeBox = new QGroupBox(U("接続先"), this);
  auto* nodeGrid = new QGridLayout(nodeBox);
  auto* nodeRow = new QHBoxLayout;
  nodeRow->addWidget(nodeList_, 1);
  nodeRow->addWidget(addNodeButton_);
  nodeRow->addWidget(removeNodeButton_);
  nodeGrid->addWidget(new QLabel(U("アーカイブ"), this), 0, 0);
  nodeGrid->addLayout(nodeRow, 0, 1, 1, 3);
  nodeGrid->addWidget(new QLabel(U("相手AE"), this), 1, 0);
  nodeGrid->addWidget(calledEdit_, 1, 1);
  nodeGrid->addWidget(new QLabel(U("自局AE"), this), 1, 2);
  nodeGrid->addWidget(callingEdit_, 1, 3);
  nodeGrid->addWidget(new QLabel(U("ホスト"), this), 2, 0);
  nodeGrid->addWidget(hostEdit_, 2, 1);
  nodeGrid->addWidget(new QLabel(U("ポート"), this), 2, 2);
  nodeGrid->addWidget(portEdit_, 2, 3);
  nodeGrid->addWidget(tlsCheck_, 3, 0, 1, 2);
  nodeGrid->addWidget(new QLabel(U("CA証明書"), this), 4, 0);
  nodeGrid->addWidget(caEdit_, 4, 1, 1, 3);
  nodeGrid->addWidget(new QLabel(U("証明書"), this), 5, 0);
  nodeGrid->addWidget(certEdit_, 5, 1);
  nodeGrid->addWidget(new QLabel(U("秘密鍵"), this), 5, 2);
  nodeGrid->addWidget(keyEdit_, 5, 3);
  nodeGrid->addWidget(new QLabel(U("受信ポート"), this), 6, 0);
  nodeGrid->addWidget(movePortEdit_, 6, 1);
  nodeGrid->addWidget(new QLabel(U("保存先"), this), 7, 0);
  nodeGrid->addWidget(folderEdit_, 7, 1, 1, 3);

  auto* queryBox = new QGroupBox(U("検索条件"), this);
  auto* queryGrid = new QGridLayout(queryBox);
  queryGrid->addWidget(new QLabel(U("患者名"), this), 0, 0);
  queryGrid->addWidget(nameEdit_, 0, 1);
  queryGrid->addWidget(new QLabel(U("患者ID"), this), 0, 2);
  queryGrid->addWidget(idEdit_, 0, 3);
  queryGrid->addWidget(new QLabel(U("検査日"), this), 1, 0);
  auto* dates = new QHBoxLayout;
  dates->addWidget(dateFromEdit_);
  dates->addWidget(new QLabel(U("～"), this));
  dates->addWidget(dateToEdit_);
  queryGrid->addLayout(dates, 1, 1);
  queryGrid->addWidget(new QLabel(U("ﾓﾀﾞﾘﾃｨ"), this), 1, 2);
  queryGrid->addWidget(modalityEdit_, 1, 3);
  queryGrid->addWidget(new QLabel(U("受付番号"), this), 2, 0);
  queryGrid->addWidget(accessionEdit_, 2, 1);
  queryGrid->addWidget(new QLabel(U("検査記述"), this), 2, 2);
  queryGrid->addWidget(descriptionEdit_, 2, 3);

  results_ = new QTreeWidget(this);
  results_->setObjectName("pacsResults");
  results_->setColumnCount(6);
  results_->setHeaderLabels({U("患者名"), U("患者ID"), U("検査日"), U("ﾓﾀﾞﾘﾃｨ"), U("検査記述"), U("画像数")});
  results_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  results_->header()->setSectionResizeMode(QHeaderView::Interactive);
  results_->setColumnWidth(0, 260);

  searchButton_ = new QPushButton(U("検索"), this);
  searchButton_->setObjectName("pacsSearch");
  retrieveButton_ = new QPushButton(U("取得"), this);
  retrieveButton_->setObjectName("pacsRetrieve");
  stopButton_ = new QPushButton(U("中止"), this);
  stopButton_->setObjectName("pacsStop");
  stopButton_->setEnabled(false);
  retryButton_ = new QPushButton(U("再取得"), this);
  retryButton_->setObjectName("pacsRetry");
  progress_ = new QProgressBar(this);
  progress_->setObjectName("pacsProgress");
  progress_->setRange(0, 1);
  progress_->setValue(0);
  status_ = new QLabel(this);
  status_->setObjectName("pacsStatus");
  failures_ = new QListWidget(this);
  failures_->setObjectName("pacsFailures");
  failures_->setMaximumHeight(70);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(searchButton_);
  buttons->addWidget(retrieveButton_);
  buttons->addWidget(stopButton_);
  buttons->addWidget(progress_, 1);
  auto* top = new QHBoxLayout;
  top->addWidget(nodeBox);
  top->addWidget(queryBox);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  layout->addWidget(results_, 1);
  layout->addWidget(status_);
  layout->addWidget(new QLabel(U("取得できなかった画像"), this));
  auto* failRow = new QHBoxLayout;
  failRow->addWidget(failures_, 1);
  failRow->addWidget(retryButton_, 0, Qt::AlignTop);
  layout->addLayout(failRow);
  resize(900, 600);

  timer_ = new QTimer(this);
  timer_->setInterval(50);
  connect(timer_, &QTimer::timeout, this, &PacsWindow::Poll);
  connect(searchButton_, &QPushButton::clicked, this, &PacsWindow::Search);
  connect(retrieveButton_, &QPushButton::clicked, this, &PacsWindow::Retrieve);
  connect(stopButton_, &QPushButton::clicked, this, &PacsWindow::Stop);
  connect(retryButton_, &QPushButton::clicked, this, &PacsWindow::RetryFailed);
  connect(nameEdit_, &QLineEdit::returnPressed, this, &PacsWindow::Search);
  connect(nodeList_, &QComboBox::currentIndexChanged, this, &PacsWindow::SelectNode);
  connect(addNodeButton_, &QPushButton::clicked, this, &PacsWindow::AddNode);
  connect(removeNodeButton_, &QPushButton::clicked, this, &PacsWindow::RemoveNode);
  for (QLineEdit* e : {hostEdit_, portEdit_, calledEdit_})
    connect(e, &QLineEdit::textEdited, this, &PacsWindow::StoreNodeFields);
  FillNodeList();
}

QString PacsWindow::NodeCaption(const pacs::Node& n) {
  return QString::fromStdString(n.calledAe) + "  " + QString::fromStdString(n.host) + ":" + QString::number(n.port);
}

void PacsWindow::FillNodeList() {
  const QSignalBlocker block(nodeList_);
  nodeList_->clear();
  for (const pacs::Node& n : nodes_) nodeList_->addItem(NodeCaption(n));
  nodeList_->setCurrentIndex(current_);
  ShowNodeFields();
  removeNodeButton_->setEnabled(nodes_.size() > 1);
}

void PacsWindow::ShowNodeFields() {
  const pacs::Node& n = nodes_[static_cast<size_t>(current_)];
  hostEdit_->setText(QString::fromStdString(n.host));
  portEdit_->setText(QString::number(n.port));
  calledEdit_->setText(QString::fromStdString(n.calledAe));
  tlsCheck_->setChecked(n.tls);
  caEdit_->setText(QString::fromStdString(n.caFile));
  certEdit_->setText(QString::fromStdString(n.certFile));
  keyEdit_->setText(QString::fromStdString(n.keyFile));
}

void PacsWindow::StoreNodeFields() {
  pacs::Node& n = nodes_[static_cast<size_t>(current_)];
  n.host = Ascii(hostEdit_);
  n.calledAe = Ascii(calledEdit_);
  const int port = portEdit_->text().toInt();
  if (port >= 1 && port <= 65535) n.port = static_cast<uint16_t>(port);
  n.tls = tlsCheck_->isChecked();
  n.caFile = caEdit_->text().trimmed().toStdString();
  n.certFile = certEdit_->text().trimmed().toStdString();
  n.keyFile = keyEdit_->text().trimmed().toStdString();
  if (current_ < nodeList_->count()) nodeList_->setItemText(current_, NodeCaption(n));
}

void PacsWindow::SelectNode(int index) {
  if (index < 0 || index >= static_cast<int>(nodes_.size()) || index == current_) return;
  StoreNodeFields();
  current_ = index;
  ShowNodeFields();
  SaveFields();
}

void PacsWindow::AddNode() {
  if (busy() || nodes_.size() >= pacs::kMaxNodes) return;
  StoreNodeFields();
  pacs::Node n;
  n.callingAe = nodes_[static_cast<size_t>(current_)].callingAe;
  n.timeoutSeconds = nodes_[static_cast<size_t>(current_)].timeoutSeconds;
  nodes_.push_back(n);
  current_ = static_cast<int>(nodes_.size()) - 1;
  FillNodeList();
  calledEdit_->setFocus();
}

void PacsWindow::RemoveNode() {
  if (busy() || nodes_.size() <= 1) return;
  nodes_.erase(nodes_.begin() + current_);
  current_ = std::min(current_, static_cast<int>(nodes_.size()) - 1);
  FillNodeList();
  SaveFields();
}

PacsWindow::~PacsWindow() {
  Stop();
  if (worker_.joinable()) worker_.join();
}

pacs::Settings PacsWindow::FromFields() {
  pacs::Settings s = pacs::LoadSettings();
  StoreNodeFields();
  const std::string calling = Ascii(callingEdit_);
  s.nodes = nodes_;
  s.current = static_cast<size_t>(current_);
  for (pacs::Node& n : s.nodes) n.callingAe = calling;
  const int movePort = movePortEdit_->text().trimmed().toInt();
  s.movePort = movePort >= 1 && movePort <= 65535 ? static_cast<uint16_t>(movePort) : 0;
  s.folder = SjisOrEmpty(folderEdit_->text().trimmed().toStdString());
  return s;
}

void PacsWindow::SaveFields() { pacs::SaveSettings(FromFields()); }

void PacsWindow::Search() {
  if (busy()) return;
  SaveFields();
  const pacs::Settings s = FromFields();
  results_->clear();
  failures_->clear();
  status_->setText(U("検索中..."));
  std::vector<pacs::Key> keys = pacs::DefaultKeys(pacs::Level::kStudy);
  for (pacs::Key& k : keys) {
    if (k.group == 0x0010 && k.element == 0x0010) k.value = nameEdit_->text().trimmed().toStdString();
    if (k.group == 0x0010 && k.element == 0x0020) k.value = idEdit_->text().trimmed().toStdString();
    if (k.group == 0x0008 && k.element == 0x0050) k.value = accessionEdit_->text().trimmed().toStdString();
    if (k.group == 0x0008 && k.element == 0x0061) k.value = modalityEdit_->text().trimmed().toStdString();
    if (k.group == 0x0008 && k.element == 0x1030) k.value = descriptionEdit_->text().trimmed().toStdString();
    if (k.group == 0x0008 && k.element == 0x0020) {
      const std::string from = DicomDate(dateFromEdit_), to = DicomDate(dateToEdit_);
      k.value = from.empty() && to.empty() ? "" : from == to ? from : from + "-" + to;
    }
  }
  const std::string description = descriptionEdit_->text().trimmed().toStdString();
  if (!description.empty() && description.find_first_of("*?") == std::string::npos)
    for (pacs::Key& k : keys)
      if (k.group == 0x0008 && k.element == 0x1030) k.value = "*" + description + "*";
  shared_ = std::make_shared<Shared>();
  auto sh = shared_;
  {
    std::lock_guard<std::mutex> l(sh->m);
    sh->transport = pacs::MakeDimseTransport(s.node());
  }
  const int cap = s.resultCap;
  const pacs::Node node = s.node();
  worker_ = std::thread([sh, keys, cap, node] {
    std::vector<std::string> studyUids;
    pacs::FindResult r = sh->transport->Find(pacs::Level::kStudy, keys, [&](const pacs::Answer& a) {
      studyUids.push_back(pacs::ValueOf(a, 0x0020, 0x000D));
      std::lock_guard<std::mutex> l(sh->m);
      sh->studies.push_back(a);
    }, cap);
    // The series of each study, on their own association.
    if (r.ok) {
      for (const std::string& uid : studyUids) {
        std::vector<pacs::Key> sk = pacs::DefaultKeys(pacs::Level::kSeries);
        for (pacs::Key& k : sk)
          if (k.group == 0x0020 && k.element == 0x000D) k.value = uid;
        pacs::FindResult sr = sh->transport->Find(pacs::Level::kSeries, sk, [&](const pacs::Answer& a) {
          std::lock_guard<std::mutex> l(sh->m);
          sh->series.emplace_back(uid, a);
        });
        if (!sr.ok) break;
      }
    }
    std::lock_guard<std::mutex> l(sh->m);
    sh->error = r.ok ? "" : r.error;
    sh->summary = std::to_string(r.answers) + (r.capped ? "+" : "");
    sh->done = true;
  });
  searchButton_->setEnabled(false);
  retrieveButton_->setEnabled(false);
  retryButton_->setEnabled(false);
  stopButton_->setEnabled(true);
  timer_->start();
}

void PacsWindow::Retrieve() {
  if (busy()) return;
  // The selected rows: a study row retrieves the study, a series row that series.
  std::vector<pacs::RetrieveRequest> requests;
  SaveFields();
  const std::string dest = folderEdit_->text().trimmed().toStdString();
  for (QTreeWidgetItem* item : results_->selectedItems()) {
    pacs::RetrieveRequest rq;
    rq.destination = dest;
    if (item->parent()) {
      if (item->parent()->isSelected()) continue;  // the whole study is taken anyway
      rq.studyUid = item->data(0, kStudyRole).toString().toStdString();
      rq.seriesUid = item->data(0, kUidRole).toString().toStdString();
    } else {
      rq.studyUid = item->data(0, kUidRole).toString().toStdString();
    }
    requests.push_back(rq);
  }
  if (requests.empty()) {
    status_->setText(U("取得する検査またはシリーズを選んでください"));
    return;
  }
  StartRetrieve(std::move(requests));
}

void PacsWindow::RetryFailed() {
  if (busy()) return;
  std::vector<pacs::RetrieveRequest> requests;
  const std::string dest = folderEdit_->text().trimmed().toStdString();
  for (int i = 0; i < failures_->count(); ++i) {
    const QStringList uids = failures_->item(i)->data(kUidRole).toStringList();
    if (uids.size() != 3) continue;
    pacs::RetrieveRequest rq;
    rq.studyUid = uids[0].toStdString();
    rq.seriesUid = uids[1].toStdString();
    rq.sopInstanceUid = uids[2].toStdString();
    rq.destination = dest;
    requests.push_back(rq);
  }
  if (!requests.empty()) StartRetrieve(std::move(requests));
}

void PacsWindow::StartRetrieve(std::vector<pacs::RetrieveRequest> requests) {
  const pacs::Settings s = FromFields();
  for (pacs::RetrieveRequest& rq : requests) rq.moveFallbackPort = s.movePort;
  failures_->clear();
  status_->setText(U("取得中..."));
  handedFirst_ = false;
  shared_ = std::make_shared<Shared>();
  auto sh = shared_;
  {
    std::lock_guard<std::mutex> l(sh->m);
    sh->transport = pacs::MakeDimseTransport(s.node());
  }
  worker_ = std::thread([sh, requests] {
    std::string error;
    int total = 0;
    bool viaMove = false;
    for (const pacs::RetrieveRequest& rq : requests) {
      pacs::RetrieveHooks hooks;
      hooks.stored = [&](const pacs::StoredFile& f) {
        std::lock_guard<std::mutex> l(sh->m);
        sh->arrived.push_back(f.path);
        ++sh->stored;
      };
      hooks.progress = [&](const pacs::Progress& p) {
        std::lock_guard<std::mutex> l(sh->m);
        sh->progress = p;
      };
      hooks.seriesDone = [&](const std::string&, const std::string&) {
        std::lock_guard<std::mutex> l(sh->m);
        sh->seriesEnded = true;
      };
      pacs::RetrieveResult r = sh->transport->Retrieve(rq, hooks);
      total += static_cast<int>(r.files.size());
      viaMove |= r.viaMove;
      std::lock_guard<std::mutex> l(sh->m);
      for (const std::string& sop : r.failedInstances) {
        pacs::RetrieveRequest again = rq;
        again.sopInstanceUid = sop;
        sh->failed.push_back(again);
      }
      if (!r.ok) {
        error = r.error;
        break;
      }
    }
    std::lock_guard<std::mutex> l(sh->m);
    sh->error = error;
    // The user learns that the archive refused C-GET and C-MOVE was used instead.
    sh->summary = std::to_string(total) + (viaMove ? ", C-MOVE" : "");
    sh->done = true;
  });
  searchButton_->setEnabled(false);
  retrieveButton_->setEnabled(false);
  retryButton_->setEnabled(false);
  stopButton_->setEnabled(true);
  progress_->setRange(0, 0);
  timer_->start();
}

void PacsWindow::Stop() {
  std::lock_guard<std::mutex> l(shared_->m);
  if (shared_->transport && !shared_->done) shared_->transport->Cancel();
}

void PacsWindow::HandOver(bool now) {
  if (toHandOver_.empty() || !filesReady) return;
  const qint64 t = QDateTime::currentMSecsSinceEpoch();
  if (handedFirst_ && !now && t - lastHandOver_ < kHandOverMs) return;
  if (!handedFirst_) {
    // The first file alone: the lists take one file at once, and it can be shown.
    if (!filesReady({toHandOver_.front()}, true)) return;
    toHandOver_.erase(toHandOver_.begin());
    handedFirst_ = true;
    lastHandOver_ = t;
    if (!now || toHandOver_.empty()) return;
  }
  if (!filesReady(toHandOver_, false)) return;
  toHandOver_.clear();
  lastHandOver_ = t;
}

void PacsWindow::Poll() {
  if (!worker_.joinable()) {
    // The retrieve is over; files the lists could not take yet are offered again.
    HandOver(true);
    if (toHandOver_.empty()) timer_->stop();
    return;
  }
  std::vector<pacs::Answer> studies;
  std::vector<std::pair<std::string, pacs::Answer>> series;
  std::vector<std::string> arrived;
  bool seriesEnded = false;
  std::vector<pacs::RetrieveRequest> failed;
  pacs::Progress p;
  int stored = 0;
  bool done = false;
  {
    std::lock_guard<std::mutex> l(shared_->m);
    studies.swap(shared_->studies);
    series.swap(shared_->series);
    arrived.swap(shared_->arrived);
    seriesEnded = shared_->seriesEnded;
    shared_->seriesEnded = false;
    failed.swap(shared_->failed);
    p = shared_->progress;
    stored = shared_->stored;
    done = shared_->done;
  }
  for (const pacs::Answer& a : studies) {
    auto* item = new QTreeWidgetItem(results_);
    item->setText(0, FromSjis(pacs::ValueOf(a, 0x0010, 0x0010)));
    item->setText(1, FromSjis(pacs::ValueOf(a, 0x0010, 0x0020)));
    item->setText(2, FromSjis(pacs::ValueOf(a, 0x0008, 0x0020)));
    item->setText(3, FromSjis(pacs::ValueOf(a, 0x0008, 0x0061)));
    item->setText(4, FromSjis(pacs::ValueOf(a, 0x0008, 0x1030)));
    item->setText(5, FromSjis(pacs::ValueOf(a, 0x0020, 0x1208)));
    item->setData(0, kUidRole, QString::fromStdString(pacs::ValueOf(a, 0x0020, 0x000D)));
  }
  for (const auto& [study, a] : series) {
    for (int i = 0; i < results_->topLevelItemCount(); ++i) {
      QTreeWidgetItem* top = results_->topLevelItem(i);
      if (top->data(0, kUidRole).toString().toStdString() != study) continue;
      auto* item = new QTreeWidgetItem(top);
      item->setText(0, FromSjis(pacs::ValueOf(a, 0x0020, 0x0011)) + " " + FromSjis(pacs::ValueOf(a, 0x0008, 0x103E)));
      item->setText(3, FromSjis(pacs::ValueOf(a, 0x0008, 0x0060)));
      item->setText(5, FromSjis(pacs::ValueOf(a, 0x0020, 0x1209)));
      item->setData(0, kUidRole, QString::fromStdString(pacs::ValueOf(a, 0x0020, 0x000E)));
      item->setData(0, kStudyRole, QString::fromStdString(study));
      top->setExpanded(true);
      break;
    }
  }
  for (const pacs::RetrieveRequest& f : failed) {
    auto* item = new QListWidgetItem(QString::fromStdString(f.sopInstanceUid), failures_);
    item->setData(kUidRole, QStringList{QString::fromStdString(f.studyUid), QString::fromStdString(f.seriesUid),
                                        QString::fromStdString(f.sopInstanceUid)});
  }
  if (p.completed + p.remaining + p.failed > 0) {
    progress_->setRange(0, p.completed + p.remaining + p.failed);
    progress_->setValue(p.completed + p.failed);
  }
  if (stored > 0 && !done) status_->setText(U("取得中... %1 件").arg(stored));
  toHandOver_.insert(toHandOver_.end(), arrived.begin(), arrived.end());
  HandOver(seriesEnded || done);
  if (done) Finish();
}

void PacsWindow::Finish() {
  if (toHandOver_.empty()) timer_->stop();
  if (worker_.joinable()) worker_.join();
  std::string error, summary;
  {
    std::lock_guard<std::mutex> l(shared_->m);
    error = shared_->error;
    summary = shared_->summary;
    shared_->transport.reset();
  }
  searchButton_->setEnabled(true);
  retrieveButton_->setEnabled(true);
  retryButton_->setEnabled(true);
  stopButton_->setEnabled(false);
  if (progress_->maximum() == 0) progress_->setRange(0, 1);
  if (!error.empty()) status_->setText(FromSjis(error));
  else status_->setText(U("完了 (%1 件)").arg(QString::fromStdString(summary)));
}

}  // namespace velmo::ui
