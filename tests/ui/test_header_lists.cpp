// The "ヘッダ情報" lists and the image-information overlay in the main window: rows of
// the pane's image, language and binary switches, selection and deselection with the
// caption drawn on the image, copy, text export, the tag menu, and the overlay levels.
#include <QApplication>
#include <QClipboard>
#include <QDirIterator>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>

#include "base/install.h"
#include "base/text.h"
#include "header/header_rows.h"
#include "header/ui/header_lists.h"
#include "render/ui/image_overlay.h"
#include "render/ui/pane_view.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/message_notifier.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"
#include "ui_install.h"

using namespace velmo;
using namespace velmo::ui;

class HeaderListsTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString study_;

  // A private installation: the staged Config (group folders included) and Master.
  void Install(const std::string& era = "西暦") {
    QVERIFY(velmo::ui::testing::MakeUiInstallation(dir_.path() + "/home", {{"リスト=患者", "リスト=画像"}, {"年号=西暦", "年号=" + era}}));
  }

  std::unique_ptr<MainDialog> Open(const std::vector<std::string>& paths) {
    auto w = std::make_unique<MainDialog>(paths);
    if (!w->initialised()) return nullptr;
    static_cast<MessageNotifier&>(w->notifier()).SetUnattended(true);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) return nullptr;
    w->resize(1000, 900);
    if (!QTest::qWaitFor([&] { return w->startupIntakeDone(); }, 20000)) return nullptr;
    QCoreApplication::processEvents();
    w->leftTabs->setCurrentIndex(1);  // "ヘッダ情報"
    QCoreApplication::processEvents();
    w->leftPane->repaint();
    return w;
  }

  static QImage Snapshot(MainDialog& w, int pane) {
    (pane == 1 ? w.leftPane : w.rightPane)->repaint();
    return w.Snapshot(pane).convertToFormat(QImage::Format_RGB32);
  }
  static int Differences(const QImage& a, const QImage& b, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
  }
  static int RowOf(QTreeWidget* list, const char* group, const char* element) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      if (list->topLevelItem(i)->text(0) == group && list->topLevelItem(i)->text(1) == element) return i;
    return -1;
  }
  static void ClickRow(QTreeWidget* list, int row) {
    QTreeWidgetItem* item = list->topLevelItem(row);
    list->scrollToItem(item);
    const QRect r = list->visualItemRect(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(r.left() + 10, r.center().y()));
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    study_ = dir_.path() + "/study";
    QProcess sample;
    sample.start(QStringLiteral(VELMO_BIN_DIR) + "/velmo-sample", {study_});
    QVERIFY(sample.waitForFinished(60000));
    QCOMPARE(sample.exitCode(), 0);
  }
  void init() { Install(); }

  void listShowsEveryElementInBothLanguages() {
    auto w = Open({(study_ + "/CT0001.dcm").toStdString()});
    QVERIFY(w);
    auto* list = w->findChild<QTreeWidget*>("1010");
    QVERIFY(list);
    HeaderLists& h = *w->headerLists;
    const DicomImage* im = w->PaneImage(1);
    QVERIFY(im);
    const std::vector<HeaderRow> rows = BuildHeaderRows(*im, h.dictionaries(), {});
    QVERIFY(rows.size() > 20);
    QCOMPARE(list->topLevelItemCount(), static_cast<int>(rows.size()));
    QCOMPARE(list->headerItem()->text(2), QString::fromUtf8("名前"));
    const int nameRow = RowOf(list, "0010", "0010");
    QVERIFY(nameRow >= 0);
    QCOMPARE(list->topLevelItem(nameRow)->text(2), QString::fromUtf8("患者名"));
    QCOMPARE(list->columnWidth(6), 400);

    // Select the patient's name, then switch to English: the selection survives.
    ClickRow(list, nameRow);
    QVERIFY(h.rowSelected(1));
    QCOMPARE(QString::fromStdString(Utf8FromSjis(h.selectionCaption(1))),
             QString::fromUtf8("( 0010,0010 ) 患者名"));
    w->findChild<QToolButton*>("1093")->click();
    QCOMPARE(list->headerItem()->text(2), QString("Name"));
    QCOMPARE(list->topLevelItem(nameRow)->text(2), QString("Patient's Name"));
    QVERIFY(list->topLevelItem(nameRow)->isSelected());
    QCOMPARE(QString::fromStdString(h.selectionCaption(1)), QString("( 0010,0010 ) Patient's Name"));
    QVERIFY(w->findChild<QToolButton*>("1093")->isChecked());
    QVERIFY(!w->findChild<QToolButton*>("1092")->isChecked());

    // Binary: every value as bytes.
    w->findChild<QToolButton*>("1152")->click();
    QVERIFY(h.binary(1));
    const int rowsRow = RowOf(list, "0028", "0010");
    QVERIFY(rowsRow >= 0);
    QVERIFY(list->topLevelItem(rowsRow)->text(6).contains(QRegularExpression("^[0-9A-F]{2} [0-9A-F]{2} $")));
    w->findChild<QToolButton*>("1152")->click();
    QVERIFY(list->topLevelItem(rowsRow)->text(6).endsWith("    "));  // US: the number and four spaces

    // The right list shows the right pane's image (nothing yet).
    if (!w->PaneImage(2)) QCOMPARE(w->findChild<QTreeWidget*>("1011")->topLevelItemCount(), 0);
  }

  void selectionIsDrawnAndSecondClickDeselects() {
    auto w = Open({(study_ + "/CT0001.dcm").toStdString()});
    QVERIFY(w);
    auto* list = w->findChild<QTreeWidget*>("1010");
    HeaderLists& h = *w->headerLists;
    const QImage before = Snapshot(*w, 1);
    const int row = RowOf(list, "0008", "0060");
    QVERIFY(row >= 0);
    ClickRow(list, row);
    QVERIFY(h.rowSelected(1));
    QCOMPARE(QString::fromStdString(h.selectedValue(1)), QString("CT"));
    const QImage selected = Snapshot(*w, 1);
    // The caption and value lines appear below the upper-left corner.
    QVERIFY(Differences(before, selected, QRect(0, 0, selected.width() / 2, selected.height() / 2)) > 20);
    // Copy puts the value on the clipboard.
    w->findChild<QToolButton*>("1127")->click();
    QCOMPARE(QApplication::clipboard()->text(), QString("CT"));
    // A second click on the same row deselects and removes the lines.
    ClickRow(list, row);
    QVERIFY(!h.rowSelected(1));
    QVERIFY(h.selectionCaption(1).empty());
    QCOMPARE(Differences(before, Snapshot(*w, 1), before.rect()), 0);
    // A third click selects it again.
    ClickRow(list, row);
    QVERIFY(h.rowSelected(1));
  }

  void saveTextWritesTheListAndTheMenuOffersEditing() {
    auto w = Open({(study_ + "/CT0001.dcm").toStdString()});
    QVERIFY(w);
    HeaderLists& h = *w->headerLists;
    QString initial;
    const QString path = dir_.path() + "/header.txt";
    h.saveFileNameOverride = [&](int, const QString& name) {
      initial = name;
      return path;
    };
    w->findChild<QToolButton*>("1125")->click();
    QCOMPARE(initial, QString("VELMO-0001"));
    const std::vector<uint8_t> bytes = test::ReadBytes(path.toStdString());
    const std::string expected = HeaderText(h.rows(1), false);
    QCOMPARE(std::string(bytes.begin(), bytes.end()), expected);
    QVERIFY(expected.find("\r\n") != std::string::npos);
    // Cancelling writes nothing.
    QFile::remove(path);
    h.saveFileNameOverride = [](int, const QString&) { return QString(); };
    w->findChild<QToolButton*>("1125")->click();
    QVERIFY(!QFile::exists(path));
    QVERIFY(h.copyValueAction->isEnabled());
    // The editing area enables the three editing commands.
    QVERIFY(h.editTagAction->isEnabled() && h.addTagAction->isEnabled() && h.deleteTagAction->isEnabled());
    QCOMPARE(h.tagMenu()->actions().size(), 4);
  }

  void overlayLevelsAndEraDates() {
    Install("和暦");
    auto w = Open({(study_ + "/CT0001.dcm").toStdString()});
    QVERIFY(w);
    const OverlayTexts t = w->imageOverlay->Texts(1);
    QVERIFY(t.corners[kUpLeft].size() >= 2);
    QCOMPARE(QString::fromStdString(Utf8FromSjis(t.corners[kUpRight][1])), QString::fromUtf8("令和6年1月15日"));
    QVERIFY(!t.levelWidth.empty());
    const QImage level1 = Snapshot(*w, 1);
    w->overlayButton->click();  // level 0: level-1 lines and level/width hidden
    QCOMPARE(w->overlayLevel(), 0);
    const OverlayTexts t0 = w->imageOverlay->Texts(1);
    QVERIFY(t0.levelWidth.empty());
    QVERIFY(t0.corners[kUpRight][0].empty());  // the institution is a level-1 line
    const QImage level0 = Snapshot(*w, 1);
    w->overlayButton->click();  // level -1: nothing
    const QImage none = Snapshot(*w, 1);
    const QRect upperLeft(0, 0, 120, 60);
    QVERIFY(Differences(level1, none, upperLeft) > 50);
    QVERIFY(Differences(level0, none, upperLeft) > 50);  // name and ID are level 0
    const QRect lowerLeft(0, none.height() - 30, 80, 30);
    QVERIFY(Differences(level1, none, lowerLeft) > 10);  // "W:" line
    QCOMPARE(Differences(level0, none, lowerLeft), 0);
  }

  // Speed (Qt Test benchmarks, reported, not asserted): a list of a 1,000-element
  // header filled and painted, and the overlay of one pane drawn.
  void benchmarkFillAndPaintThousandRows() {
    test::DicomWriter w(1);
    for (int i = 0; i < 998; ++i) w.Text(0x0020, static_cast<uint16_t>(0x4000 + (i % 2)), "LT", "row " + std::to_string(i));
    w.PixelData(test::Bytes(4, 0));
    DicomImage im;
    im.headerCopy = test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
    im.preambleSize = 132;
    im.headerSize = static_cast<int32_t>(im.headerCopy.size());
    im.syntaxType = 1;
    QWidget window;
    window.resize(800, 600);
    auto* tree = new QTreeWidget(&window);
    tree->resize(800, 600);
    window.show();
    HeaderListsHost host;
    host.window = &window;
    host.lists[0] = tree;
    host.paneImage = [&im](int) -> const DicomImage* { return &im; };
    HeaderLists lists(host);
    QBENCHMARK {
      lists.ShowHeader(1);
      tree->repaint();
    }
    QVERIFY(tree->topLevelItemCount() >= 1000);
  }

  void benchmarkDrawOverlayOfOnePane() {
    auto w = Open({(study_ + "/CT0001.dcm").toStdString()});
    QVERIFY(w);
    QImage canvas(512, 512, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QBENCHMARK {
      QPainter p(&canvas);
      w->imageOverlay->DrawOverlay(1, p);
    }
    QVERIFY(canvas != QImage(512, 512, QImage::Format_RGB32));
  }
};

QTEST_MAIN(HeaderListsTest)
#include "test_header_lists.moc"
