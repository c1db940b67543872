#include "browser/ui/file_list.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include "browser/study_tree.h"
#include "base/text.h"

namespace velmo::ui {

std::vector<FileListRow> RowsOfTree(const StudyTree& tree) {
  std::vector<FileListRow> rows(static_cast<size_t>(tree.RowCount()));
  for (int r = 0; r < tree.RowCount(); ++r) {
    FileListRow& row = rows[static_cast<size_t>(r)];
    for (int c = 0; c < kFileListColumns; ++c) {
      const std::string text = tree.CellText(r, c);
      if (text.empty()) continue;
      // The path column is a native path (UTF-8 bytes); every other cell is Shift-JIS.
      row[static_cast<size_t>(c)] = QString::fromStdString(c == kColFileName ? text : Utf8FromSjis(text));
    }
  }
  return rows;
}

// ---- model ----

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {
  for (int c = 0; c < kFileListColumns; ++c)
    titles_[static_cast<size_t>(c)] = QString::fromStdString(Utf8FromSjis(ListColumnTitle(c)));
}

void FileListModel::SetRows(std::vector<FileListRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kFileListColumns; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  if (index.row() < 0 || static_cast<size_t>(index.row()) >= rows_.size()) return {};
  return rows_[static_cast<size_t>(index.row())][static_cast<size_t>(index.column())];
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kFileListColumns) return {};
  if (role == Qt::DisplayRole) return titles_[static_cast<size_t>(section)];
  return {};
}

// ---- view ----

FileList::FileList(QWidget* parent) : QTreeView(parent), model_(new FileListModel(this)) {
  setObjectName("1002");
  setModel(model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragEnabled(false);
  setAcceptDrops(false);
  setTextElideMode(Qt::ElideRight);
  setSortingEnabled(false);
  QHeaderView* h = header();
  h->setSectionsMovable(false);
  h->setSectionsClickable(true);
  h->setStretchLastSection(false);
  h->setSortIndicatorShown(false);
  h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int c = 0; c < kFileListColumns; ++c) h->resizeSection(c, ListColumnWidth(c));
  connect(h, &QHeaderView::sectionClicked, this, [this](int logical) { emit columnClicked(logical); });
  QPalette pal = viewport()->palette();
  pal.setColor(QPalette::Base, Qt::white);
  viewport()->setPalette(pal);
}

void FileList::SetRows(std::vector<FileListRow> rows) {
  pressedRow_ = -1;
  pressActive_ = false;
  // The model reset drops the selection without a notification, so no pane changes.
  model_->SetRows(std::move(rows));
  viewport()->update();
}

int FileList::RowCount() const { return model_->rowCount(); }

QString FileList::CellText(int row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= kFileListColumns) return {};
  return model_->Row(row)[static_cast<size_t>(column)];
}

