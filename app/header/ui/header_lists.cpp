#include "header/ui/header_lists.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QToolButton>
#include <QTreeWidget>

#include "base/file_io.h"
#include "base/install.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo::ui {

namespace {

QString Q(std::string_view sjis) { return QString::fromStdString(Utf8FromSjis(sjis)); }

// Text cut to `width` bytes without splitting a double-byte character.
std::string Cut(std::string_view s, size_t width) {
  if (s.size() <= width) return std::string(s);
  size_t i = 0;
  while (i < width) {
    const size_t step = IsSjisLeadByte(static_cast<uint8_t>(s[i])) ? 2 : 1;
    if (i + step > width) break;
    i += step;
  }
  return std::string(s.substr(0, i));
}

}  // namespace

HeaderLists::HeaderLists(HeaderListsHost host, QObject* parent) : QObject(parent), host_(std::move(host)) {
  dictionariesLoaded_ = LoadDictionaries(InstallFolder(), dict_, *host_.log, host_.notifier);

  menu_ = new QMenu(host_.window);
  menu_->setObjectName("143");
  copyValueAction = menu_->addAction(QString::fromUtf8("値のｺﾋﾟｰ"));
  copyValueAction->setObjectName("32795");
  editTagAction = menu_->addAction(QString::fromUtf8("ﾀｸﾞの編集"));
  editTagAction->setObjectName("32793");
  addTagAction = menu_->addAction(QString::fromUtf8("ﾀｸﾞの追加"));
  addTagAction->setObjectName("32796");
  deleteTagAction = menu_->addAction(QString::fromUtf8("ﾀｸﾞの削除"));
  deleteTagAction->setObjectName("32797");
  for (QAction* a : {editTagAction, addTagAction, deleteTagAction}) a->setEnabled(false);
  connect(copyValueAction, &QAction::triggered, this, [this] { CopySelectedValue(menuPane_); });

  for (int pane = 1; pane <= 2; ++pane) {
    QTreeWidget* l = list(pane);
    if (!l) continue;
    l->setColumnCount(7);
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    l->setSelectionBehavior(QAbstractItemView::SelectRows);
    l->setAllColumnsShowFocus(true);
    l->setContextMenuPolicy(Qt::CustomContextMenu);
    l->header()->setStretchLastSection(false);
    SetTitles(pane);
    connect(l, &QTreeWidget::itemSelectionChanged, this, [this, pane] { OnSelectionChanged(pane); });
    connect(l, &QTreeWidget::itemClicked, this, [this, pane](QTreeWidgetItem* item, int) { OnItemClicked(pane, item); });
    connect(l, &QWidget::customContextMenuRequested, this, [this, pane](const QPoint& p) { OnContextMenu(pane, p); });
  }
  auto wire = [this](QToolButton* japanese, QToolButton* englishButton, QToolButton* binaryButton, QToolButton* copy,
                     QToolButton* save, int pane) {
    if (japanese) {
      japanese->setChecked(true);
      connect(japanese, &QToolButton::clicked, this, [this, pane] { SetEnglish(pane, false); });
    }
    if (englishButton) connect(englishButton, &QToolButton::clicked, this, [this, pane] { SetEnglish(pane, true); });
    if (binaryButton)
      connect(binaryButton, &QToolButton::clicked, this, [this, pane](bool on) { SetBinary(pane, on); });
    if (copy) connect(copy, &QToolButton::clicked, this, [this, pane] { CopySelectedValue(pane); });
    if (save) connect(save, &QToolButton::clicked, this, [this, pane] { SaveText(pane); });
  };
  for (int i = 0; i < 2; ++i)
    wire(host_.japanese[i], host_.english[i], host_.binary[i], host_.copyValue[i], host_.saveText[i], i + 1);
}

HeaderLists::~HeaderLists() { FreeDictionaries(dict_); }

QTreeWidget* HeaderLists::list(int pane) const { return host_.lists[pane == 2 ? 1 : 0]; }

void HeaderLists::SetTitles(int pane) {
  QTreeWidget* l = list(pane);
  if (!l) return;
  QStringList titles;
  for (int c = 0; c < 7; ++c) titles << Q(HeaderColumnTitle(c, state(pane).english));
  l->setHeaderLabels(titles);
  for (int c = 0; c < 7; ++c) l->setColumnWidth(c, HeaderColumnWidth(c));
}

