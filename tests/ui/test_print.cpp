// Printing: the preview's frames take dropped pictures, a page printed to PDF through
// QPrinter puts them where the layout says (rendered with pdftoppm and measured in
// millimetres), pictures keep their shape, the black background and header band show,
// frames beyond the layout are skipped, a page without pictures is not printed, the
// layout is remembered in "印刷", a press on a pane starts no tool while the preview
// is open, and `velmo --print-pdf` prints the list in order.
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrinter>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>

#include "base/text.h"
#include "base/ui/qt_text.h"
#include "measure/ui/measurement_tool.h"
#include "shell/ui/message_notifier.h"
#include "shell/ui/print_preview.h"
#include "test_window_level_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::testing;

namespace {

constexpr int kDpi = 50;

// The first page of a PDF as a picture, or a null image.
QImage RenderPdf(const QString& pdf, const QString& folder) {
  QProcess p;
  p.start("pdftoppm", {"-r", QString::number(kDpi), "-png", "-singlefile", pdf, folder + "/page"});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return QImage();
  return QImage(folder + "/page.png").convertToFormat(QImage::Format_RGB32);
}

QImage Solid(int w, int h, QColor c) {
  QImage i(w, h, QImage::Format_RGB32);
  i.fill(c);
  return i;
}

// The bounding box of the pixels close to `c`, in millimetres.
QRectF BoxMm(const QImage& page, QColor c) {
  int x0 = page.width(), y0 = page.height(), x1 = -1, y1 = -1;
  for (int y = 0; y < page.height(); ++y)
    for (int x = 0; x < page.width(); ++x) {
      const QRgb p = page.pixel(x, y);
      if (std::abs(qRed(p) - c.red()) < 40 && std::abs(qGreen(p) - c.green()) < 40 && std::abs(qBlue(p) - c.blue()) < 40) {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
      }
    }
  if (x1 < 0) return QRectF();
  const double mm = 25.4 / kDpi;
  return QRectF(x0 * mm, y0 * mm, (x1 + 1 - x0) * mm, (y1 + 1 - y0) * mm);
}

bool Near(const QRectF& a, const QRectF& b, double tol = 1.5) {
  return std::abs(a.left() - b.left()) < tol && std::abs(a.top() - b.top()) < tol &&
         std::abs(a.right() - b.right()) < tol && std::abs(a.bottom() - b.bottom()) < tol;
}

QString Describe(const QRectF& r) {
  return QString("(%1, %2)-(%3, %4) mm").arg(r.left(), 0, 'f', 1).arg(r.top(), 0, 'f', 1).arg(r.right(), 0, 'f', 1).arg(r.bottom(), 0, 'f', 1);
}

}  // namespace

class PrintTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Installation> inst_;
  std::unique_ptr<MainDialog> dlg_;
  QPointer<PrintPreview> preview_;  // a successful print closes and deletes it
  QString pdf_;

  void ToPdf() {
    preview_->printDialogOverride = [this](QPrinter& printer) {
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(pdf_);
      return true;
    };
  }

 private slots:
  void init() {
    inst_ = std::make_unique<Installation>();
    if (!inst_->error.isEmpty()) QSKIP(qPrintable(inst_->error));
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty()) QSKIP("pdftoppm (poppler-utils) is not installed");
    dlg_ = OpenWithSample(*inst_);
    QVERIFY(dlg_);
    static_cast<MessageNotifier&>(dlg_->notifier()).SetUnattended(true);
    QTest::mouseClick(dlg_->findChild<QToolButton*>("1122"), Qt::LeftButton);
    preview_ = dlg_->findChild<PrintPreview*>("142");
    QVERIFY(preview_ && preview_->isVisible());
    QCOMPARE(preview_->windowTitle(), QString::fromUtf8("印刷ﾌﾟﾚﾋﾞｭｰ"));
    pdf_ = inst_->dir.path() + "/page.pdf";
    ToPdf();
  }
  void cleanup() {
    dlg_.reset();
    inst_.reset();
  }

  void framesGoWhereTheLayoutSays_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("black");
    QTest::addColumn<int>("header");
    QTest::addColumn<QList<int>>("frames");      // frame numbers, coloured red, green, blue, yellow
    QTest::addColumn<QList<QRectF>>("expected");  // where each lands (mm on A4 portrait)
    // A4 210 x 297 mm, margins 20 mm: the area is 170 x 257 mm.
    const double fw = 85, fh = 257.0 / 3;
    QTest::newRow("2×3: top row and bottom-right")
        << QString("2×3") << false << 0 << QList<int>{0, 1, 5}
        << QList<QRectF>{QRectF(20, 20 + (fh - fw) / 2, fw, fw), QRectF(105, 20 + (fh - fw) / 2, fw, fw),
                         QRectF(105, 20 + 2 * fh + (fh - fw) / 2, fw, fw)};
    // 1 column x 3 rows: wide frames, the square is centred horizontally; a header
    // band of 10 mm moves the area down and shortens the frames; frame 3 has no place.
    const double h2 = (257.0 - 10) / 3;
    QTest::newRow("1×3 with header: centred horizontally")
        << QString("1×3") << true << 10 << QList<int>{0, 2, 3}
        << QList<QRectF>{QRectF(20 + (170 - h2) / 2, 30, h2, h2), QRectF(20 + (170 - h2) / 2, 30 + 2 * h2, h2, h2),
                         QRectF()};
  }
  void framesGoWhereTheLayoutSays() {
    QFETCH(QString, layout);
    QFETCH(bool, black);
    QFETCH(int, header);
    QFETCH(QList<int>, frames);
    QFETCH(QList<QRectF>, expected);
    const QColor colours[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0)};
    preview_->layoutBox->setCurrentText(layout);
    preview_->blackBox->setChecked(black);
    preview_->headerEdit->setText(QString::number(header));
    for (int i = 0; i < frames.size(); ++i) {
      // A dropped picture lands in its frame (the frame control of the layout).
      QWidget* frame = preview_->findChild<QWidget*>(QString::number(1221 + frames[i]));
      QVERIFY(frame);
      if (frame->isVisible()) {
        auto* data = new QMimeData;
        data->setImageData(Solid(200, 200, colours[i]));
        QDropEvent drop(QPointF(frame->width() / 2, frame->height() / 2), Qt::CopyAction, data, Qt::LeftButton,
                        Qt::NoModifier);
        QDragEnterEvent enter(drop.position().toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frame, &enter);
        QVERIFY(enter.isAccepted());
        QApplication::sendEvent(frame, &drop);
        delete data;
      } else {
        preview_->SetFrame(frames[i], Solid(200, 200, colours[i]));  // beyond the layout: not shown
      }
      QVERIFY(!preview_->frames()[frames[i]].isNull());
    }
    QVERIFY(preview_->PrintNow());
    QVERIFY(!preview_->isVisible());  // a successful print closes the preview
    const QImage page = RenderPdf(pdf_, inst_->dir.path());
    QVERIFY(!page.isNull());
    QVERIFY(std::abs(page.width() * 25.4 / kDpi - 210) < 1);
    for (int i = 0; i < frames.size(); ++i) {
      const QRectF box = BoxMm(page, colours[i]);
      if (expected[i].isNull()) {
        QVERIFY2(box.isNull(), qPrintable(Describe(box)));
        continue;
      }
      QVERIFY2(Near(box, expected[i]), qPrintable(Describe(box) + " expected " + Describe(expected[i])));
    }
    // Margins stay white; with "背景を黒" the rest of the area is black.
    const double px = kDpi / 25.4;
    QCOMPARE(page.pixel(int(10 * px), int(10 * px)), qRgb(255, 255, 255));
    const QRgb beside = page.pixel(int(60 * px), int(150 * px));  // an empty frame in both rows
    QCOMPARE(beside, black ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    // The layout, bands and background are remembered.
    const PrintSettings stored = Settings::Load().print;
    QCOMPARE(QString::fromStdString(Utf8FromSjis(stored.layout)), layout);
    QCOMPARE(stored.header, header);
    QCOMPARE(stored.blackBackground, black);
  }

  void noPictureNoPrint() {
    QVERIFY(!preview_->PrintNow());
    QVERIFY(preview_->isVisible());
    QVERIFY(!QFile::exists(pdf_));
    // A cancelled print dialog keeps the preview and its frames.
    preview_->SetFrame(0, Solid(10, 10, Qt::red));
    preview_->printDialogOverride = [](QPrinter&) { return false; };
    QVERIFY(!preview_->PrintNow());
    QVERIFY(preview_->isVisible());
    QVERIFY(!preview_->frames()[0].isNull());
  }

  void pressOnAPaneStartsNoToolWhileThePreviewIsOpen() {
    dlg_->ShowEntry(1, EntryOf(*dlg_, "CT0001.dcm"));
    QVERIFY(!Painted(*dlg_, 1).isNull());
    QTest::mouseClick(dlg_->findChild<QToolButton*>("1073"), Qt::LeftButton);  // distance
    QWidget* left = dlg_->findChild<QWidget*>("1001");
    QTest::mousePress(left, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseRelease(left, Qt::LeftButton, Qt::NoModifier, QPoint(51, 50));
    QVERIFY(!dlg_->measurementTools->measurements(1).distances[0].exists);
    preview_->close();
    QTest::mousePress(left, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseRelease(left, Qt::LeftButton, Qt::NoModifier, QPoint(120, 50));
    QVERIFY(dlg_->measurementTools->measurements(1).distances[0].exists);
  }

  void pageSetupRoundTrip_data() {
    QTest::addColumn<QString>("paper");
    QTest::addColumn<QString>("orientation");
    QTest::addColumn<QString>("expectedPaper");
    QTest::newRow("B5 landscape") << "B5" << QString::fromUtf8("横") << "B5";
    QTest::newRow("postcard portrait") << QString::fromUtf8("はがき") << QString::fromUtf8("縦") << QString::fromUtf8("はがき");
    QTest::newRow("unknown paper is A4") << "Letter" << QString::fromUtf8("縦") << "A4";
  }
  void pageSetupRoundTrip() {
    QFETCH(QString, paper);
    QFETCH(QString, orientation);
    QFETCH(QString, expectedPaper);
    PrintSettings in;
    in.paper = ToSjis(paper);
    in.orientation = ToSjis(orientation);
    QPrinter printer(QPrinter::HighResolution);
    ApplyPageSetup(printer, in);
    printer.setPageMargins(QMarginsF(10, 15, 12.5, 20), QPageLayout::Millimeter);  // as a page setup dialog would
    PrintSettings out;
    ReadPageSetup(printer, &out);
    QCOMPARE(QString::fromStdString(Utf8FromSjis(out.paper)), expectedPaper);
    QCOMPARE(QString::fromStdString(Utf8FromSjis(out.orientation)), orientation);
    QCOMPARE(out.marginLeft, 1000);
    QCOMPARE(out.marginTop, 1500);
    QCOMPARE(out.marginRight, 1250);
    QCOMPARE(out.marginBottom, 2000);
  }

  void batchPrintsTheListInOrder() {
    preview_->close();
    QCOMPARE(PrintPdfBatch(*dlg_, pdf_, "5x5"), 2);
    QCOMPARE(PrintPdfBatch(*dlg_, pdf_, "2x3"), 0);
    const QImage page = RenderPdf(pdf_, inst_->dir.path());
    QVERIFY(!page.isNull());
    // Six frames, each holding a pane picture: its centre is not white paper.
    const double px = kDpi / 25.4, fw = 85, fh = 257.0 / 3;
    for (int k = 0; k < 6; ++k) {
      const QPoint centre(int((20 + (k % 2 + 0.5) * fw) * px), int((20 + (k / 2 + 0.5) * fh) * px));
      QVERIFY2(page.pixel(centre) != qRgb(255, 255, 255), qPrintable(QString("frame %1").arg(k)));
    }
    // The program itself, when built next to the tests.
    const QString velmo = QCoreApplication::applicationDirPath() + "/velmo";
    if (!QFile::exists(velmo)) return;
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELMO_HOME", inst_->dir.path() + "/");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    run.setProcessEnvironment(env);
    const QString out = inst_->dir.path() + "/batch.pdf";
    run.start(velmo, {"--print-pdf", out, "--layout", "1x2", inst_->sample + "/CT0001.dcm"});
    QVERIFY(run.waitForFinished(120000));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(QFile(out).size() > 1000);
    run.start(velmo, {"--print-pdf", out, "--layout", "9x9", inst_->sample});
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 2);
  }
};

QTEST_MAIN(PrintTest)
#include "test_print.moc"
