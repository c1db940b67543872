// The preset dialog: list, add/edit/move/delete, and "登録" writing Config/Preset.csv.
#include "render/ui/preset_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/log.h"
#include "base/notifier.h"
#include "base/numbers.h"
#include "base/text.h"
#include "base/ui/qt_text.h"

namespace velmo::ui {

namespace {


QPushButton* MakeButton(const char* id, const char* caption, QWidget* parent) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setObjectName(QString::fromLatin1(id));
  b->setAutoDefault(false);
  return b;
}

}  // namespace

PresetDialog::PresetDialog(std::string path, const Log& log, Notifier* notifier, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), log_(log), notifier_(notifier) {
  setObjectName(QStringLiteral("138"));
  setWindowTitle(QString::fromUtf8("Level、Widthのプリセット設定"));

  list = new QTableWidget(0, 3, this);
  list->setObjectName(QStringLiteral("1174"));
  list->setHorizontalHeaderLabels({QString::fromUtf8("名称"), QStringLiteral("Level"), QStringLiteral("Width")});
  list->setColumnWidth(0, 120);
  list->setColumnWidth(1, 65);
  list->setColumnWidth(2, 65);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setShowGrid(true);
  list->verticalHeader()->setVisible(false);
  list->horizontalHeader()->setStretchLastSection(false);

  addButton = MakeButton("1175", "追加", this);
  editButton = MakeButton("1176", "編集", this);
  upButton = MakeButton("1177", "↑", this);
  downButton = MakeButton("1178", "↓", this);
  deleteButton = MakeButton("1179", "削除", this);
  nameEdit = new QLineEdit(this);
  nameEdit->setObjectName(QStringLiteral("1180"));
  nameEdit->setMaxLength(static_cast<int>(kPresetNameBytes));
  levelEdit = new QLineEdit(this);
  levelEdit->setObjectName(QStringLiteral("1181"));
  levelEdit->setMaxLength(static_cast<int>(kPresetNumberBytes));
  widthEdit = new QLineEdit(this);
  widthEdit->setObjectName(QStringLiteral("1182"));
  widthEdit->setMaxLength(static_cast<int>(kPresetNumberBytes));
  okButton = MakeButton("1183", "OK", this);
  cancelEditButton = MakeButton("1184", "ｷｬﾝｾﾙ", this);
  registerButton = MakeButton("1", "登録", this);
  closeButton = MakeButton("2", "ｷｬﾝｾﾙ", this);

  auto* listButtons = new QVBoxLayout;
  for (QPushButton* b : {addButton, editButton, upButton, downButton, deleteButton}) listButtons->addWidget(b);
  listButtons->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(list, 1);
  top->addLayout(listButtons);
  auto* edits = new QHBoxLayout;
  edits->addWidget(nameEdit, 3);
  edits->addWidget(levelEdit, 1);
  edits->addWidget(widthEdit, 1);
  edits->addWidget(okButton);
  edits->addWidget(cancelEditButton);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(registerButton);
  bottom->addWidget(closeButton);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top, 1);
  all->addLayout(edits);
  all->addLayout(bottom);
  resize(400, 330);

  connect(list, &QTableWidget::itemSelectionChanged, this, &PresetDialog::OnSelectionChanged);
  connect(addButton, &QPushButton::clicked, this, [this] { BeginEdit(Mode::kAdd); });
  connect(editButton, &QPushButton::clicked, this, [this] { BeginEdit(Mode::kEdit); });
  connect(upButton, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
  connect(downButton, &QPushButton::clicked, this, [this] { MoveSelected(+1); });
  connect(deleteButton, &QPushButton::clicked, this, &PresetDialog::DeleteSelected);
  connect(okButton, &QPushButton::clicked, this, &PresetDialog::CommitEdit);
  connect(cancelEditButton, &QPushButton::clicked, this, &PresetDialog::EndEdit);
  connect(registerButton, &QPushButton::clicked, this, &PresetDialog::Register);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);

  ReadPresetFile(path_, &rows_, log_, notifier_, false);
  FillList(-1);
  EndEdit();
}

int PresetDialog::selectedRow() const {
  const QList<QTableWidgetItem*> items = list->selectedItems();
  return items.isEmpty() ? -1 : items.front()->row();
}