void HeaderLists::ShowHeader(int pane) {
  QTreeWidget* l = list(pane);
  if (!l) return;
  PaneState& st = state(pane);
  const Log& log = *host_.log;
  log.Write(SJ("DICOMヘッダの表示の開始"), kLogNormal, 2);
  filling_ = true;
  l->setUpdatesEnabled(false);
  l->clear();
  st.rows.clear();
  if (const DicomImage* im = host_.paneImage ? host_.paneImage(pane) : nullptr) {
    HeaderOptions o;
    o.english = st.english;
    o.binary = st.binary;
    o.pane = pane - 1;
    st.rows = BuildHeaderRows(*im, dict_, o, log);
  }
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(st.rows.size()));
  for (const HeaderRow& r : st.rows) {
    auto* item = new QTreeWidgetItem;
    const std::string* cells[7] = {&r.group, &r.element, &r.name, &r.vr, &r.vm, &r.length, &r.value};
    for (int c = 0; c < 7; ++c) item->setText(c, Q(*cells[c]));
    items.push_back(item);
  }
  l->addTopLevelItems(items);
  filling_ = false;
  if (st.rowSelected) {
    st.value.clear();
    bool found = false;
    for (int i = 0; i < l->topLevelItemCount(); ++i) {
      const HeaderRow& r = st.rows[static_cast<size_t>(i)];
      if (r.group == st.group && r.element == st.element) {
        QTreeWidgetItem* item = l->topLevelItem(i);
        l->setCurrentItem(item);
        item->setSelected(true);
        l->scrollToItem(item);
        OnSelectionChanged(pane);  // publishes the value again
        found = true;
        break;
      }
    }
    (void)found;
  }
  l->setUpdatesEnabled(true);
  l->viewport()->update();
  log.Write(SJ("DICOMヘッダの表示の終了"), kLogNormal, 2);
}

void HeaderLists::OnSelectionChanged(int pane) {
  if (filling_) return;
  QTreeWidget* l = list(pane);
  const QList<QTreeWidgetItem*> selected = l->selectedItems();
  if (selected.isEmpty()) return;
  const int index = l->indexOfTopLevelItem(selected.front());
  PaneState& st = state(pane);
  if (index < 0 || static_cast<size_t>(index) >= st.rows.size()) return;
  const HeaderRow& r = st.rows[static_cast<size_t>(index)];
  st.rowSelected = true;
  st.group = r.group;
  st.element = r.element;
  st.name = Cut(r.name, 127);
  st.caption = Cut("( " + r.group + "," + r.element + " ) " + st.name, 147);
  st.value = Cut(r.value, 192);
  if (host_.repaintPane) host_.repaintPane(pane);
}

void HeaderLists::ClearSelection(int pane) {
  PaneState& st = state(pane);
  st.rowSelected = false;
  st.group.clear();
  st.element.clear();
  st.name.clear();
  st.caption.clear();
  st.value.clear();
  filling_ = true;
  list(pane)->clearSelection();
  filling_ = false;
  if (host_.repaintPane) host_.repaintPane(pane);
}

void HeaderLists::OnItemClicked(int pane, QTreeWidgetItem* item) {
  QTreeWidget* l = list(pane);
  PaneState& st = state(pane);
  const int index = l->indexOfTopLevelItem(item);
  if (index < 0 || static_cast<size_t>(index) >= st.rows.size()) return;
  const HeaderRow& r = st.rows[static_cast<size_t>(index)];
  // A second click on the selected row deselects it; a third selects it again.
  if (r.group == st.previousGroup && r.element == st.previousElement && st.rowSelected) ClearSelection(pane);
  st.previousGroup = st.group;
  st.previousElement = st.element;
}

void HeaderLists::OnContextMenu(int pane, const QPoint& pos) {
  QTreeWidget* l = list(pane);
  if (l->topLevelItemCount() == 0) return;
  menuPane_ = pane;
  menu_->popup(l->viewport()->mapToGlobal(pos));
}

void HeaderLists::CopySelectedValue(int pane) {
  QApplication::clipboard()->setText(Q(state(pane).value));
}

void HeaderLists::SetEnglish(int pane, bool englishNames) {
  QToolButton* ja = host_.japanese[pane == 2 ? 1 : 0];
  QToolButton* en = host_.english[pane == 2 ? 1 : 0];
  if (ja) ja->setEnabled(false);
  if (en) en->setEnabled(false);
  state(pane).english = englishNames;
  SetTitles(pane);
  if (ja) ja->setChecked(!englishNames);
  if (en) en->setChecked(englishNames);
  if (host_.paneImage && host_.paneImage(pane)) ShowHeader(pane);
  if (ja) ja->setEnabled(true);
  if (en) en->setEnabled(true);
}

void HeaderLists::SetBinary(int pane, bool on) {
  state(pane).binary = on;
  QToolButton* b = host_.binary[pane == 2 ? 1 : 0];
  if (b) b->setChecked(on);
  if (host_.paneImage && host_.paneImage(pane)) ShowHeader(pane);
}

bool HeaderLists::WriteText(int pane, const std::string& path) {
  const std::string text = HeaderText(state(pane).rows, state(pane).english);
  if (!WriteFileAtomically(path, text)) {
    host_.log->Write(Format(SJ("テキストファイル(%s)の保存に失敗しました"), SjisFromUtf8(path)), kLogError, 1);
    return false;
  }
  return true;
}

void HeaderLists::SaveText(int pane) {
  const DicomImage* im = host_.paneImage ? host_.paneImage(pane) : nullptr;
  if (!im) return;
  std::string id(im->patientId.view());
  while (!id.empty() && (id.back() == ' ' || id.back() == '\0')) id.pop_back();
  const QString initial = Q(id);
  QString path;
  if (saveFileNameOverride) {
    path = saveFileNameOverride(pane, initial);
  } else {
    path = QFileDialog::getSaveFileName(host_.window, QString(), initial,
                                        QString::fromUtf8("テキスト (*.txt);;All Files (*.*)"));
  }
  if (path.isEmpty()) return;
  WriteText(pane, path.toStdString());
}

}  // namespace velmo::ui
