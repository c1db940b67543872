#include "shell/ui/settings_dialog.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/numbers.h"
#include "base/text.h"
#include "base/ui/qt_text.h"
#include "render/ui/pane_view.h"

namespace velmo::ui {

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

const char* const kPositions[5] = {"１位", "２位", "３位", "４位", "５位"};

struct ColourKey {
  const char* key;
  uint32_t Settings::*field;
};
const ColourKey kColourKeys[] = {
    {"選択枠1", &Settings::selectFrame1},     {"選択枠2", &Settings::selectFrame2},
    {"距離", &Settings::distanceColor},        {"心胸郭比", &Settings::ctrColor},
    {"角度", &Settings::angleColor},           {"ピクセル値", &Settings::pixelValueColor},
    {"ROI○", &Settings::roiCircleColor},       {"ROI□", &Settings::roiBoxColor},
    {"スライスライン", &Settings::sliceLineColor}, {"MPR有効", &Settings::mprActiveColor},
    {"MPR", &Settings::mprColor},
};

// Whole numbers within [low, high], written as plain decimal digits.
bool ReadInt(const QString& text, long long low, long long high, int32_t* out) {
  static const QRegularExpression digits("^\\s*[+-]?[0-9]{1,10}\\s*$");
  if (!digits.match(text).hasMatch()) return false;
  const std::string s = text.trimmed().toStdString();
  long long v = 0;
  size_t i = s[0] == '+' || s[0] == '-' ? 1 : 0;
  for (; i < s.size(); ++i) v = v * 10 + (s[i] - '0');
  if (s[0] == '-') v = -v;
  if (v < low || v > high) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

// A colour is decimal text of 0x00BBGGRR: 0 .. 16777215.
bool ReadColour(const QString& text, uint32_t* out) {
  int32_t v = 0;
  if (!ReadInt(text, 0, 0xFFFFFF, &v)) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// A decimal fraction such as "0.2646" (a dot, whatever the user's locale).
bool ReadDecimal(const QString& text, double* out) {
  static const QRegularExpression decimal("^\\s*([0-9]+(\\.[0-9]*)?|\\.[0-9]+)\\s*$");
  if (!decimal.match(text).hasMatch()) return false;
  *out = ParseDouble(text.trimmed().toStdString());
  return *out >= 0 && *out < 1000;
}

void SetSwatch(QToolButton* swatch, uint32_t bgr) {
  QPixmap p(16, 16);
  p.fill(ColorFromBgr(bgr));
  swatch->setIcon(QIcon(p));
}

}  // namespace

SettingsDialog::SettingsDialog(const Settings& current, std::string iniPath, QWidget* parent)
    : QDialog(parent), base_(current), iniPath_(std::move(iniPath)) {
  setObjectName("132");
  setWindowTitle(U("設定"));
  pages = new QTabWidget(this);

  auto page = [this](const char* title) {
    auto* w = new QWidget(pages);
    pages->addTab(w, U(title));
    return w;
  };
  auto edit = [this](QWidget* parent, const QString& id, const std::string& sjis) {
    auto* e = new QLineEdit(FromSjis(sjis), parent);
    e->setObjectName(id);
    edits_[id] = e;
    return e;
  };
  auto combo = [this](QWidget* parent, const QString& id, std::initializer_list<const char*> items,
                      const std::string& sjis) {
    auto* c = new QComboBox(parent);
    c->setObjectName(id);
    for (const char* item : items) c->addItem(U(item));
    const QString value = FromSjis(sjis);
    int i = c->findText(value);
    if (i < 0) {  // an unknown stored value is kept as it stands
      c->addItem(value);
      i = c->count() - 1;
    }
    c->setCurrentIndex(i);
    combos_[id] = c;
    return c;
  };

  // "色設定"
  {
    QWidget* w = page("色設定");
    auto* form = new QFormLayout(w);
    for (const ColourKey& k : kColourKeys) AddColour(form, U("色設定"), k.key, current.*k.field);
  }
  // "画像情報"
  {
    QWidget* w = page("画像情報");
    auto* form = new QFormLayout(w);
    form->addRow(U("サイズ"), edit(w, U("画像情報/サイズ"), Format("%d", current.overlayFontSize)));
    auto* font = new QComboBox(w);
    font->setObjectName(U("画像情報/フォント"));
    font->setEditable(true);
    font->addItems(QFontDatabase::families());
    font->setEditText(FromSjis(current.overlayFont));
    combos_[font->objectName()] = font;
    form->addRow(U("フォント"), font);
    AddColour(form, U("画像情報"), "色", current.overlayColor);
    form->addRow(U("年号"), combo(w, U("画像情報/年号"), {"西暦", "和暦"}, current.era));
  }
  // "外部ソフト"
  {
    QWidget* w = page("外部ソフト");
    auto* grid = new QGridLayout(w);
    for (int i = 0; i < 4; ++i) {
      const QString n = QString::number(i + 1);
      grid->addWidget(new QLabel(U("ボタン名") + n, w), i * 2, 0);
      grid->addWidget(edit(w, U("外部ソフト/ボタン名") + n, current.programNames[i]), i * 2, 1, 1, 2);
      grid->addWidget(new QLabel(U("パス") + n, w), i * 2 + 1, 0);
      QLineEdit* path = edit(w, U("外部ソフト/パス") + n, current.programPaths[i]);
      grid->addWidget(path, i * 2 + 1, 1);
      auto* browse = new QToolButton(w);
      browse->setText("...");
      connect(browse, &QToolButton::clicked, this, [this, path] {
        const QString chosen = QFileDialog::getOpenFileName(this, QString(), path->text());
        if (!chosen.isEmpty()) path->setText(chosen);
      });
      grid->addWidget(browse, i * 2 + 1, 2);
    }
    grid->setRowStretch(8, 1);
  }
  // "ソート" and "昇順降順"
  {
    QWidget* w = page("ソート");
    auto* grid = new QGridLayout(w);
    grid->addWidget(new QLabel(U("ソート"), w), 0, 1);
    grid->addWidget(new QLabel(U("昇順降順"), w), 0, 2);
    for (int i = 0; i < 5; ++i) {
      grid->addWidget(new QLabel(U(kPositions[i]), w), i + 1, 0);
      grid->addWidget(combo(w, U("ソート/") + U(kPositions[i]), {"", "患者ID", "患者名", "検査日", "検査時刻", "モダリティ"},
                            current.sortKeys[i]),
                      i + 1, 1);
      grid->addWidget(combo(w, U("昇順降順/") + U(kPositions[i]), {"昇順", "降順"}, current.sortOrders[i]), i + 1, 2);
    }
    grid->setRowStretch(6, 1);
  }
  // "患者名"
  {
    QWidget* w = page("患者名");
    auto* form = new QFormLayout(w);
    for (int i = 0; i < 3; ++i)
      form->addRow(U(kPositions[i]), combo(w, U("患者名/") + U(kPositions[i]), {"ローマ字", "漢字", "カナ", "なし"},
                                           current.namePriorities[i]));
  }
  // "画像処理", "詳細" and "リスト"
  {
    QWidget* w = page("詳細");
    auto* form = new QFormLayout(w);
    form->addRow(U("拡大方法"), combo(w, U("画像処理/拡大方法"), {"バイリニア", "バイキュービック"}, current.zoomMethod));
    form->addRow("LogLevel", edit(w, U("詳細/LogLevel"), Format("%d", current.logLevel)));
    form->addRow("LogFileCount", edit(w, U("詳細/LogFileCount"), Format("%d", current.logFileCount)));
    form->addRow("DotPitchX", edit(w, U("詳細/DotPitchX"), Format("%g", current.dotPitchX)));
    form->addRow("DotPitchY", edit(w, U("詳細/DotPitchY"), Format("%g", current.dotPitchY)));
    // The file table is allocated at start-up, so a new capacity counts from the next start.
    form->addRow(U("画像一覧の最大数 (次回の起動から)"), edit(w, U("リスト/最大数"), Format("%d", current.listCapacity)));
  }

  saveButton = new QPushButton(U("保存"), this);
  saveButton->setObjectName("1");
  saveButton->setDefault(true);
  cancelButton = new QPushButton(U("ｷｬﾝｾﾙ"), this);
  cancelButton->setObjectName("2");
  connect(saveButton, &QPushButton::clicked, this, [this] { Save(); });
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(saveButton);
  buttons->addWidget(cancelButton);
  auto* v = new QVBoxLayout(this);
  v->addWidget(pages, 1);
  v->addLayout(buttons);
  resize(std::max(sizeHint().width(), 500), sizeHint().height());
}

void SettingsDialog::AddColour(QFormLayout* form, const QString& section, const char* key, uint32_t value) {
  QWidget* parent = form->parentWidget();
  const QString id = section + "/" + U(key);
  auto* row = new QHBoxLayout;
  auto* e = new QLineEdit(QString::number(value), parent);
  e->setObjectName(id);
  e->setMaximumWidth(100);
  edits_[id] = e;
  auto* swatch = new QToolButton(parent);
  swatch->setObjectName(id + "/pick");
  swatch->setToolTip(U("色の選択"));
  SetSwatch(swatch, value);
  connect(e, &QLineEdit::textChanged, swatch, [swatch](const QString& text) {
    uint32_t v = 0;
    if (ReadColour(text, &v)) SetSwatch(swatch, v);
  });
  connect(swatch, &QToolButton::clicked, this, [this, e] {
    uint32_t v = 0;
    ReadColour(e->text(), &v);
    long long chosen = -1;
    if (pickColourOverride) {
      chosen = pickColourOverride(v);
    } else {
      const QColor c = QColorDialog::getColor(ColorFromBgr(v), this);
      if (c.isValid()) chosen = static_cast<long long>(c.red()) | c.green() << 8 | c.blue() << 16;
    }
    if (chosen >= 0) e->setText(QString::number(chosen));
  });
  row->addWidget(e);
  row->addWidget(swatch);
  row->addStretch(1);
  form->addRow(U(key), row);
}

QLineEdit* SettingsDialog::Edit(const char* id) const {
  auto it = edits_.find(U(id));
  return it == edits_.end() ? nullptr : it->second;
}

QComboBox* SettingsDialog::Combo(const char* id) const {
  auto it = combos_.find(U(id));
  return it == combos_.end() ? nullptr : it->second;
}

bool SettingsDialog::Collect(Settings* out, QString* badField) const {
  Settings s = base_;
  auto fail = [&](const QString& id) {
    if (badField) *badField = id;
    return false;
  };
  for (const ColourKey& k : kColourKeys) {
    const QString id = U("色設定/") + U(k.key);
    if (!ReadColour(edits_.at(id)->text(), &(s.*k.field))) return fail(id);
  }
  if (!ReadInt(Edit("画像情報/サイズ")->text(), 1, 999, &s.overlayFontSize)) return fail(U("画像情報/サイズ"));
  s.overlayFont = ToSjis(Combo("画像情報/フォント")->currentText());
  if (!ReadColour(Edit("画像情報/色")->text(), &s.overlayColor)) return fail(U("画像情報/色"));
  s.era = ToSjis(Combo("画像情報/年号")->currentText());
  for (int i = 0; i < 4; ++i) {
    const QString n = QString::number(i + 1);
    s.programNames[i] = ToSjis(edits_.at(U("外部ソフト/ボタン名") + n)->text());
    // A path Shift-JIS cannot hold is not remembered (it could not be found again).
    s.programPaths[i] = SjisOrEmpty(edits_.at(U("外部ソフト/パス") + n)->text().toStdString());
  }
  for (int i = 0; i < 5; ++i) {
    s.sortKeys[i] = ToSjis(combos_.at(U("ソート/") + U(kPositions[i]))->currentText());
    s.sortOrders[i] = ToSjis(combos_.at(U("昇順降順/") + U(kPositions[i]))->currentText());
  }
  for (int i = 0; i < 3; ++i) s.namePriorities[i] = ToSjis(combos_.at(U("患者名/") + U(kPositions[i]))->currentText());
  s.zoomMethod = ToSjis(Combo("画像処理/拡大方法")->currentText());
  if (!ReadInt(Edit("詳細/LogLevel")->text(), 0, 3, &s.logLevel)) return fail(U("詳細/LogLevel"));
  if (!ReadInt(Edit("詳細/LogFileCount")->text(), 0, 999, &s.logFileCount)) return fail(U("詳細/LogFileCount"));
  if (!ReadDecimal(Edit("詳細/DotPitchX")->text(), &s.dotPitchX)) return fail(U("詳細/DotPitchX"));
  if (!ReadDecimal(Edit("詳細/DotPitchY")->text(), &s.dotPitchY)) return fail(U("詳細/DotPitchY"));
  if (!ReadInt(Edit("リスト/最大数")->text(), 1, 1000000, &s.listCapacity)) return fail(U("リスト/最大数"));
  *out = s;
  return true;
}

bool SettingsDialog::Save() {
  Settings s;
  QString bad;
  if (!Collect(&s, &bad)) {
    const QString key = bad.section('/', 1, 1);
    const QString message = U("%1の値が正しくありません。").arg(key);
    if (notifier)
      notifier->Show(SJ("警告"), ToSjis(message), NoticeIcon::Warning);
    else
      QMessageBox::warning(this, U("警告"), message);
    if (QWidget* w = findChild<QWidget*>(bad)) {
      for (int i = 0; i < pages->count(); ++i)
        if (pages->widget(i)->isAncestorOf(w)) pages->setCurrentIndex(i);
      w->setFocus();
    }
    return false;
  }
  if (!s.SaveTo(iniPath_)) {
    if (notifier)
      notifier->Show(SJ("エラー"), SJ("設定を保存できませんでした。"), NoticeIcon::Error);
    else
      QMessageBox::critical(this, U("エラー"), U("設定を保存できませんでした。"));
    return false;
  }
  base_ = s;
  emit saved();
  accept();
  return true;
}

}  // namespace velmo::ui