void PresetDialog::FillList(int select) {
  QSignalBlocker block(list);
  list->clearContents();
  list->setRowCount(static_cast<int>(rows_.size()));
  for (size_t i = 0; i < rows_.size(); ++i) {
    const int r = static_cast<int>(i);
    list->setItem(r, 0, new QTableWidgetItem(FromSjis(rows_[i].name)));
    list->setItem(r, 1, new QTableWidgetItem(FromSjis(rows_[i].level)));
    list->setItem(r, 2, new QTableWidgetItem(FromSjis(rows_[i].width)));
  }
  list->clearSelection();
  if (select >= 0 && select < list->rowCount()) {
    list->selectRow(select);
    list->scrollToItem(list->item(select, 0));
  }
  block.unblock();
  OnSelectionChanged();
}

void PresetDialog::OnSelectionChanged() {
  const int row = selectedRow();
  const bool has = row >= 0 && mode_ == Mode::kNone;
  for (QPushButton* b : {editButton, upButton, downButton, deleteButton}) b->setEnabled(has);
  if (row >= 0 && static_cast<size_t>(row) < rows_.size() && mode_ == Mode::kNone) {
    nameEdit->setText(FromSjis(rows_[static_cast<size_t>(row)].name));
    levelEdit->setText(FromSjis(rows_[static_cast<size_t>(row)].level));
    widthEdit->setText(FromSjis(rows_[static_cast<size_t>(row)].width));
  }
}

void PresetDialog::BeginEdit(Mode mode) {
  mode_ = mode;
  if (mode == Mode::kAdd) {
    nameEdit->clear();
    levelEdit->clear();
    widthEdit->clear();
  }
  list->setEnabled(false);
  for (QPushButton* b : {addButton, editButton, upButton, downButton, deleteButton}) b->setEnabled(false);
  for (QWidget* w : std::initializer_list<QWidget*>{nameEdit, levelEdit, widthEdit, okButton, cancelEditButton})
    w->setEnabled(true);
  nameEdit->setFocus();
}

void PresetDialog::EndEdit() {
  mode_ = Mode::kNone;
  list->setEnabled(true);
  addButton->setEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{nameEdit, levelEdit, widthEdit, okButton, cancelEditButton})
    w->setEnabled(false);
  OnSelectionChanged();
}

void PresetDialog::Warn(const char* utf8) {
  if (notifier_) notifier_->Show(SJ("警告"), SjisFromUtf8(utf8), NoticeIcon::Warning);
}

void PresetDialog::CommitEdit() {
  if (nameEdit->text().isEmpty()) return Warn("名称が入力されていません。");
  if (levelEdit->text().isEmpty()) return Warn("Levelが入力されていません。");
  if (widthEdit->text().isEmpty()) return Warn("Widthが入力されていません。");
  const PresetRow row = PresetRowFromTyped(ToSjis(nameEdit->text()), ToSjis(levelEdit->text()), ToSjis(widthEdit->text()));
  const int selected = selectedRow();
  int at = -1;
  if (mode_ == Mode::kAdd) {
    at = selected >= 0 ? selected : static_cast<int>(rows_.size());
    rows_.insert(rows_.begin() + at, row);
  } else if (mode_ == Mode::kEdit && selected >= 0) {
    at = selected;
    rows_[static_cast<size_t>(at)] = row;
  }
  mode_ = Mode::kNone;
  FillList(at >= 0 ? at : selected);
  EndEdit();
}

void PresetDialog::MoveSelected(int step) {
  const int row = selectedRow();
  const int to = row + step;
  if (row < 0 || to < 0 || to >= static_cast<int>(rows_.size())) return;
  std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(to)]);
  FillList(to);
}

void PresetDialog::DeleteSelected() {
  const int row = selectedRow();
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  rows_.erase(rows_.begin() + row);
  FillList(-1);
}

void PresetDialog::Register() {
  // A failed write keeps the old file whole (temporary file + rename); the dialog
  // stays open so the rows are not lost.
  if (!WritePresetFile(path_, rows_, log_)) {
    const std::string msg = Format(SJ("設定ファイル(%s)への書き込みに失敗しました"), SjisFromUtf8(path_));
    log_.Write(msg, kLogError, 1);
    if (notifier_) notifier_->Show(SJ("エラー"), msg, NoticeIcon::Error);
    return;
  }
  accept();
}

}  // namespace velmo::ui
