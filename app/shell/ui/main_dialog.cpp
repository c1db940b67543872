// MainDialog: construction of the window and its controls, start-up and closing, the
// pane layout and painting, the display modes and the display controls (negative,
// palette colour, zoom, rotation, flips, filters).
#include "shell/ui/main_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QSysInfo>
#include <QTabBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "browser/study_tree.h"
#include "render/display_tables.h"
#include "render/geometry.h"
#include "render/ui/pane_view.h"
#include "base/install.h"
#include "base/numbers.h"
#include "base/text.h"
#include "base/ui/qt_text.h"
#include "shell/ui/fonts.h"
#include "shell/ui/message_notifier.h"

#ifndef VELMO_VERSION
#define VELMO_VERSION "0.0.0"
#endif

namespace velmo::ui {

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Places widgets left to right in rows that wrap at the available width; the panel
// takes the height of its rows, so a scroll area around it can scroll when the strip
// is too small.
class FlowPanel : public QWidget {
 public:
  explicit FlowPanel(QWidget* parent) : QWidget(parent) {}
  void Add(QWidget* w) { items_.push_back(w); }
  void Arrange(int width, int height) {
    const int gap = 4;
    int x = gap, y = gap, rowHeight = 0, widest = 0;
    for (QWidget* w : items_) {
      if (w->isHidden()) continue;
      const QSize s = w->sizeHint().expandedTo(w->minimumSizeHint());
      if (x > gap && x + s.width() + gap > width) {
        x = gap;
        y += rowHeight + gap;
        rowHeight = 0;
      }
      w->setGeometry(x, y, s.width(), s.height());
      x += s.width() + gap;
      widest = std::max(widest, x);
      rowHeight = std::max(rowHeight, s.height());
    }
    resize(std::max(width, widest), std::max(height, y + rowHeight + gap));
  }

 private:
  std::vector<QWidget*> items_;
};

// A tool button whose caption is shown on two lines, broken at its space, so the
// long export captions fit the strip; text() keeps the caption as it is.
class TwoLineButton : public QToolButton {
 public:
  using QToolButton::QToolButton;
  QSize sizeHint() const override {
    QStyleOptionToolButton opt;
    initStyleOption(&opt);
    opt.text = Shown();
    QSize content = opt.fontMetrics.size(0, opt.text);
    if (opt.toolButtonStyle == Qt::ToolButtonTextBesideIcon && !opt.icon.isNull())
      content = QSize(content.width() + opt.iconSize.width() + 4, std::max(content.height(), opt.iconSize.height()));
    return style()->sizeFromContents(QStyle::CT_ToolButton, &opt, content, this).expandedTo(minimumSize());
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter p(this);
    QStyleOptionToolButton opt;
    initStyleOption(&opt);
    opt.text = Shown();
    p.drawComplexControl(QStyle::CC_ToolButton, opt);
  }

 private:
  QString Shown() const {
    QString t = text();
    const int space = t.indexOf(' ');
    if (space > 0) t[space] = '\n';
    return t;
  }
};

struct ButtonBitmap {
  QToolButton** button;
  const char* normal;
  const char* off;  // shown while the button is disabled (nullptr: none)
};

}  // namespace

// ---- UpDownButtons ----

UpDownButtons::UpDownButtons(QWidget* parent) : QWidget(parent) {
  up = new QToolButton(this);
  down = new QToolButton(this);
  up->setArrowType(Qt::UpArrow);
  down->setArrowType(Qt::DownArrow);
  up->setAutoRepeat(true);
  down->setAutoRepeat(true);
  setFixedWidth(16);
}

void UpDownButtons::resizeEvent(QResizeEvent*) {
  const int h = height() / 2;
  up->setGeometry(0, 0, width(), h);
  down->setGeometry(0, h, width(), height() - h);
}

// ---- construction ----

MainDialog::MainDialog(std::vector<std::string> startupArguments, QWidget* parent)
    : QMainWindow(parent), startupArguments_(std::move(startupArguments)) {
  setObjectName("102");
  notifier_ = std::make_unique<MessageNotifier>(this);
  panes_[1].pane = 1;
  panes_[2].pane = 2;

  // Log: rotate the files, then start this run's log.
  const std::string& install = InstallFolder();
  RotateLogs(install);
  log_ = std::make_unique<Log>(install);
  log_->Write(SJ("初期化の開始"), kLogNormal, 1);

  setWindowTitle(U("Velmo  ﾊﾞｰｼﾞｮﾝ %1").arg(QString::fromUtf8(VELMO_VERSION)));
  setWindowIcon(QIcon(QString::fromStdString(install + "Icon/Image.bmp")));
  settings_ = Settings::Load();

  CreateControls();
  CreateMenu();
  LoadToolBitmaps();
  ConnectDisplayControls();
  log_->Write(SJ("画面の各コントロールの初期化完了"), kLogNormal, 1);

  // Monitor pitch and the window rectangle.
  render_.pitch.x = settings_.dotPitchX;
  render_.pitch.y = settings_.dotPitchY;
  ApplyWindowRectangle();

  if (!InitialiseTables()) return;

  combined_ = settings_.displayMode != SJ("分離表示");
  UpdateModeButtons();
  SyncDisplayControls();
  initialised_ = true;

  // The other areas connect their controls; the file area then takes in the start-up
  // arguments and builds the lists.
  SetUpWindowLevelControls();
  SetUpCineControls();
  SetUpHeaderAndOverlay();  // before the file area shows the first images
  SetUpTagEditing();
  SetUpMeasurementTools();
  SetUpExportAndPrint();
  SetUpVolumeTools();
  SetUpPacs();
  SetUpFileControls();
}

MainDialog::~MainDialog() = default;

Notifier& MainDialog::notifier() { return *notifier_; }