int FileList::SelectedRow() const {
  if (selectionModel() == nullptr) return -1;
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void FileList::SelectRow(int row) {
  programSelection_ = true;
  if (row < 0 || row >= RowCount()) {
    selectionModel()->clear();
  } else {
    const QModelIndex index = model_->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
  }
  programSelection_ = false;
}

int FileList::TakeRowDrop() {
  const int row = pressedRow_;
  if (row < 0 || row >= RowCount()) return -1;
  rememberedButton_ = 0;
  showOnSelect_ = false;
  pressActive_ = false;
  SelectRow(row);
  setFocus(Qt::OtherFocusReason);
  pressedRow_ = -1;  // already cleared when the selection changed; not when the row was selected before
  viewport()->update();
  return row;
}

QRect FileList::RowRect(int row) const {
  if (row < 0 || row >= RowCount()) return {};
  const QRect cell = visualRect(model_->index(row, 0));
  const int left = header()->sectionViewportPosition(0);
  return QRect(left, cell.y(), std::max(header()->length(), 1), cell.height());
}

void FileList::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int row = index.row();
  QColor background = isEnabled() ? QColor(Qt::white) : palette().color(QPalette::Button);
  if (row == pressedRow_) background = kPressedColour;
  if (selectionModel() != nullptr && selectionModel()->isRowSelected(row, QModelIndex())) background = kSelectedColour;

  const QHeaderView* h = header();
  const QRect rowRect(h->sectionViewportPosition(0), option.rect.y(), h->length(), option.rect.height());
  painter->save();
  painter->fillRect(rowRect, background);
  painter->setPen(Qt::black);
  const QFontMetrics metrics(font());
  const FileListRow& cells = model_->Row(row);
  for (int c = 0; c < kFileListColumns; ++c) {
    if (h->isSectionHidden(c)) continue;
    const QString& text = cells[static_cast<size_t>(c)];
    if (text.isEmpty()) continue;
    // The cell less 4 pixels on each side; one line, cut with an ellipsis when it
    // does not fit; the modality column is centred.
    const QRect cell(h->sectionViewportPosition(c) + 4, option.rect.y(), h->sectionSize(c) - 8, option.rect.height());
    if (cell.width() <= 0) continue;
    const QString shown = metrics.elidedText(text, Qt::ElideRight, cell.width());
    const int align = (c == kColModality ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine;
    painter->drawText(cell, align, shown);
  }
  painter->restore();
}

void FileList::PressRow(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
  setFocus(Qt::MouseFocusReason);
  const QPoint pos = event->position().toPoint();
  const QModelIndex index = indexAt(pos);
  if (!index.isValid()) {
    // A press beside the rows only forgets the pressed row.
    pressedRow_ = -1;
    pressActive_ = false;
    viewport()->update();
    return;
  }
  pressedRow_ = index.row();
  rememberedButton_ = event->button() == Qt::LeftButton ? 1 : 2;
  showOnSelect_ = true;
  // The row drag starts once the mouse leaves the pressed row; until then (or when
  // the button comes up first) this is a plain press that selects on release.
  pressActive_ = true;
  pressRect_ = RowRect(pressedRow_);
  viewport()->update();
}

void FileList::mousePressEvent(QMouseEvent* event) { PressRow(event); }

void FileList::mouseDoubleClickEvent(QMouseEvent* event) { PressRow(event); }

void FileList::mouseMoveEvent(QMouseEvent* event) {
  if (!pressActive_ || pressedRow_ < 0) return;
  if (!(event->buttons() & (Qt::LeftButton | Qt::RightButton))) return;
  if (pressRect_.contains(event->position().toPoint())) return;
  pressActive_ = false;
  StartRowDrag();
}

void FileList::mouseReleaseEvent(QMouseEvent* event) {
  if (!pressActive_) return;
  pressActive_ = false;
  SelectPressedRow();
}

void FileList::SelectPressedRow() {
  if (pressedRow_ < 0 || pressedRow_ >= RowCount()) return;
  const QModelIndex index = model_->index(pressedRow_, 0);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  viewport()->update();
}

void FileList::StartRowDrag() {
  const int row = pressedRow_;
  emit rowDragStarting(row);
  viewport()->update();
  const QString text = QString::number(row);
  QApplication::clipboard()->setText(text);
  auto* mime = new QMimeData;
  mime->setText(text);
  auto* drag = new QDrag(this);
  drag->setMimeData(mime);
  drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
  // A drop on a pane took the row (TakeRowDrop forgot it). Anywhere else the drag was
  // an ordinary press: the row is selected and shown in the pane of its button.
  if (pressedRow_ == row) SelectPressedRow();
}

void FileList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) showOnSelect_ = true;
  QTreeView::keyPressEvent(event);
}

void FileList::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  QTreeView::selectionChanged(selected, deselected);
  if (selected.isEmpty()) return;
  const int row = selected.indexes().first().row();
  if (!selectionModel()->currentIndex().isValid() || selectionModel()->currentIndex().row() != row) return;
  pressedRow_ = -1;
  const int pane = rememberedButton_;
  rememberedButton_ = 0;
  const bool show = showOnSelect_ && !programSelection_;
  showOnSelect_ = false;
  viewport()->update();
  emit rowSelected(row, pane, show);
}

void FileList::changeEvent(QEvent* event) {
  QTreeView::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) viewport()->update();
}

}  // namespace velmo::ui
