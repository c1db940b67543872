#include "header/ui/tag_list_window.h"

#include <QHeaderView>
#include <algorithm>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTreeWidget>

#include "base/file_io.h"
#include "base/install.h"
#include "base/text.h"

namespace velmo::ui {
namespace {

QString Q(std::string_view sjis) { return QString::fromStdString(Utf8FromSjis(sjis)); }
constexpr int kStrip = 24;  // height of the search strip above the list

}  // namespace

std::vector<std::array<std::string, 5>> TagListRows(const std::string& bytes) {
  std::vector<std::array<std::string, 5>> rows;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find("\r\n", pos);
    const size_t next = end == std::string::npos ? bytes.size() : end + 2;
    if (end == std::string::npos) end = bytes.size();
    const std::string_view line(bytes.data() + pos, end - pos);
    pos = next;
    if (line.empty()) continue;
    std::array<std::string, 5> row;
    bool inserted = false;
    size_t field = 0, start = 0;
    while (true) {
      const size_t comma = line.find(',', start);
      const std::string_view text = line.substr(start, comma == std::string_view::npos ? line.npos : comma - start);
      if (field == 0) {
        row[0].assign(text);
      } else if (field == 1) {
        row[0] += ",";
        row[0] += text;
        inserted = true;
      } else if (field <= 5) {
        row[field - 1].assign(text);
      }
      if (comma == std::string_view::npos) break;
      start = comma + 1;
      ++field;
    }
    if (inserted) rows.push_back(std::move(row));
  }
  return rows;
}

TagListWindow::TagListWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName("141");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromUtf8("DICOMﾀｸﾞ一覧"));
  searchEdit = new QLineEdit(this);
  searchEdit->setObjectName("1247");
  searchEdit->setMaxLength(255);
  downButton = new QPushButton(QString::fromUtf8("↓検索"), this);
  downButton->setObjectName("1248");
  upButton = new QPushButton(QString::fromUtf8("↑検索"), this);
  upButton->setObjectName("1249");
  for (QPushButton* b : {downButton, upButton}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  list = new QTreeWidget(this);
  list->setObjectName("1217");
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setUniformRowHeights(true);
  // Grid lines between the cells; the selection keeps the usual highlight colours.
  list->setStyleSheet(
      "QTreeView::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; }"
      "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); }");
  const char* titles[5] = {"ｸﾞﾙｰﾌﾟ,ｴﾚﾒﾝﾄ", "名称(日本語)", "名称(英語)", "値表現(VR)", "値複数度(VM)"};
  const int widths[5] = {110, 150, 150, 90, 110};
  QStringList header;
  for (const char* t : titles) header << QString::fromUtf8(t);
  list->setHeaderLabels(header);
  for (int c = 0; c < 5; ++c) list->setColumnWidth(c, widths[c]);
  connect(downButton, &QPushButton::clicked, this, &TagListWindow::SearchDown);
  connect(upButton, &QPushButton::clicked, this, &TagListWindow::SearchUp);
  // Enter and Escape in the field or the list neither close the window nor press a button.
  searchEdit->installEventFilter(this);
  list->installEventFilter(this);
  resize(640, 420);
}

void TagListWindow::Fill(const std::string& path) {
  list->clear();
  rows_.clear();
  std::string bytes;
  if (ReadWholeFile(path, &bytes).status != FileReadStatus::kOk) return;
  rows_ = TagListRows(bytes);
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows_.size()));
  for (const auto& row : rows_) {
    auto* item = new QTreeWidgetItem;
    for (int c = 0; c < 5; ++c) item->setText(c, Q(row[static_cast<size_t>(c)]));
    items << item;
  }
  list->addTopLevelItems(items);
}

bool TagListWindow::RowMatches(int row, const std::string& text, bool backwards) const {
  const auto& cells = rows_[static_cast<size_t>(row)];
  for (int i = 0; i < 5; ++i) {
    const std::string& cell = cells[static_cast<size_t>(backwards ? 4 - i : i)];
    if (cell.find(text) != std::string::npos) return true;
  }
  return false;
}

void TagListWindow::SelectRow(int row) {
  QTreeWidgetItem* item = list->topLevelItem(row);
  list->setCurrentItem(item);
  item->setSelected(true);
  list->scrollToItem(item);
  list->setFocus(Qt::OtherFocusReason);
}

void TagListWindow::SearchDown() {
  const std::string text = SjisFromUtf8(searchEdit->text().toStdString());
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  const int start = selected.isEmpty() ? 0 : list->indexOfTopLevelItem(selected.first()) + 1;
  for (int row = start; row < static_cast<int>(rows_.size()); ++row)
    if (RowMatches(row, text, false)) return SelectRow(row);
}

void TagListWindow::SearchUp() {
  const std::string text = SjisFromUtf8(searchEdit->text().toStdString());
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) return;
  const int current = list->indexOfTopLevelItem(selected.first());
  // With the first row selected the search tests that row again.
  for (int row = current > 0 ? current - 1 : 0; row >= 0; --row)
    if (RowMatches(row, text, true)) return SelectRow(row);
}

void TagListWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = width(), h = height();
  list->setGeometry(0, kStrip, w, std::max(0, h - kStrip));
  const int button = 70;
  searchEdit->setGeometry(2, 1, std::max(40, w - 2 * button - 8), kStrip - 2);
  downButton->setGeometry(w - 2 * button - 4, 1, button, kStrip - 2);
  upButton->setGeometry(w - button - 2, 1, button, kStrip - 2);
  update();
}

void TagListWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

bool TagListWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
  }
  return QWidget::eventFilter(watched, event);
}

TagListWindow* ShowTagList(QPointer<TagListWindow>& slot, QWidget* owner) {
  if (slot.isNull()) {
    slot = new TagListWindow(owner);
    slot->show();
  } else {
    slot->showNormal();
    slot->raise();
    slot->activateWindow();
  }
  slot->Fill(InstallFolder() + "Config/Tag.csv");
  return slot.data();
}

}  // namespace velmo::ui