bool MainDialog::InitialiseTables() {
  auto fail = [this](const char* format, uint64_t bytes) {
    const std::string message = Format(SjisFromUtf8(format), static_cast<long long>(bytes));
    log_->Write(message, kLogWarning, 1);
    notifier_->Show(SJ("警告"), message, NoticeIcon::Warning);
    return false;
  };
  const int32_t capacity = settings_.listCapacity <= 0 ? Settings::kDefaultListCapacity : settings_.listCapacity;
  if (!fileTable_.Allocate(capacity))
    return fail("画像一覧用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。",
                uint64_t(capacity) * sizeof(FileTableEntry));
  // One display record per file-table entry plus the reformat slot; reserved now so
  // that the table never moves while panes point into it.
  const uint64_t records = uint64_t(capacity) + 1;
  try {
    loadContext_.records.reserve(static_cast<size_t>(records));
  } catch (const std::exception&) {
    return fail("表示する画像情報用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。",
                records * sizeof(DicomImage));
  }
  render_.log = log_.get();
  render_.notifier = notifier_.get();
  if (BuildDisplayTables(render_.tables, InstallFolder(), *log_, notifier_.get()) != TablesResult::kOk) return false;
  if (!render_.AllocateWorkBuffers()) return false;

  loadContext_.log = log_.get();
  loadContext_.notifier = notifier_.get();
  for (int i = 0; i < 3; ++i)
    loadContext_.nameKeywords[i] = std::string(Settings::CharsetKeyword(settings_.NamePriority(i)));
  loadContext_.paneReset = [this](int viewPos) {
    if (viewPos < 1 || viewPos > 2) return;
    const DicomImage* im = loadContext_.Slot(viewPos);
    loadContext_.panes[viewPos].multiFrame = im && im->Frames() > 1;
    panes_[viewPos].frame = 1;
    panes_[viewPos].needsConversion = true;
  };
  for (int p = 1; p <= 2; ++p)
    panes_[p].interpolation = settings_.Bicubic() ? Interpolation::kBicubic : Interpolation::kBilinear;
  return true;
}

QToolButton* MakeButton(QWidget* parent, const char* id, const char* caption, bool checkable,
                        bool twoLines = false) {
  auto* b = twoLines ? new TwoLineButton(parent) : new QToolButton(parent);
  b->setObjectName(id);
  b->setText(QString::fromUtf8(caption));
  b->setToolTip(QString::fromUtf8(caption));
  b->setCheckable(checkable);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  return b;
}

static QLabel* MakeLabel(QWidget* parent, const char* text, const char* id = nullptr) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  if (id) l->setObjectName(id);
  return l;
}

