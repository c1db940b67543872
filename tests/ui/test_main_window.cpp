// The main window: pane layout, painting of the panes, the active frame, negative,
// the enlarged layout, display modes, the image-information level, control ids and
// captions, the window rectangle and the state written on close.
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>

#include "render/geometry.h"
#include "render/ui/pane_view.h"
#include "base/install.h"
#include "base/settings.h"
#include "base/text.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/message_notifier.h"
#include "support/test_util.h"
#include "ui_install.h"

using namespace velmo;
using namespace velmo::ui;

namespace {

// Counts pixels of an image that are not black.
int NonBlack(const QImage& img, QRect area = {}) {
  if (img.isNull()) return 0;
  if (area.isNull()) area = img.rect();
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((img.pixel(x, y) & 0xFFFFFF) != 0) ++n;
  return n;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString study_;  // the sample study: 40 CT slices, one colour and one multi-frame image

  // A private installation: the staged Config and Icon folders, Velmo.ini edited by
  // `edit` (UTF-8 text in, converted to Shift-JIS).
  void Install(const std::function<void(std::string&)>& edit = {}) {
    QVERIFY(velmo::ui::testing::MakeUiInstallation(dir_.path() + "/home",
                                        {{"画像の表示方法=結合表示", "画像の表示方法=分離表示"}, {"リスト=患者", "リスト=画像"}},
                                        edit));
  }

  // Opens the window on `paths` with a client area of `client` and waits for the
  // start-up intake and both panes' paint.
  std::unique_ptr<MainDialog> Open(const std::vector<std::string>& paths, QSize client = {1000, 700}) {
    auto w = std::make_unique<MainDialog>(paths);
    if (!w->initialised()) return nullptr;
    static_cast<MessageNotifier&>(w->notifier()).SetUnattended(true);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) return nullptr;
    w->resize(w->size() + (client - w->client->size()));
    if (!QTest::qWaitFor([&] { return w->startupIntakeDone(); }, 20000)) return nullptr;
    QCoreApplication::processEvents();
    w->leftPane->repaint();
    w->rightPane->repaint();
    return w;
  }

  // Index of the file-table entry whose path ends with `name`.
  static int EntryOf(MainDialog& w, const char* name) {
    for (int i = 0; i < w.fileTable().validCount.load(); ++i)
      if (QString::fromStdString(w.fileTable().Record(i).filePath).endsWith(name)) return i;
    return -1;
  }

  static QImage PaintedSnapshot(MainDialog& w, int pane) {
    (pane == 1 ? w.leftPane : w.rightPane)->repaint();
    return w.Snapshot(pane).convertToFormat(QImage::Format_RGB32);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    study_ = dir_.path() + "/study";
    QProcess sample;
    sample.start(QStringLiteral(VELMO_BIN_DIR) + "/velmo-sample", {study_});
    QVERIFY(sample.waitForFinished(60000));
    QCOMPARE(sample.exitCode(), 0);
    QVERIFY(QFile::exists(study_ + "/CT0001.dcm"));
  }

  void init() { Install(); }

  void layoutArithmetic() {
    PaneLayout l = ComputePaneLayout(1000, 700, false, 1);
    QCOMPARE(l.half, 500);
    QCOMPARE(l.paneHeight, 470);
    QCOMPARE(l.canvasWidth, 500);
    QCOMPARE(l.canvasHeight, 470);
    QCOMPARE(l.side, 470);
    QCOMPARE(l.rightX, 500);
    l = ComputePaneLayout(1002, 700, false, 1);
    QCOMPARE(l.half, 501);
    QCOMPARE(l.canvasWidth, 500);
    QCOMPARE(l.rightX, 501);
    // Enlarged with the right pane active: only it, over the whole width.
    l = ComputePaneLayout(1003, 700, true, 2);
    QCOMPARE(l.rightX, 0);
    QCOMPARE(l.rightWidth, 1003);
    QCOMPARE(l.leftWidth, 0);
    QCOMPARE(l.canvasWidth, 1000);
    // Below the strip height nothing is left for the panes.
    l = ComputePaneLayout(800, 200, false, 1);
    QCOMPARE(l.paneHeight, 0);
    QCOMPARE(l.side, 0);
    // Device pixels at 200 %.
    l = ComputePaneLayout(1000, 700, false, 1, 2.0);
    QCOMPARE(l.canvasWidth, 1000);
    QCOMPARE(l.canvasHeight, 940);
  }

