#include "render/ui/overlay_settings_dialogs.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/file_io.h"
#include "base/install.h"
#include "base/text.h"
#include "dicom/person_name.h"

namespace velmo::ui {

namespace {

QString Q(std::string_view sjis) { return QString::fromStdString(Utf8FromSjis(sjis)); }
QString U(const char* utf8) { return QString::fromUtf8(utf8); }
std::string S(const QString& text) { return SjisFromUtf8(text.trimmed().toStdString()); }
// A table cell as Shift-JIS; labels and units keep their spaces ("ID: ").
std::string Cell(const QTableWidget* t, int row, int column, bool trim = true) {
  const QTableWidgetItem* item = t->item(row, column);
  if (!item) return {};
  return trim ? S(item->text()) : SjisFromUtf8(item->text().toStdString());
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QPushButton(U(caption), parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

constexpr int kValueColumns = 3;  // match values shown per Key.csv line

}  // namespace

// ---- dialog 148 ----

OverlayGroupDialog::OverlayGroupDialog(Settings& settings, Notifier& notifier, QWidget* parent)
    : QDialog(parent), settings_(settings), notifier_(notifier) {
  setObjectName("148");
  setWindowTitle(U("ｸﾞﾙｰﾌﾟの設定"));
  groupList = new QListWidget(this);
  groupList->setObjectName("groupList");
  nameEdit = new QLineEdit(this);
  nameEdit->setObjectName("groupName");
  addButton = Button(this, "addGroup", "追加");
  renameButton = Button(this, "renameGroup", "変更");
  deleteButton = Button(this, "deleteGroup", "削除");
  keyTable = new QTableWidget(0, 3 + kValueColumns, this);
  keyTable->setObjectName("keyTable");
  keyTable->setHorizontalHeaderLabels({U("属性"), U("ｸﾞﾙｰﾌﾟ"), U("ｴﾚﾒﾝﾄ"), U("判定値1"), U("判定値2"), U("判定値3")});
  keyTable->verticalHeader()->setVisible(false);
  saveButton = Button(this, "saveKeys", "登録");
  closeButton = Button(this, "close", "閉じる");

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(U("グループ"), this), 0, 0);
  grid->addWidget(groupList, 1, 0, 4, 1);
  grid->addWidget(new QLabel(U("グループ名称"), this), 0, 1);
  grid->addWidget(nameEdit, 1, 1);
  auto* row = new QHBoxLayout;
  row->addWidget(addButton);
  row->addWidget(renameButton);
  row->addWidget(deleteButton);
  grid->addLayout(row, 2, 1);
  grid->addWidget(keyTable, 3, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(saveButton);
  bottom->addWidget(closeButton);
  grid->addLayout(bottom, 5, 0, 1, 2);
  resize(760, 360);

  connect(groupList, &QListWidget::currentRowChanged, this, [this] { ShowKeys(); });
  connect(addButton, &QPushButton::clicked, this, &OverlayGroupDialog::AddGroup);
  connect(renameButton, &QPushButton::clicked, this, &OverlayGroupDialog::RenameGroup);
  connect(deleteButton, &QPushButton::clicked, this, &OverlayGroupDialog::DeleteGroup);
  connect(saveButton, &QPushButton::clicked, this, &OverlayGroupDialog::SaveKeys);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
  FillGroups(0);
}

void OverlayGroupDialog::FillGroups(int select) {
  groupList->clear();
  for (const std::string& g : settings_.groups) groupList->addItem(Q(g));
  groupList->addItem(Q(settings_.otherGroup.empty() ? SJ("その他") : settings_.otherGroup));  // always last
  groupList->setCurrentRow(std::min(select, groupList->count() - 1));
}

int OverlayGroupDialog::SelectedConfigured() const {
  const int row = groupList->currentRow();
  return row >= 0 && row < static_cast<int>(settings_.groups.size()) ? row : -1;
}

void OverlayGroupDialog::ShowKeys() {
  keyTable->setRowCount(0);
  const int g = SelectedConfigured();
  deleteButton->setEnabled(g >= 0);
  renameButton->setEnabled(g >= 0);
  keyTable->setEnabled(g >= 0);
  saveButton->setEnabled(g >= 0);
  if (g < 0) return;
  nameEdit->setText(Q(settings_.groups[static_cast<size_t>(g)]));
  OverlayGroup group;
  std::string bytes;
  if (IsSafeGroupName(settings_.groups[static_cast<size_t>(g)]) &&
      ReadWholeFile(GroupFolder(InstallFolder(), settings_.groups[static_cast<size_t>(g)]) + "Key.csv", &bytes).status ==
          FileReadStatus::kOk)
    ParseKeyFile(bytes, group);
  keyTable->setRowCount(static_cast<int>(group.keys.size()));
  for (int r = 0; r < static_cast<int>(group.keys.size()); ++r) {
    const KeyLine& k = group.keys[static_cast<size_t>(r)];
    const std::string cells[3] = {k.displayName, k.group, k.element};
    for (int c = 0; c < 3; ++c) {
      auto* item = new QTableWidgetItem(Q(cells[c]));
      item->setFlags(item->flags() & ~Qt::ItemIsEditable);
      item->setData(Qt::UserRole, QString::fromStdString(k.field4));
      keyTable->setItem(r, c, item);
    }
    for (int v = 0; v < kValueColumns; ++v)
      keyTable->setItem(r, 3 + v,
                        new QTableWidgetItem(static_cast<size_t>(v) < k.values.size() ? Q(k.values[static_cast<size_t>(v)]) : QString()));
  }
}

// The typed group name in Shift-JIS; "" (refused) when a character has no Shift-JIS form.
static std::string GroupNameOf(const QString& text) {
  bool ok = true;
  std::string name = SjisFromUtf8(text.trimmed().toStdString(), &ok);
  return ok ? name : std::string();
}

void OverlayGroupDialog::AddGroup() {
  const std::string name = GroupNameOf(nameEdit->text());
  const GroupEditResult r = CreateOverlayGroup(InstallFolder(), settings_.groups, settings_.otherGroup, name);
  if (r == GroupEditResult::kRefusedName) {
    notifier_.Show(SJ("警告"), SJ("グループ名称が入力されていません。"), NoticeIcon::Warning);
    return;
  }
  if (r != GroupEditResult::kOk) return;
  Settings::SaveGroups(settings_.groups, settings_.otherGroup);
  FillGroups(static_cast<int>(settings_.groups.size()) - 1);
}

void OverlayGroupDialog::RenameGroup() {
  const int g = SelectedConfigured();
  if (g < 0) return;
  const std::string name = GroupNameOf(nameEdit->text());
  if (name == settings_.groups[static_cast<size_t>(g)]) return;
  const GroupEditResult r =
      RenameOverlayGroup(InstallFolder(), settings_.groups, settings_.otherGroup, static_cast<size_t>(g), name);
  if (r == GroupEditResult::kRefusedName) {
    notifier_.Show(SJ("警告"), SJ("グループ名称が入力されていません。"), NoticeIcon::Warning);
    return;
  }
  if (r != GroupEditResult::kOk) return;
  Settings::SaveGroups(settings_.groups, settings_.otherGroup);
  FillGroups(g);
}

void OverlayGroupDialog::DeleteGroup() {
  const int g = SelectedConfigured();
  if (g < 0) return;
  if (!DeleteOverlayGroup(InstallFolder(), settings_.groups, static_cast<size_t>(g))) return;
  Settings::SaveGroups(settings_.groups, settings_.otherGroup);
  FillGroups(std::max(0, g - 1));
}

bool OverlayGroupDialog::SaveKeys() {
  const int g = SelectedConfigured();
  if (g < 0) return false;
  std::vector<KeyLine> keys;
  bool anyValue = false;
  for (int r = 0; r < keyTable->rowCount(); ++r) {
    KeyLine k;
    k.displayName = Cell(keyTable, r, 0);
    k.group = Cell(keyTable, r, 1);
    k.element = Cell(keyTable, r, 2);
    if (const QTableWidgetItem* item = keyTable->item(r, 0)) k.field4 = item->data(Qt::UserRole).toString().toStdString();
    int last = -1;
    for (int v = 0; v < kValueColumns; ++v)
      if (!Cell(keyTable, r, 3 + v).empty()) last = v;
    for (int v = 0; v <= last; ++v) {
      std::string value(CutSjis(Cell(keyTable, r, 3 + v, false), 127));
      for (char& c : value)
        if (c == ',') c = ' ';  // a comma would split the field
      k.values.push_back(std::move(value));
    }
    anyValue = anyValue || last >= 0;
    keys.push_back(std::move(k));
  }
  if (!anyValue) {
    notifier_.Show(SJ("警告"), SJ("グループ判定値が入力されていません。"), NoticeIcon::Warning);
    return false;
  }
  const std::string& name = settings_.groups[static_cast<size_t>(g)];
  if (!IsSafeGroupName(name)) return false;
  return WriteFileAtomically(GroupFolder(InstallFolder(), name) + "Key.csv", KeyFileText(keys));
}

// ---- dialog 149 ----

namespace {
const char* const kColumns[9] = {"行", "優先度", "ﾚﾍﾞﾙ", "有無", "ﾀｸﾞ(ｸﾞﾙｰﾌﾟ)", "ﾀｸﾞ(ｴﾚﾒﾝﾄ)", "名称", "項目名", "単位"};
// Words shown for the coded columns, by stored value.
const char* const kPriorityWords[3] = {"高", "中", "低"};
const char* const kLevelWords[2] = {"高", "低"};

QString Word(const std::string& value, const char* const* words, int n) {
  for (int i = 0; i < n; ++i)
    if (value == std::to_string(i)) return U(words[i]);
  return QString::fromStdString(value);
}
std::string Code(const QString& text, const char* const* words, int n) {
  for (int i = 0; i < n; ++i)
    if (text.trimmed() == U(words[i])) return std::to_string(i);
  return text.trimmed().toStdString();
}
}  // namespace

OverlayInfoDialog::OverlayInfoDialog(const Settings& settings, Notifier& notifier, QWidget* parent)
    : QDialog(parent), settings_(settings), notifier_(notifier) {
  setObjectName("149");
  setWindowTitle(U("画像情報の設定"));
  groupCombo = new QComboBox(this);
  groupCombo->setObjectName("groupCombo");
  for (const std::string& g : settings.groups) groupCombo->addItem(Q(g));
  groupCombo->addItem(Q(settings.otherGroup.empty() ? SJ("その他") : settings.otherGroup));
  cornerCombo = new QComboBox(this);
  cornerCombo->setObjectName("cornerCombo");
  cornerCombo->addItems({U("左上"), U("右上"), U("左下"), U("右下")});
  itemTable = new QTableWidget(0, 9, this);
  itemTable->setObjectName("itemTable");
  QStringList titles;
  for (const char* t : kColumns) titles << U(t);
  itemTable->setHorizontalHeaderLabels(titles);
  itemTable->verticalHeader()->setVisible(false);
  addRowButton = Button(this, "addRow", "行追加");
  deleteRowButton = Button(this, "deleteRow", "行削除");
  saveButton = Button(this, "saveRows", "登録");
  closeButton = Button(this, "close", "閉じる");
  tagListButton = Button(this, "32790", "DICOMタグ一覧");
  connect(tagListButton, &QPushButton::clicked, this, [this] { ShowTagList(tagList, this); });

  auto* v = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(U("グループ"), this));
  top->addWidget(groupCombo, 1);
  top->addWidget(new QLabel(U("位置"), this));
  top->addWidget(cornerCombo);
  v->addLayout(top);
  v->addWidget(itemTable, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(addRowButton);
  bottom->addWidget(deleteRowButton);
  bottom->addWidget(tagListButton);
  bottom->addStretch(1);
  bottom->addWidget(saveButton);
  bottom->addWidget(closeButton);
  v->addLayout(bottom);
  resize(820, 420);

  connect(groupCombo, &QComboBox::currentIndexChanged, this, [this] { Load(); });
  connect(cornerCombo, &QComboBox::currentIndexChanged, this, [this] { Load(); });
  connect(addRowButton, &QPushButton::clicked, this, [this] {
    const int r = itemTable->rowCount();
    itemTable->insertRow(r);
    const QString defaults[4] = {QString::number(r), U("高"), U("高"), U("有効")};
    for (int c = 0; c < 4; ++c) itemTable->setItem(r, c, new QTableWidgetItem(defaults[c]));
  });
  connect(deleteRowButton, &QPushButton::clicked, this, [this] {
    if (itemTable->currentRow() >= 0) itemTable->removeRow(itemTable->currentRow());
  });
  connect(saveButton, &QPushButton::clicked, this, &OverlayInfoDialog::SaveRows);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
  Load();
}

std::string OverlayInfoDialog::CurrentPath() const {
  const int g = groupCombo->currentIndex();
  const std::string name = g >= 0 && g < static_cast<int>(settings_.groups.size()) ? settings_.groups[static_cast<size_t>(g)]
                                                                                  : settings_.otherGroup;
  if (!IsSafeGroupName(name)) return {};
  return GroupFolder(InstallFolder(), name) + CornerFileName(cornerCombo->currentIndex());
}

void OverlayInfoDialog::Load() {
  itemTable->setRowCount(0);
  const std::string path = CurrentPath();
  std::string bytes;
  if (path.empty() || ReadWholeFile(path, &bytes).status != FileReadStatus::kOk) return;
  const std::vector<CornerFileRow> rows = ParseCornerRows(bytes);
  itemTable->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const CornerFileRow& x = rows[static_cast<size_t>(r)];
    const QString cells[9] = {Q(x.line),  Word(x.priority, kPriorityWords, 3), Word(x.level, kLevelWords, 2),
                              x.enabled == "1" ? U("有効") : x.enabled == "0" ? U("無効") : Q(x.enabled),
                              Q(x.group), Q(x.element), Q(x.name), Q(x.label), Q(x.unit)};
    for (int c = 0; c < 9; ++c) itemTable->setItem(r, c, new QTableWidgetItem(cells[c]));
  }
}

bool OverlayInfoDialog::SaveRows() {
  std::vector<CornerFileRow> rows;
  for (int r = 0; r < itemTable->rowCount(); ++r) {
    CornerFileRow x;
    x.line = Cell(itemTable, r, 0);
    x.priority = Code(itemTable->item(r, 1) ? itemTable->item(r, 1)->text() : QString(), kPriorityWords, 3);
    x.level = Code(itemTable->item(r, 2) ? itemTable->item(r, 2)->text() : QString(), kLevelWords, 2);
    const QString enabled = itemTable->item(r, 3) ? itemTable->item(r, 3)->text().trimmed() : QString();
    x.enabled = enabled == U("有効") ? "1" : enabled == U("無効") ? "0" : enabled.toStdString();
    x.group = Cell(itemTable, r, 4);
    x.element = Cell(itemTable, r, 5);
    x.name = Cell(itemTable, r, 6);
    x.label = CutSjis(Cell(itemTable, r, 7, false), 31);
    x.unit = CutSjis(Cell(itemTable, r, 8, false), 7);
    if (x.name.empty() || x.group.empty() || x.element.empty()) {
      notifier_.Show(SJ("警告"), SJ("必須項目(名称、タグ番号)が入力されていません。"), NoticeIcon::Warning);
      return false;
    }
    // Commas would split the fields of the file.
    for (std::string* s : {&x.line, &x.priority, &x.level, &x.enabled, &x.group, &x.element, &x.name, &x.label, &x.unit})
      for (char& c : *s)
        if (c == ',') c = ' ';
    rows.push_back(std::move(x));
  }
  const std::string path = CurrentPath();
  if (path.empty()) return false;
  return WriteFileAtomically(path, CornerRowsText(rows));
}

}  // namespace velmo::ui