void MainDialog::CreateControls() {
  client = new QWidget(this);
  client->setObjectName("client");
  setCentralWidget(client);

  leftPane = new PaneView(1, client);
  rightPane = new PaneView(2, client);
  for (PaneView* v : {leftPane, rightPane}) {
    v->paint = [this](int pane, QPainter& p) { PaintPane(pane, p); };
    v->mouse = [this](int pane, QMouseEvent* e) { OnPaneMouse(pane, e); };
    v->doubleClicked = [this](int pane) { OnPaneDoubleClicked(pane); };
  }

  // Tab controls.
  leftTabs = new QTabBar(client);
  leftTabs->setObjectName("1031");
  leftTabs->addTab(U("ファイル"));
  leftTabs->addTab(U("ヘッダ情報"));
  rightTabs = new QTabBar(client);
  rightTabs->setObjectName("1032");
  rightTabs->addTab(U("ツール"));
  rightTabs->addTab(U("ヘッダ情報"));

  // Left "ファイル" page.
  auto* filePage = new QWidget(client);
  filePage->setObjectName("leftFilePage");
  patientLevelButton = MakeButton(filePage, "1045", "患者", true);
  studyLevelButton = MakeButton(filePage, "1046", "検査", true);
  seriesLevelButton = MakeButton(filePage, "1047", "ｼﾘｰｽﾞ", true);
  imageLevelButton = MakeButton(filePage, "1048", "画像", true);
  clearButton = MakeButton(filePage, "1012", "ｸﾘｱ", false);
  refreshButton = MakeButton(filePage, "1009", "更新", false);
  folderButton = MakeButton(filePage, "1006", "ﾌｫﾙﾀﾞ", false);
  fileButton = MakeButton(filePage, "1004", "ﾌｧｲﾙ", false);
  fileListHost = new QWidget(filePage);
  fileListHost->setObjectName("fileListHost");
  fileListHostLayout = new QVBoxLayout(fileListHost);
  fileListHostLayout->setContentsMargins(0, 0, 0, 0);
  {
    auto* v = new QVBoxLayout(filePage);
    v->setContentsMargins(2, 2, 2, 2);
    v->setSpacing(2);
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    for (QToolButton* b : {patientLevelButton, studyLevelButton, seriesLevelButton, imageLevelButton}) row->addWidget(b);
    row->addSpacing(12);
    for (QToolButton* b : {clearButton, refreshButton, folderButton, fileButton}) row->addWidget(b);
    row->addStretch(1);
    v->addLayout(row);
    v->addWidget(fileListHost, 1);
  }

  // Header pages (the header lists are filled by the header view).
  auto makeHeaderPage = [this](const char* pageName, const char* listId, QTreeWidget*& list,
                               std::array<std::pair<QToolButton**, std::pair<const char*, const char*>>, 5> buttons,
                               std::array<bool, 5> checkable) {
    auto* page = new QWidget(client);
    page->setObjectName(pageName);
    list = new QTreeWidget(page);
    list->setObjectName(listId);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setFont(QFont(ListFontFamily()));
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(2, 2, 2, 2);
    v->setSpacing(2);
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    for (size_t i = 0; i < buttons.size(); ++i) {
      *buttons[i].first = MakeButton(page, buttons[i].second.first, buttons[i].second.second, checkable[i]);
      row->addWidget(*buttons[i].first);
    }
    row->addStretch(1);
    v->addLayout(row);
    v->addWidget(list, 1);
    return page;
  };
  leftHeaderPage_ = makeHeaderPage(
      "leftHeaderPage", "1010", leftHeaderList,
      {{{&leftJapaneseButton, {"1092", "日本語"}}, {&leftEnglishButton, {"1093", "英語"}},
        {&leftBinaryButton, {"1152", "ﾊﾞｲﾅﾘ表記"}}, {&leftCopyValueButton, {"1127", "値のｺﾋﾟｰ"}},
        {&leftSaveTextButton, {"1125", "ﾃｷｽﾄ保存"}}}},
      {true, true, true, false, false});
  rightHeaderPage_ = makeHeaderPage(
      "rightHeaderPage", "1011", rightHeaderList,
      {{{&rightJapaneseButton, {"2011", "日本語"}}, {&rightEnglishButton, {"2012", "英語"}},
        {&rightBinaryButton, {"1153", "ﾊﾞｲﾅﾘ表記"}}, {&rightCopyValueButton, {"1137", "値のｺﾋﾟｰ"}},
        {&rightSaveTextButton, {"1126", "ﾃｷｽﾄ保存"}}}},
      {true, true, true, false, false});
  leftFilePage_ = filePage;

  // Right "ツール" page: five groups in a panel that wraps them into rows.
  auto* scroll = new QScrollArea(client);
  scroll->setObjectName("rightToolPage");
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(false);
  auto* panel = new FlowPanel(scroll);
  panel->setObjectName("toolPanel");
  scroll->setWidget(panel);
  rightToolPage_ = scroll;
  toolPanel_ = panel;

  auto group = [&](int i, const char* title) {
    auto* g = new QGroupBox(panel);  // frames only: the strip has no room for titles
    g->setAccessibleName(U(title));
    g->setObjectName(QString("toolGroup%1").arg(i + 1));
    toolGroups[i] = g;
    panel->Add(g);
    auto* grid = new QGridLayout(g);
    grid->setContentsMargins(4, 2, 4, 4);
    grid->setHorizontalSpacing(2);
    grid->setVerticalSpacing(2);
    return std::make_pair(g, grid);
  };

  // Group 1: display mode, window/level.
  {
    auto [g, grid] = group(0, "表示");
    separateButton = MakeButton(g, "1096", "分離表示", true);
    combineButton = MakeButton(g, "1095", "結合表示", true);
    levelWidthDragButton = MakeButton(g, "1071", "L W 変更", true);
    negativeButton = MakeButton(g, "1075", "白黒反転", true);
    paletteButton = MakeButton(g, "1091", "ﾊﾟﾚｯﾄｶﾗｰ", true);
    holdButton = MakeButton(g, "1098", "L/W\n固定", true);
    int c = 0;
    for (QToolButton* b : {separateButton, combineButton, levelWidthDragButton, negativeButton, paletteButton, holdButton})
      grid->addWidget(b, 0, c++);
    levelLabel = MakeLabel(g, "Level", "1065");
    widthLabel = MakeLabel(g, "Width", "1066");
    levelEdit = new QLineEdit(g);
    levelEdit->setObjectName("1053");
    widthEdit = new QLineEdit(g);
    widthEdit->setObjectName("1055");
    levelSpin = new UpDownButtons(g);
    levelSpin->setObjectName("1060");
    widthSpin = new UpDownButtons(g);
    widthSpin->setObjectName("1061");
    levelSlider = new QSlider(Qt::Horizontal, g);
    levelSlider->setObjectName("1056");
    widthSlider = new QSlider(Qt::Horizontal, g);
    widthSlider->setObjectName("1057");
    auto wlRow = [&](int row, QLabel* label, QLineEdit* edit, UpDownButtons* spin, QSlider* slider) {
      auto* h = new QHBoxLayout;
      h->setSpacing(2);
      label->setMinimumWidth(34);
      edit->setFixedWidth(52);
      spin->setFixedHeight(edit->sizeHint().height());
      slider->setMinimumWidth(70);
      h->addWidget(label);
      h->addWidget(edit);
      h->addWidget(spin);
      h->addWidget(slider, 1);
      grid->addLayout(h, row, 0, 1, 6);
    };
    wlRow(1, levelLabel, levelEdit, levelSpin, levelSlider);
    wlRow(2, widthLabel, widthEdit, widthSpin, widthSlider);
    presetList = new QListWidget(g);
    presetList->setObjectName("1174");
    presetList->setFixedWidth(104);
    presetList->setMinimumHeight(60);
    presetList->setFont(QFont(ListFontFamily()));
    grid->addWidget(presetList, 0, 6, 3, 1);
  }
  // Group 2: zoom, rotation, filters.
  {
    auto [g, grid] = group(1, "拡大・回転");
    zoomDragButton = MakeButton(g, "1195", "ｽﾞｰﾑ", true);
    fitButton = MakeButton(g, "1192", "全体", false);
    oneToOneButton = MakeButton(g, "1193", "100%", false);
    actualSizeButton = MakeButton(g, "1194", "実寸", false);
    flipHorizontalButton = MakeButton(g, "1081", "左右", true);
    flipVerticalButton = MakeButton(g, "1082", "上下", true);
    rotateLeftButton = MakeButton(g, "1083", "左回転", true);
    rotateRightButton = MakeButton(g, "1094", "右回転", true);
    sharpenButton = MakeButton(g, "1089", "鮮鋭化", true);
    noiseButton = MakeButton(g, "1087", "ﾉｲｽﾞ除去", true);
    zoomCombo = new QComboBox(g);
    zoomCombo->setObjectName("1136");
    zoomCombo->setEditable(true);
    zoomCombo->setInsertPolicy(QComboBox::NoInsert);
    for (const char* t : {"0.25", "0.50", "0.75", "1.00", "1.25", "1.50", "1.75", "2.00"}) zoomCombo->addItem(t);
    zoomCombo->setCurrentIndex(3);
    zoomCombo->lineEdit()->setMaxLength(9);
    zoomCombo->setFixedWidth(62);
    rotationCombo = new QComboBox(g);
    rotationCombo->setObjectName("1132");
    rotationCombo->setEditable(true);
    rotationCombo->setInsertPolicy(QComboBox::NoInsert);
    for (const char* t : {"30", "60", "90", "120", "150", "180", "210", "240", "270", "300", "330"})
      rotationCombo->addItem(t);
    rotationCombo->setCurrentIndex(2);
    rotationCombo->lineEdit()->setMaxLength(3);
    rotationCombo->setFixedWidth(62);
    zoomLabel = MakeLabel(g, "拡大率");
    rotationLabel = MakeLabel(g, "回転角");
    int c = 0;
    for (QToolButton* b : {zoomDragButton, fitButton, oneToOneButton, actualSizeButton}) grid->addWidget(b, 0, c++);
    c = 0;
    for (QToolButton* b : {flipHorizontalButton, flipVerticalButton, rotateLeftButton, rotateRightButton})
      grid->addWidget(b, 1, c++);
    auto* zoomBox = new QVBoxLayout;
    zoomBox->setSpacing(0);
    zoomBox->addWidget(zoomLabel);
    zoomBox->addWidget(zoomCombo);
    grid->addLayout(zoomBox, 0, 4);
    auto* rotationBox = new QVBoxLayout;
    rotationBox->setSpacing(0);
    rotationBox->addWidget(rotationLabel);
    rotationBox->addWidget(rotationCombo);
    grid->addLayout(rotationBox, 1, 4);
    grid->addWidget(sharpenButton, 0, 5);
    grid->addWidget(noiseButton, 1, 5);
  }
  // Group 3: measurement, slice line, MPR, MIP.
  {
    auto [g, grid] = group(2, "計測");
    distanceButton = MakeButton(g, "1073", "距離", true);
    angleButton = MakeButton(g, "1074", "角度", true);
    ctrButton = MakeButton(g, "1088", "心胸郭比", true);
    pixelValueButton = MakeButton(g, "1097", "ﾋﾟｸｾﾙ値", true);
    roiCircleButton = MakeButton(g, "1084", "ROI ○", true);
    roiBoxButton = MakeButton(g, "1085", "ROI □", true);
    selectButton = MakeButton(g, "1076", "選択", true);
    deleteButton = MakeButton(g, "1078", "削除", true);
    sliceLineButton = MakeButton(g, "1072", "ｽﾗｲｽﾗｲﾝ", true);
    mprButton = MakeButton(g, "1077", "MPR", true);
    mipButton = MakeButton(g, "1086", "MIP", true);
    int i = 0;
    for (QToolButton* b : {distanceButton, angleButton, ctrButton, pixelValueButton, roiCircleButton, roiBoxButton})
      grid->addWidget(b, 0, i++);
    i = 0;
    for (QToolButton* b : {selectButton, deleteButton, sliceLineButton, mprButton, mipButton}) grid->addWidget(b, 1, i++);
  }
  // Group 4: CINE.
  {
    auto [g, grid] = group(3, "CINE");
    cineBackwardButton = MakeButton(g, "1148", "<", true);
    cineStopButton = MakeButton(g, "1149", "■", false);
    cineForwardButton = MakeButton(g, "1147", ">", true);
    intervalLabel = MakeLabel(g, "間隔");
    intervalUnitLabel = MakeLabel(g, "m秒");
    cineIntervalEdit = new QLineEdit(g);
    cineIntervalEdit->setObjectName("1058");
    cineIntervalEdit->setFixedWidth(48);
    frameLabel = MakeLabel(g, "ﾌﾚｰﾑ");
    frameEdit = new QLineEdit(g);
    frameEdit->setObjectName("1054");
    frameEdit->setFixedWidth(48);
    frameSpin = new UpDownButtons(g);
    frameSpin->setObjectName("1143");
    frameSpin->setFixedHeight(frameEdit->sizeHint().height());
    frameSlider = new QSlider(Qt::Horizontal, g);
    frameSlider->setObjectName("1142");
    frameSlider->setMinimumWidth(120);
    frameSlider->setMinimumWidth(90);
    cineIntervalEdit->setFixedWidth(44);
    frameEdit->setFixedWidth(40);
    grid->addWidget(cineBackwardButton, 0, 0);
    grid->addWidget(cineStopButton, 0, 1);
    grid->addWidget(cineForwardButton, 0, 2);
    auto* intervalRow = new QHBoxLayout;
    intervalRow->setSpacing(2);
    intervalRow->addWidget(intervalLabel);
    intervalRow->addWidget(cineIntervalEdit);
    intervalRow->addWidget(intervalUnitLabel);
    intervalRow->addStretch(1);
    grid->addLayout(intervalRow, 0, 3);
    auto* frameRow = new QHBoxLayout;
    frameRow->setSpacing(2);
    frameRow->addWidget(frameLabel);
    frameRow->addWidget(frameEdit);
    frameRow->addWidget(frameSpin);
    frameRow->addWidget(frameSlider, 1);
    grid->addLayout(frameRow, 1, 0, 1, 4);
    grid->setRowMinimumHeight(0, 0);
  }
  // Group 5: image information, export, print, external programs.
  {
    auto [g, grid] = group(4, "出力");
    overlayButton = MakeButton(g, "1196", "画像情報", false);
    copyScreenButton = MakeButton(g, "1118", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ 画面ｷｬﾌﾟﾁｬ", false, true);
    copyImageButton = MakeButton(g, "1119", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ 画像のみ", false, true);
    saveScreenButton = MakeButton(g, "1120", "ﾌｧｲﾙ保存 画面ｷｬﾌﾟﾁｬ", false, true);
    saveImageButton = MakeButton(g, "1121", "ﾌｧｲﾙ保存 画像のみ", false, true);
    printButton = MakeButton(g, "1122", "印刷", false);
    grid->addWidget(overlayButton, 0, 0);
    grid->addWidget(printButton, 1, 0);
    grid->addWidget(copyScreenButton, 0, 1);
    grid->addWidget(copyImageButton, 1, 1);
    grid->addWidget(saveScreenButton, 0, 2);
    grid->addWidget(saveImageButton, 1, 2);
    for (int i = 0; i < 4; ++i) {
      const std::string id = std::to_string(1114 + i);
      programButtons[i] = MakeButton(g, id.c_str(), "", false);
      programButtons[i]->setText(FromSjis(settings_.programNames[i]));
      programButtons[i]->setToolTip(programButtons[i]->text());
      programButtons[i]->setVisible(!settings_.programNames[i].empty());
      grid->addWidget(programButtons[i], i % 2, 3 + i / 2);
    }
  }

  connect(leftTabs, &QTabBar::currentChanged, this, [this](int i) { ShowLeftTabPage(i); });
  connect(rightTabs, &QTabBar::currentChanged, this, [this](int i) { ShowRightTabPage(i); });
  ShowLeftTabPage(0);
  ShowRightTabPage(0);
}

void MainDialog::CreateMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("129");
  QMenu* file = bar->addMenu(U("ﾌｧｲﾙ(&F)"));
  openAction = file->addAction(U("開く(&O)"));
  exitAction = file->addAction(U("終了(&X)"));
  QMenu* setup = bar->addMenu(U("設定(&S)"));
  settingsAction = setup->addAction(U("設定"));
  groupSettingsAction = setup->addAction(U("ｸﾞﾙｰﾌﾟの設定"));
  overlaySettingsAction = setup->addAction(U("画像情報の設定"));
  logAction = bar->addAction(U("ﾛｸﾞ(&L)"));
  QMenu* help = bar->addMenu(U("ﾍﾙﾌﾟ(&H)"));
  versionAction = help->addAction(U("Velmo のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
  osVersionAction = help->addAction(U("OSのﾊﾞｰｼﾞｮﾝ情報"));

  connect(openAction, &QAction::triggered, this, [this] { fileButton->click(); });
  connect(exitAction, &QAction::triggered, this, [this] { close(); });
  connect(logAction, &QAction::triggered, this, [] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(InstallFolder() + "Log")));
  });
  connect(versionAction, &QAction::triggered, this, [this] {
    QMessageBox::about(this, U("Velmo のﾊﾞｰｼﾞｮﾝ情報"),
                       U("Velmo  ﾊﾞｰｼﾞｮﾝ %1").arg(QString::fromUtf8(VELMO_VERSION)));
  });
  connect(osVersionAction, &QAction::triggered, this, [this] {
    QMessageBox::about(this, U("OSのﾊﾞｰｼﾞｮﾝ情報"),
                       QString("%1\n%2 %3").arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(),
                                                QSysInfo::kernelVersion()));
  });
}