  void snapshotBlockAndColours() {
    QImage img(8, 2, QImage::Format_RGB32);
    img.fill(QColor(10, 20, 30));
    img.setPixel(0, 0, qRgb(1, 2, 3));  // top-left: the last row of the block
    const std::vector<uint8_t> block = SnapshotBlock(img);
    QCOMPARE(block.size(), size_t(40 + 8 * 2 * 4));
    QCOMPARE(int(block[0]), 40);
    QCOMPARE(int(block[4]), 8);
    QCOMPARE(int(block[8]), 2);
    QCOMPARE(int(block[14]), 32);
    QCOMPARE(int(block[24]) | int(block[25]) << 8, 3780);
    const uint8_t* topRow = block.data() + 40 + 8 * 4;  // rows are bottom-up
    QCOMPARE(int(topRow[0]), 3);  // blue, green, red, 0
    QCOMPARE(int(topRow[1]), 2);
    QCOMPARE(int(topRow[2]), 1);
    QCOMPARE(int(topRow[3]), 0);
    QCOMPARE(ColorFromBgr(0x00FF8040), QColor(0x40, 0x80, 0xFF));
  }

  void composeClipsAndMirrors() {
    // An 8-bit bitmap 4 x 2: bottom row index 1, top row index 2; table i -> (i, i, i).
    std::vector<uint8_t> bmp(1078 + 4 * 2 * 2, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    auto put = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) bmp[at + i] = uint8_t(v >> (8 * i));
    };
    put(10, 1078);
    put(14, 40);
    put(18, 4);
    put(22, 2);
    bmp[28] = 8;
    for (int i = 0; i < 256; ++i) bmp[54 + i * 4] = bmp[55 + i * 4] = bmp[56 + i * 4] = uint8_t(i * 50);
    for (int x = 0; x < 4; ++x) {
      bmp[1078 + x] = 1;
      bmp[1078 + 4 + x] = 2;
    }
    QImage out;
    QVERIFY(ComposeCanvas(bmp, 4, 3, 0, 0, out));
    QCOMPARE(qRed(out.pixel(0, 0)), 100);  // top row first
    QCOMPARE(qRed(out.pixel(0, 1)), 50);
    QCOMPARE(out.pixel(0, 2) & 0xFFFFFF, 0u);  // below the bitmap: black
    bmp.resize(1078 + 4);  // pixels missing: refused
    QVERIFY(!ComposeCanvas(bmp, 4, 3, 0, 0, out));
  }

  void controlsHaveIdsAndCaptions() {
    auto w = Open({});
    QVERIFY(w);
    const std::pair<const char*, const char*> captions[] = {
        {"1045", "患者"}, {"1046", "検査"}, {"1047", "ｼﾘｰｽﾞ"}, {"1048", "画像"}, {"1012", "ｸﾘｱ"},
        {"1009", "更新"}, {"1006", "ﾌｫﾙﾀﾞ"}, {"1004", "ﾌｧｲﾙ"}, {"1092", "日本語"}, {"1093", "英語"},
        {"2011", "日本語"}, {"2012", "英語"}, {"1152", "ﾊﾞｲﾅﾘ表記"}, {"1153", "ﾊﾞｲﾅﾘ表記"},
        {"1127", "値のｺﾋﾟｰ"}, {"1137", "値のｺﾋﾟｰ"}, {"1125", "ﾃｷｽﾄ保存"}, {"1126", "ﾃｷｽﾄ保存"},
        {"1096", "分離表示"}, {"1095", "結合表示"}, {"1071", "L W 変更"}, {"1075", "白黒反転"},
        {"1091", "ﾊﾟﾚｯﾄｶﾗｰ"}, {"1098", "L/W\n固定"}, {"1195", "ｽﾞｰﾑ"}, {"1192", "全体"}, {"1193", "100%"},
        {"1194", "実寸"}, {"1081", "左右"}, {"1082", "上下"}, {"1083", "左回転"}, {"1094", "右回転"},
        {"1089", "鮮鋭化"}, {"1087", "ﾉｲｽﾞ除去"}, {"1073", "距離"}, {"1074", "角度"}, {"1088", "心胸郭比"},
        {"1097", "ﾋﾟｸｾﾙ値"}, {"1084", "ROI ○"}, {"1085", "ROI □"}, {"1076", "選択"}, {"1078", "削除"},
        {"1072", "ｽﾗｲｽﾗｲﾝ"}, {"1077", "MPR"}, {"1086", "MIP"}, {"1148", "<"}, {"1149", "■"}, {"1147", ">"},
        {"1196", "画像情報"}, {"1118", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ 画面ｷｬﾌﾟﾁｬ"}, {"1119", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ 画像のみ"},
        {"1120", "ﾌｧｲﾙ保存 画面ｷｬﾌﾟﾁｬ"}, {"1121", "ﾌｧｲﾙ保存 画像のみ"}, {"1122", "印刷"}};
    for (const auto& [id, caption] : captions) {
      const auto found = w->findChildren<QToolButton*>(id);
      QVERIFY2(found.size() == 1, id);
      QCOMPARE(found.first()->text(), QString::fromUtf8(caption));
    }
    for (const char* id : {"1001", "1005", "1031", "1032", "1010", "1011", "1136", "1132", "1053", "1055", "1056",
                           "1057", "1060", "1061", "1058", "1054", "1142", "1174"})
      QVERIFY2(w->findChildren<QWidget*>(id).size() == 1, id);
    // A missing picture leaves the caption; a present one replaces it on screen.
    QVERIFY(!w->fitButton->icon().isNull());
    QVERIFY(w->findChild<QToolButton*>("1118")->icon().isNull());
    // Program buttons without a caption are hidden.
    for (QToolButton* b : w->programButtons) QVERIFY(b->isHidden());
    QCOMPARE(w->windowTitle(), QString::fromUtf8("Velmo  ﾊﾞｰｼﾞｮﾝ ") + QString::fromUtf8(VELMO_VERSION));
    // Tabs: the first pages show their groups, the others are hidden until chosen.
    QVERIFY(w->fileListHost->isVisible());
    QVERIFY(!w->leftHeaderList->isVisible());
    QVERIFY(w->negativeButton->isVisible());
    w->leftTabs->setCurrentIndex(1);
    w->rightTabs->setCurrentIndex(1);
    QVERIFY(!w->fileListHost->isVisible());
    QVERIFY(w->leftHeaderList->isVisible());
    QVERIFY(w->rightHeaderList->isVisible());
    QVERIFY(!w->negativeButton->isVisible());
    // The version item sits in the help menu.
    QStringList items;
    for (QAction* menu : w->menuBar()->actions()) {
      items << menu->text();
      if (menu->menu())
        for (QAction* a : menu->menu()->actions()) items << a->text();
    }
    for (const char* t : {"ﾌｧｲﾙ(&F)", "開く(&O)", "終了(&X)", "設定(&S)", "設定", "ｸﾞﾙｰﾌﾟの設定", "画像情報の設定", "ﾛｸﾞ(&L)",
                          "ﾍﾙﾌﾟ(&H)", "Velmo のﾊﾞｰｼﾞｮﾝ情報(&A)...", "OSのﾊﾞｰｼﾞｮﾝ情報"})
      QVERIFY2(items.contains(QString::fromUtf8(t)), t);
  }

  void openingAFolderPaintsTheLeftPane() {
    auto w = Open({study_.toStdString()});
    QVERIFY(w);
    QCOMPARE(w->leftPane->geometry(), QRect(0, 0, 500, 470));
    QCOMPARE(w->rightPane->geometry(), QRect(500, 0, 500, 470));
    QVERIFY(w->fileTable().validCount.load() >= 40);
    QVERIFY(w->loadContext().viewIndex[1] >= 0);
    const QImage snap = PaintedSnapshot(*w, 1);
    QCOMPARE(snap.size(), QSize(500, 470));
    QVERIFY(NonBlack(snap) > 500 * 470 / 10);
    // The right pane shows nothing yet and is black.
    QVERIFY(w->Snapshot(2).isNull());
    QCOMPARE(NonBlack(w->rightPane->grab().toImage()), 0);

    // The screen shows the active frame; the snapshot does not.
    const QImage screen = w->leftPane->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int y = 470 / 2;
    QCOMPARE(QColor(screen.pixel(2, y)), ColorFromBgr(w->settings().selectFrame2));
    QCOMPARE(QColor(screen.pixel(1, y)), ColorFromBgr(w->settings().selectFrame1));
    QCOMPARE(QColor(screen.pixel(3, y)), ColorFromBgr(w->settings().selectFrame1));
    QVERIFY(QColor(snap.pixel(2, y)) != ColorFromBgr(w->settings().selectFrame2));

    // Showing an image in the right pane and clicking it moves the frame there.
    QVERIFY(w->ShowEntry(2, EntryOf(*w, "CT0010.dcm")));
    QTest::mouseClick(w->rightPane, Qt::LeftButton, {}, QPoint(250, 235));
    QCOMPARE(w->activePane(), 2);
    const QImage left = w->leftPane->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage right = w->rightPane->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QVERIFY(QColor(left.pixel(2, y)) != ColorFromBgr(w->settings().selectFrame2));
    QCOMPARE(QColor(right.pixel(2, y)), ColorFromBgr(w->settings().selectFrame2));
  }

  void negativeInvertsGreyValues() {
    auto w = Open({study_.toStdString()});
    QVERIFY(w);
    // Compare the picture alone: overlay level 1 -> 0 -> -1 hides the overlay texts.
    w->overlayButton->click();
    w->overlayButton->click();
    QCOMPARE(w->overlayLevel(), -1);
    const QImage before = PaintedSnapshot(*w, 1);
    QVERIFY(NonBlack(before) > 0);
    w->negativeButton->click();
    QVERIFY(w->paneDisplay(1).negative);
    QVERIFY(!w->paneDisplay(2).negative);  // separate mode: the active pane only
    const QImage after = PaintedSnapshot(*w, 1);
    QCOMPARE(after.size(), before.size());
    for (int y = 0; y < before.height(); y += 3)
      for (int x = 0; x < before.width(); x += 3) {
        const QRgb a = before.pixel(x, y), b = after.pixel(x, y);
        if (qRed(b) != 255 - qRed(a) || qGreen(b) != 255 - qGreen(a))
          QFAIL(qPrintable(QString("pixel %1,%2: %3 -> %4").arg(x).arg(y).arg(qRed(a)).arg(qRed(b))));
      }
    // Toggling back restores the picture exactly.
    w->negativeButton->click();
    QCOMPARE(PaintedSnapshot(*w, 1), before);
  }

  void combinedModeActsOnBothPanesAndDisablesVolumeTools() {
    auto w = Open({study_.toStdString()});
    QVERIFY(w);
    QVERIFY(!w->combinedMode());
    QVERIFY(w->mprButton->isEnabled());
    QVERIFY(w->mipButton->isEnabled());
    w->combineButton->click();
    QVERIFY(w->combinedMode());
    QVERIFY(w->combineButton->isChecked());
    QVERIFY(!w->separateButton->isChecked());
    QVERIFY(!w->mprButton->isEnabled());
    QVERIFY(!w->mipButton->isEnabled());
    QVERIFY(!w->sliceLineButton->isEnabled());
    w->flipHorizontalButton->click();
    QCOMPARE(int(w->paneDisplay(1).flipHorizontal), 1);
    QCOMPARE(int(w->paneDisplay(2).flipHorizontal), 1);
    // The filters act on the active pane only, even in combined mode.
    w->noiseButton->click();
    QVERIFY(w->paneDisplay(1).noiseRemoval);
    QVERIFY(!w->paneDisplay(2).noiseRemoval);
    w->separateButton->click();
    QVERIFY(!w->combinedMode());
    QVERIFY(w->mprButton->isEnabled());
    QVERIFY(w->mipButton->isEnabled());
  }

  void enlargedLayoutPaintsOnePaneOverTheFullWidth() {
    auto w = Open({study_.toStdString()});
    QVERIFY(w);
    QVERIFY(w->ShowEntry(2, EntryOf(*w, "CT0020.dcm")));
    // Right pane: a double-click makes it active and enlarges it.
    QTest::mouseDClick(w->rightPane, Qt::LeftButton, {}, QPoint(250, 235));
    QVERIFY(w->enlargedLayout());
    QCOMPARE(w->activePane(), 2);
    QVERIFY(!w->leftPane->isVisible());
    QCOMPARE(w->rightPane->geometry(), QRect(0, 0, 1000, 470));
    const QImage snap = PaintedSnapshot(*w, 2);
    QCOMPARE(snap.size(), QSize(1000, 470));
    // The image sits in the middle of the full width: picture on both sides of x 500.
    QVERIFY(NonBlack(snap, QRect(300, 0, 200, 470)) > 1000);
    QVERIFY(NonBlack(snap, QRect(500, 0, 200, 470)) > 1000);
    // A second double-click returns to two panes, each painted again.
    QTest::mouseDClick(w->rightPane, Qt::LeftButton, {}, QPoint(500, 235));
    QVERIFY(!w->enlargedLayout());
    QCOMPARE(w->rightPane->geometry(), QRect(500, 0, 500, 470));
    QVERIFY(w->leftPane->isVisible());
    QCOMPARE(PaintedSnapshot(*w, 2).size(), QSize(500, 470));
    QVERIFY(NonBlack(PaintedSnapshot(*w, 1)) > 0);
  }

  void overlayLevelCycles() {
    auto w = Open({});
    QVERIFY(w);
    QCOMPARE(w->overlayLevel(), 1);
    w->overlayButton->click();
    QCOMPARE(w->overlayLevel(), 0);
    w->overlayButton->click();
    QCOMPARE(w->overlayLevel(), -1);
    w->overlayButton->click();
    QCOMPARE(w->overlayLevel(), 1);
  }

  void colourImageDisablesFilters() {
    auto w = Open({study_.toStdString()});
    QVERIFY(w);
    QVERIFY(w->sharpenButton->isEnabled());
    QVERIFY(w->ShowEntry(1, EntryOf(*w, "SC0001.dcm")));
    QVERIFY(!w->sharpenButton->isEnabled());
    QVERIFY(!w->noiseButton->isEnabled());
    QVERIFY(NonBlack(PaintedSnapshot(*w, 1)) > 0);
    QVERIFY(w->ShowEntry(1, EntryOf(*w, "CT0001.dcm")));
    QVERIFY(w->sharpenButton->isEnabled());
  }

  void zoomButtonsAndDrag() {
    auto w = Open({study_.toStdString()});
    QVERIFY(w);
    const QImage fit = PaintedSnapshot(*w, 1);
    w->oneToOneButton->click();  // 512 image pixels on 512 screen pixels: larger than 470
    QVERIFY(w->paneDisplay(1).oneToOneMode);
    const QImage one = PaintedSnapshot(*w, 1);
    QVERIFY(one != fit);
    w->fitButton->click();
    QVERIFY(w->paneDisplay(1).fitMode);
    QCOMPARE(PaintedSnapshot(*w, 1), fit);
    // Zoom drag: on, then dragging right and up enlarges; the combo follows.
    w->zoomDragButton->click();
    QCOMPARE(w->mouseMode(1), PaneMouseMode::kZoom);
    QVERIFY(!w->levelWidthDragButton->isChecked());
    const float before = w->paneDisplay(1).zoomFactor;
    QTest::mousePress(w->leftPane, Qt::LeftButton, {}, QPoint(200, 200));
    QMouseEvent move(QEvent::MouseMove, QPointF(240, 180), QPointF(240, 180), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(w->leftPane, &move);
    QTest::mouseRelease(w->leftPane, Qt::LeftButton, {}, QPoint(240, 180));
    QVERIFY(w->paneDisplay(1).zoomFactor > before + 0.2f);
    QCOMPARE(w->zoomCombo->currentText(), QString::fromStdString(ZoomText(w->paneDisplay(1).zoomFactor)));
    // Rotation buttons exclude each other.
    w->rotateLeftButton->click();
    QCOMPARE(w->paneDisplay(1).rotationAngle, 90);
    w->rotateRightButton->click();
    QVERIFY(!w->rotateLeftButton->isChecked());
    QCOMPARE(w->paneDisplay(1).rotationAngle, 270);
  }

  // The zoom box (1136) shows the active pane's factor after every conversion: at
  // start-up, after a resize and for an image of another size.
  void zoomBoxFollowsEveryConversion() {
    auto w = Open({study_.toStdString()});
    QVERIFY(w);
    auto* box = w->findChild<QComboBox*>("1136");
    QVERIFY(box);
    auto boxShows = [&] {
      PaintedSnapshot(*w, 1);
      return box->currentText() == QString::fromStdString(ZoomText(w->paneDisplay(1).zoomFactor));
    };
    QVERIFY(boxShows());
    QVERIFY(box->currentText() != "1.00");
    const float first = w->paneDisplay(1).zoomFactor;
    w->resize(w->size() + QSize(300, 200));
    QVERIFY(QTest::qWaitFor([&] { return w->paneDisplay(1).zoomFactor != first; }, 3000));
    QVERIFY(boxShows());
    w->ShowEntry(1, EntryOf(*w, "MF0001.dcm"));
    QVERIFY(boxShows());
  }

  // A typed zoom that fits the pane is lowered to the largest that fits when the
  // enlarged layout widens the canvas: the pane is still painted (it went black
  // before, with two allocation messages per repaint), the box shows the new factor.
  void zoomCapHoldsWhenTheLayoutChanges() {
    auto w = Open({study_.toStdString()}, {800, 560});
    QVERIFY(w);
    auto& notifier = static_cast<MessageNotifier&>(w->notifier());
    w->ShowEntry(1, EntryOf(*w, "MF0001.dcm"));
    auto* box = w->findChild<QComboBox*>("1136");
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), "160");
    QCOMPARE(w->paneDisplay(1).zoomFactor, 160.0f);
    QVERIFY(!PaintedSnapshot(*w, 1).isNull());
    QTest::mouseDClick(w->leftPane, Qt::LeftButton, {}, w->leftPane->rect().center());
    QVERIFY(w->enlargedLayout());
    QVERIFY(!PaintedSnapshot(*w, 1).isNull());
    QVERIFY(w->panePaintedImage(1));
    const float lowered = w->paneDisplay(1).zoomFactor;
    QVERIFY(lowered < 160.0f && lowered > 50.0f);
    QCOMPARE(box->currentText(), QString::fromStdString(ZoomText(lowered)));
    QCoreApplication::processEvents();
    QVERIFY(notifier.shown().empty());
  }

  void windowRectangleDefaultAndSavedOnClose() {
    // Off screen: a default size centred on the primary screen.
    Install([](std::string& t) {
      const size_t at = t.find("WndStartX=0");
      t.replace(at, std::string("WndStartX=0\nWndStartY=0\nWndEndX=0\nWndEndY=0").size(),
                "WndStartX=50000\nWndStartY=50000\nWndEndX=51000\nWndEndY=51000");
    });
    {
      MainDialog w(std::vector<std::string>{});
      QVERIFY(w.initialised());
      const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
      QVERIFY(avail.contains(w.geometry().center()));
      QVERIFY(qAbs(w.geometry().center().x() - avail.center().x()) <= 1);
    }
    // Inverted: the same default.
    Install([](std::string& t) {
      const size_t at = t.find("WndStartX=0");
      t.replace(at, std::string("WndStartX=0\nWndStartY=0\nWndEndX=0\nWndEndY=0").size(),
                "WndStartX=300\nWndStartY=300\nWndEndX=100\nWndEndY=100");
    });
    {
      MainDialog w(std::vector<std::string>{});
      QVERIFY(w.width() > 200);
    }
    // A usable rectangle is taken; closing writes it back with the state keys.
    Install([](std::string& t) {
      const size_t at = t.find("WndStartX=0");
      t.replace(at, std::string("WndStartX=0\nWndStartY=0\nWndEndX=0\nWndEndY=0").size(),
                "WndStartX=10\nWndStartY=20\nWndEndX=710\nWndEndY=620");
    });
    {
      MainDialog w(std::vector<std::string>{});
      QCOMPARE(w.geometry(), QRect(10, 20, 700, 600));
      w.combineButton->click();
      w.setGeometry(30, 40, 800, 650);
      w.close();
    }
    const Settings s = Settings::Load();
    QCOMPARE(s.window.left, 30);
    QCOMPARE(s.window.top, 40);
    QCOMPARE(s.window.right, 830);
    QCOMPARE(s.window.bottom, 690);
    QCOMPARE(s.displayMode, SJ("結合表示"));
  }

  // Not a pass/fail check: prints the cost of one window/level drag step (conversion,
  // composition and the copy to the screen) of a 512 x 512 CT in a 1000 x 700 window.
  void windowLevelStepCost() {
    auto w = Open({study_.toStdString()});
    QVERIFY(w);
    DicomImage* im = w->PaneImage(1);
    QVERIFY(im && im->rows == 512);
    const int steps = 100;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < steps; ++i) {
      im->level += (i & 1) ? -5 : 5;
      w->RepaintPane(1, true);
      w->leftPane->repaint();
    }
    const double ms = double(t.nsecsElapsed()) / 1e6 / steps;
    qInfo("window/level step (512x512 CT, 1000x700 window): %.2f ms", ms);
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