void MainDialog::LoadToolBitmaps() {
  const ButtonBitmap bitmaps[] = {
      {&patientLevelButton, "Patient", nullptr},   {&studyLevelButton, "Study", nullptr},
      {&seriesLevelButton, "Series", nullptr},     {&imageLevelButton, "Image", nullptr},
      {&separateButton, "Separate", nullptr},      {&combineButton, "Combine", "CombineOff"},
      {&levelWidthDragButton, "Lut", nullptr},     {&negativeButton, "NegaPosi", nullptr},
      {&paletteButton, "Palette", nullptr},        {&holdButton, "LvWdHold", nullptr},
      {&zoomDragButton, "Zoom", nullptr},          {&flipHorizontalButton, "LeftRight", nullptr},
      {&flipVerticalButton, "UpDown", nullptr},    {&rotateLeftButton, "TurnLeft", nullptr},
      {&rotateRightButton, "TurnRight", nullptr},  {&sharpenButton, "Sharp", nullptr},
      {&noiseButton, "Median", nullptr},           {&sliceLineButton, "SliceLine", "SliceLineOff"},
      {&mprButton, "Mpr", nullptr},                {&mipButton, "Mip", nullptr},
      {&distanceButton, "Distance", nullptr},      {&angleButton, "Angle", nullptr},
      {&ctrButton, "Ctr", nullptr},                {&pixelValueButton, "PValue", nullptr},
      {&roiCircleButton, "RoiCircle", nullptr},    {&roiBoxButton, "RoiBox", nullptr},
      {&selectButton, "Select", nullptr},          {&deleteButton, "Delete", nullptr},
      {&leftJapaneseButton, "Japan", nullptr},     {&rightJapaneseButton, "Japan", nullptr},
      {&leftEnglishButton, "English", nullptr},    {&rightEnglishButton, "English", nullptr},
      {&leftBinaryButton, "Binary", nullptr},      {&rightBinaryButton, "Binary", nullptr},
      {&cineBackwardButton, "Reverse", "ReverseOff"}, {&cineForwardButton, "Forward", "ForwardOff"},
      {&clearButton, "Clear", nullptr},            {&refreshButton, "Reload", "ReloadOff"},
      {&folderButton, "Folder", "FolderOff"},      {&fileButton, "FolderOpen", "FolderOpenOff"},
      {&fitButton, "ZoomCubic", nullptr},          {&oneToOneButton, "Zoom100", nullptr},
      {&actualSizeButton, "ZoomLife", nullptr},    {&overlayButton, "ImgInfo", "ImgInfoOff"},
      {&cineStopButton, "CineStop", "CineStopOff"}, {&leftCopyValueButton, "Copy", nullptr},
      {&rightCopyValueButton, "Copy", nullptr},    {&printButton, "Print", nullptr},
      {&leftSaveTextButton, "SaveText", nullptr},  {&rightSaveTextButton, "SaveText", nullptr},
  };
  const QString folder = QString::fromStdString(InstallFolder() + "Icon/");
  for (const ButtonBitmap& b : bitmaps) {
    QToolButton* button = *b.button;
    QPixmap normal(folder + b.normal + ".bmp", "BMP");
    if (normal.isNull()) continue;  // the button keeps its caption
    QIcon icon(normal);
    if (b.off) {
      QPixmap off(folder + b.off + ".bmp", "BMP");
      if (!off.isNull()) icon.addPixmap(off, QIcon::Disabled);
    }
    button->setIcon(icon);
    button->setIconSize(QSize(32, 32));
    // The export buttons have long captions that say more than a picture.
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  }
}

// ---- window rectangle ----

void MainDialog::ApplyWindowRectangle() {
  const WindowRect& w = settings_.window;
  const QRect wanted(QPoint(w.left, w.top), QPoint(w.right - 1, w.bottom - 1));
  bool usable = w.right > w.left && w.bottom > w.top;
  if (usable) {
    usable = false;
    // Off screen: no screen shows a reasonable part of it.
    for (QScreen* s : QGuiApplication::screens()) {
      const QRect shown = s->availableGeometry().intersected(wanted);
      if (shown.width() >= 100 && shown.height() >= 50) usable = true;
    }
  }
  if (usable) {
    setGeometry(wanted);
    return;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 960);
  const QSize size(std::min(1600, avail.width() * 95 / 100), std::min(1000, avail.height() * 95 / 100));
  resize(size);
  move(avail.center() - QPoint(size.width() / 2, size.height() / 2));
}

void MainDialog::closeEvent(QCloseEvent* event) {
  if (initialised_) {
    const QRect r = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
    WindowRect rect;
    rect.left = r.left();
    rect.top = r.top();
    rect.right = r.left() + r.width();
    rect.bottom = r.top() + r.height();
    Settings::SaveWindowState(ListLevelText(studyTree_.level()), combined_ ? SJ("結合表示") : SJ("分離表示"), rect);
  }
  event->accept();
}

// ---- layout ----

void MainDialog::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  LayOut();
}

void MainDialog::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayOut();
}

void MainDialog::LayOut() {
  if (!client || layingOut_) return;
  layingOut_ = true;
  client->setUpdatesEnabled(false);
  const int cx = client->width(), cy = client->height();
  const double dpr = devicePixelRatioF();
  const PaneLayout l = ComputePaneLayout(cx, cy, enlarged_, activePane_, dpr);
  leftPane->setGeometry(l.leftX, 0, l.leftWidth, l.paneHeight);
  rightPane->setGeometry(l.rightX, 0, l.rightWidth, l.paneHeight);
  leftPane->setVisible(l.leftWidth > 0);
  rightPane->setVisible(l.rightWidth > 0);
  for (int p = 1; p <= 2; ++p) {
    const bool shown = p == 1 ? l.leftWidth > 0 : l.rightWidth > 0;
    const int wc = shown ? l.canvasWidth : 0, hc = shown ? l.canvasHeight : 0;
    if (panes_[p].canvasWidth != wc || panes_[p].canvasHeight != hc) {
      panes_[p].canvasWidth = wc;
      panes_[p].canvasHeight = hc;
      panes_[p].needsConversion = true;
    }
  }

  // The control strip below the panes: the left part holds the file and header pages,
  // the right part the tools and the right header page.
  // When the tools do not fit their half, their page takes room from the file page,
  // which keeps at least kMinFilePageWidth pixels (its list scrolls sideways).
  constexpr int kMinFilePageWidth = 360;
  const int top = l.paneHeight, stripHeight = std::max(cy - top, 0);
  const int tabHeight = leftTabs->sizeHint().height();
  const int pageTop = top + 2 + tabHeight, pageHeight = std::max(stripHeight - tabHeight - 2, 0);
  const int toolsWidth = ArrangeTools(cx - l.half, cx - std::min(kMinFilePageWidth, l.half), pageHeight);
  const int split = cx - toolsWidth;
  leftTabs->setGeometry(2, top + 2, std::min(leftTabs->sizeHint().width(), std::max(split - 4, 0)), tabHeight);
  rightTabs->setGeometry(split + 2, top + 2, std::min(rightTabs->sizeHint().width(), std::max(cx - split - 4, 0)),
                         tabHeight);
  const QRect leftPage(0, pageTop, split, pageHeight), rightPage(split, pageTop, cx - split, pageHeight);
  leftFilePage_->setGeometry(leftPage);
  leftHeaderPage_->setGeometry(leftPage);
  rightHeaderPage_->setGeometry(rightPage);
  rightToolPage_->setGeometry(rightPage);

  client->setUpdatesEnabled(true);
  client->update();
  layingOut_ = false;
  log_->Write(SJ("クライアント領域の再描画"), kLogNormal, 3);
}

// The tool groups wrap into rows at the page width. Picks the largest button picture
// size and the narrowest page width (evenWidth .. maxWidth) with which every group
// fits the page height; when none does, the page scrolls. Returns the width.
int MainDialog::ArrangeTools(int evenWidth, int maxWidth, int height) {
  auto* panel = static_cast<FlowPanel*>(toolPanel_);
  const QList<QToolButton*> buttons = panel->findChildren<QToolButton*>();
  auto setSize = [&](int size) {
    if (toolIconSize_ == size) return;
    toolIconSize_ = size;
    for (QToolButton* b : buttons)
      if (!b->icon().isNull()) b->setIconSize(QSize(size, size));
    for (QGroupBox* g : toolGroups)
      if (g->layout()) g->layout()->activate();
  };
  auto fits = [&](int width) {
    panel->Arrange(std::max(width - 2, 0), 0);
    return panel->height() <= height && panel->width() <= std::max(width - 2, 0);
  };
  // Full-size pictures in half the strip, then smaller ones, then smaller ones with
  // room taken from the file page.
  for (int size : {32, 24}) {
    setSize(size);
    if (fits(evenWidth)) return evenWidth;
  }
  for (int size : {24, 20}) {
    setSize(size);
    for (int width = evenWidth + 8; width <= maxWidth; width += 8)
      if (fits(width)) return width;
  }
  // Nothing fits: the page scrolls; leave room for the vertical scroll bar.
  const int width = std::max(evenWidth, maxWidth);
  const int bar = rightToolPage_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  panel->Arrange(std::max(width - 2 - bar, 0), 0);
  return width;
}

void MainDialog::ShowLeftTabPage(int page) {
  if (!leftFilePage_) return;
  leftFilePage_->setVisible(page == 0);
  leftHeaderPage_->setVisible(page == 1);
}

void MainDialog::ShowRightTabPage(int page) {
  if (!rightToolPage_) return;
  rightToolPage_->setVisible(page == 0);
  rightHeaderPage_->setVisible(page == 1);
}

// ---- panes ----

PaneDisplay& MainDialog::paneDisplay(int pane) { return panes_[pane == 2 ? 2 : 1]; }

DicomImage* MainDialog::PaneImage(int pane) { return loadContext_.Slot(pane); }

DicomImage* MainDialog::ShownImage(int pane) {
  DicomImage* im = PaneImage(pane);
  return im != nullptr && im->extracted ? im : nullptr;
}

std::vector<int> MainDialog::TargetPanes() const {
  if (combined_) return {1, 2};
  return {activePane_};
}

void MainDialog::RepaintPane(int pane, bool needsConversion) {
  for (int p = 1; p <= 2; ++p) {
    if (pane != 0 && pane != p) continue;
    if (needsConversion) panes_[p].needsConversion = true;
    PaneView* v = p == 1 ? leftPane : rightPane;
    if (v) v->update();
  }
}

bool MainDialog::ShowEntry(int pane, int fileTableIndex) {
  if (pane < 1 || pane > 2) return false;
  const bool ok = ShowEntryInPane(loadContext_, fileTableIndex, pane);
  paintedImage_[pane] = false;
  snapshots_[pane] = QImage();
  if (pane == activePane_) SyncDisplayControls();
  emit paneImageChanged(pane);
  RepaintPane(pane, true);
  return ok;
}

void MainDialog::SetActivePane(int pane) {
  pane = pane == 2 ? 2 : 1;
  if (pane == activePane_) return;
  activePane_ = pane;
  UpdateModeButtons();
  SyncDisplayControls();
  RepaintPane(0, false);  // both frames change
  emit activePaneChanged(pane);
}

PaneMouseMode MainDialog::mouseMode(int pane) const { return mouseMode_[pane == 2 ? 2 : 1]; }

void MainDialog::SetMouseMode(int pane, PaneMouseMode mode) {
  pane = pane == 2 ? 2 : 1;
  mouseMode_[pane] = mode;
  panes_[pane].zoomDragMode = mode == PaneMouseMode::kZoom;
  if (pane == activePane_) {
    const QSignalBlocker b1(levelWidthDragButton), b2(zoomDragButton);
    levelWidthDragButton->setChecked(mode == PaneMouseMode::kLevelWidth);
    zoomDragButton->setChecked(mode == PaneMouseMode::kZoom);
  }
}

const QImage& MainDialog::Snapshot(int pane) const { return snapshots_[pane == 2 ? 2 : 1]; }

bool MainDialog::panePaintedImage(int pane) const { return paintedImage_[pane == 2 ? 2 : 1]; }

void MainDialog::MarkStartupIntakeFinished() {
  if (startupIntakeDone_) return;
  startupIntakeDone_ = true;
  log_->Write(SJ("初期化の終了"), kLogNormal, 1);
  emit startupIntakeFinished();
}

void MainDialog::PaintPane(int pane, QPainter& painter) {
  PaneView* view = pane == 1 ? leftPane : rightPane;
  PaneDisplay& pd = panes_[pane];
  const double dpr = view->devicePixelRatioF();
  notifier_->BeginPaint();
  bool drawn = false;
  DicomImage* im = PaneImage(pane);
  if (im && (!enlarged_ || pane == activePane_)) {
    if (!im->extracted && !pd.showsReformat) {
      log_->Write(Format(SJ("画像表示(%d)をクリアしました"), pane - 1), kLogNormal, 3);
    } else {
      const ConvertResult r = ConvertToDisplay(render_, pd, *im);
      // Every conversion computes the scale again (a new image, a resized canvas, a
      // zoom lowered to fit): the zoom box shows the active pane's factor.
      if (pane == activePane_ && zoomCombo && zoomCombo->currentText().toStdString() != ZoomText(pd.zoomFactor))
        SyncZoomCombo();
      if (r == ConvertResult::kDrawn &&
          ComposeCanvas(im->displayBitmap, pd.last.canvasWidth, pd.last.canvasHeight, pd.panX, pd.panY,
                        compose_[pane])) {
        drawn = true;
      } else {
        log_->Write(Format(SJ("画像表示(%d)をクリアしました"), pane - 1), kLogNormal, 3);
      }
    }
  }
  if (!drawn) {
    painter.fillRect(view->rect(), Qt::black);
    snapshots_[pane] = QImage();
    paintedImage_[pane] = false;
  } else {
    QImage& canvas = compose_[pane];
    // Hooks, snapshot and frame work in canvas (device) pixels; the ratio is set only
    // for the copy to the screen.
    canvas.setDevicePixelRatio(1.0);
    {
      QPainter graphics(&canvas);
      if (paneGraphicsHook) paneGraphicsHook(pane, graphics);
      if (overlayHook) overlayHook(pane, graphics);
    }
    snapshots_[pane] = canvas.copy();
    if (pane == activePane_)
      DrawActiveFrame(canvas, ColorFromBgr(settings_.selectFrame1), ColorFromBgr(settings_.selectFrame2));
    canvas.setDevicePixelRatio(dpr);
    painter.drawImage(QPointF(0, 0), canvas);
    // The pane window can be up to 3 pixels wider than the canvas.
    const double shownWidth = canvas.width() / dpr, shownHeight = canvas.height() / dpr;
    if (view->width() > shownWidth)
      painter.fillRect(QRectF(shownWidth, 0, view->width() - shownWidth, view->height()), Qt::black);
    if (view->height() > shownHeight)
      painter.fillRect(QRectF(0, shownHeight, view->width(), view->height() - shownHeight), Qt::black);
    paintedImage_[pane] = true;
    log_->Write(Format(SJ("画像(%d)を表示"), pane - 1), kLogNormal, 3);
  }
  notifier_->EndPaint();
  emit panePainted(pane);
}

void MainDialog::OnPaneDoubleClicked(int pane) {
  if (!PaneImage(pane)) return;
  if (pane != activePane_) SetActivePane(pane);
  enlarged_ = !enlarged_;
  UpdateModeButtons();
  LayOut();
  RepaintPane(0, true);
  emit activePaneChanged(activePane_);  // the lists follow the active pane
}

void MainDialog::OnPaneMouse(int pane, QMouseEvent* event) {
  PaneView* view = pane == 1 ? leftPane : rightPane;
  const QPoint pos = view->DevicePosition(event->position());
  DicomImage* im = PaneImage(pane);
  PaneDisplay& pd = panes_[pane];
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      if (!im) return;
      if (event->button() == Qt::LeftButton) {
        if (pane != activePane_) {  // the first click on an inactive pane only activates it
          SetActivePane(pane);
          view->setFocus();
          return;
        }
        view->setFocus();
        if (mouseMode_[pane] == PaneMouseMode::kZoom) {
          zoomDragging_[pane] = true;
          zoomDragLast_[pane] = pos;
        }
        emit paneMousePressed(pane, pos, event->button(), event->modifiers());
      } else if (event->button() == Qt::RightButton && !panning_[pane]) {
        if (pane != activePane_) SetActivePane(pane);
        panning_[pane] = true;
        panLast_[pane] = pos;
        view->setCursor(Qt::SizeAllCursor);
      }
      return;
    }
    case QEvent::MouseMove: {
      if (zoomDragging_[pane] && (event->buttons() & Qt::LeftButton) && im) {
        const QPoint d = pos - zoomDragLast_[pane];
        zoomDragLast_[pane] = pos;
        if (DragZoom(pd, d.x(), d.y(), *im, render_.pitch)) {
          SyncZoomCombo();
          RepaintPane(pane, true);
        }
      }
      if (panning_[pane] && im) {
        const QPoint d = pos - panLast_[pane];
        panLast_[pane] = pos;
        pd.panX -= d.x();
        pd.panY -= d.y();
        ClampPan(pd, pd.last);
        RepaintPane(pane, false);
      }
      emit paneMouseMoved(pane, pos, event->buttons());
      return;
    }
    case QEvent::MouseButtonRelease: {
      if (event->button() == Qt::LeftButton) zoomDragging_[pane] = false;
      if (event->button() == Qt::RightButton && panning_[pane]) {
        panning_[pane] = false;
        view->unsetCursor();
        if (combined_) {  // in combined mode both panes keep the same view
          for (int p = 1; p <= 2; ++p) {
            if (p == pane || !PaneImage(p)) continue;
            panes_[p].panX = pd.panX;
            panes_[p].panY = pd.panY;
            panes_[p].hasPan = pd.hasPan;
          }
          RepaintPane(0, false);
        }
      }
      emit paneMouseReleased(pane, pos, event->button());
      return;
    }
    default:
      return;
  }
}

// ---- display modes ----

void MainDialog::SetSeparateMode(bool separate) {
  combined_ = !separate;
  UpdateModeButtons();
}

void MainDialog::UpdateModeButtons() {
  {
    const QSignalBlocker b1(separateButton), b2(combineButton);
    separateButton->setChecked(!combined_);
    combineButton->setChecked(combined_);
  }
  // MPR and MIP work on the left pane of the separate display only; the slice line
  // also needs both panes on screen.
  const bool volumeTools = !combined_ && activePane_ == 1;
  mprButton->setEnabled(volumeTools && !enlarged_);
  mipButton->setEnabled(volumeTools);
  sliceLineButton->setEnabled(volumeTools && !enlarged_);
  if (!sliceLineButton->isEnabled()) {
    const QSignalBlocker b(sliceLineButton);
    sliceLineButton->setChecked(false);
  }
}

// ---- display controls ----

void MainDialog::SyncZoomCombo() {
  const QString text = QString::fromStdString(ZoomText(panes_[activePane_].zoomFactor));
  const QSignalBlocker b(zoomCombo);
  const int i = zoomCombo->findText(text);
  if (i >= 0)
    zoomCombo->setCurrentIndex(i);
  else
    zoomCombo->setEditText(text);
}

void MainDialog::SyncDisplayControls() {
  if (!negativeButton) return;
  const PaneDisplay& pd = panes_[activePane_];
  auto set = [](QToolButton* b, bool on) {
    const QSignalBlocker blocker(b);
    b->setChecked(on);
  };
  set(negativeButton, pd.negative);
  set(paletteButton, pd.paletteColour);
  set(noiseButton, pd.noiseRemoval);
  set(sharpenButton, pd.sharpen);
  set(flipHorizontalButton, pd.flipHorizontal != 0);
  set(flipVerticalButton, pd.flipVertical != 0);
  set(rotateLeftButton, pd.rotateLeft);
  set(rotateRightButton, pd.rotateRight);
  set(levelWidthDragButton, mouseMode_[activePane_] == PaneMouseMode::kLevelWidth);
  set(zoomDragButton, mouseMode_[activePane_] == PaneMouseMode::kZoom);
  SyncZoomCombo();
  // The filters work on grey pictures only.
  const DicomImage* im = loadContext_.Slot(activePane_);
  const bool grey = !(im && im->extracted && im->isColour);
  noiseButton->setEnabled(grey);
  sharpenButton->setEnabled(grey);
}

void MainDialog::ConnectDisplayControls() {
  connect(separateButton, &QToolButton::clicked, this, [this] {
    SetSeparateMode(true);
  });
  connect(combineButton, &QToolButton::clicked, this, [this] {
    SetSeparateMode(false);
  });
  connect(overlayButton, &QToolButton::clicked, this, [this] {
    overlayLevel_ -= 1;
    if (overlayLevel_ < -1) overlayLevel_ = 1;
    RepaintPane(0, false);
  });

  // Flags that act on the active pane, or on both panes in combined mode.
  auto toggleBoth = [this](QToolButton* b, auto apply, bool conversion) {
    connect(b, &QToolButton::toggled, this, [this, apply, conversion](bool on) {
      for (int p : TargetPanes()) {
        apply(panes_[p], on);
        RepaintPane(p, conversion);
      }
    });
  };
  toggleBoth(negativeButton, [](PaneDisplay& d, bool on) { d.negative = on; }, false);
  toggleBoth(paletteButton, [](PaneDisplay& d, bool on) { d.paletteColour = on; }, true);
  toggleBoth(flipHorizontalButton, [](PaneDisplay& d, bool on) { SetFlipHorizontal(d, on); }, true);
  toggleBoth(flipVerticalButton, [](PaneDisplay& d, bool on) { SetFlipVertical(d, on); }, true);
  // The filters act on the active pane only.
  connect(noiseButton, &QToolButton::toggled, this, [this](bool on) {
    panes_[activePane_].noiseRemoval = on;
    RepaintPane(activePane_, true);
  });
  connect(sharpenButton, &QToolButton::toggled, this, [this](bool on) {
    panes_[activePane_].sharpen = on;
    RepaintPane(activePane_, true);
  });

  // Rotation buttons: at most one is on.
  auto rotate = [this](bool left, bool on) {
    const int32_t angle = ParseRotationAngle(rotationCombo->currentText().toStdString());
    for (int p : TargetPanes()) {
      if (left)
        SetRotateLeft(panes_[p], on, angle);
      else
        SetRotateRight(panes_[p], on, angle);
      RepaintPane(p, true);
    }
    QToolButton* other = left ? rotateRightButton : rotateLeftButton;
    if (on) {
      const QSignalBlocker b(other);
      other->setChecked(false);
    }
  };
  connect(rotateLeftButton, &QToolButton::toggled, this, [rotate](bool on) { rotate(true, on); });
  connect(rotateRightButton, &QToolButton::toggled, this, [rotate](bool on) { rotate(false, on); });
  connect(rotationCombo, &QComboBox::activated, this, [this](int) {
    if (RotationComboChanged(panes_[activePane_], rotationCombo->currentText().toStdString(), false))
      RepaintPane(activePane_, true);
  });
  connect(rotationCombo->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
    if (RotationComboChanged(panes_[activePane_], text.toStdString(), true)) RepaintPane(activePane_, true);
  });

  // Zoom.
  connect(zoomDragButton, &QToolButton::toggled, this, [this](bool on) {
    SetMouseMode(activePane_, on ? PaneMouseMode::kZoom : PaneMouseMode::kNone);
  });
  auto scaleMode = [this](ScaleMode mode) {
    for (int p : TargetPanes()) {
      DicomImage* im = PaneImage(p);
      if (!im || !im->extracted) continue;
      SetScaleMode(panes_[p], mode, *im, render_.pitch);
      RepaintPane(p, true);
    }
    SyncZoomCombo();
  };
  connect(fitButton, &QToolButton::clicked, this, [scaleMode] { scaleMode(ScaleMode::kFit); });
  connect(actualSizeButton, &QToolButton::clicked, this, [scaleMode] { scaleMode(ScaleMode::kActualSize); });
  connect(oneToOneButton, &QToolButton::clicked, this, [scaleMode] { scaleMode(ScaleMode::kOneToOne); });
  connect(zoomCombo, &QComboBox::activated, this, [this](int index) {
    DicomImage* im = PaneImage(activePane_);
    if (!im || !im->extracted) return;
    if (SelectZoomItem(panes_[activePane_], zoomCombo->itemText(index).toStdString(), *im, render_.pitch))
      RepaintPane(activePane_, true);
  });
  connect(zoomCombo->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
    DicomImage* im = PaneImage(activePane_);
    if (!im || !im->extracted) return;
    if (EditZoomText(panes_[activePane_], text.toStdString(), *im, render_.pitch)) RepaintPane(activePane_, true);
  });
}

}  // namespace velmo::ui
