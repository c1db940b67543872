// Export buttons on the sample CT: the saved screen capture is the pane's snapshot as
// a BMP file (header and every pixel checked against the pane), the saved image is
// exactly the display bitmap that velmo-cli render writes for the same canvas, ".BMP"
// writes nothing, ".jpg" decodes to the pane's size, the clipboard receives the
// pictures, and a pane without an image exports nothing.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QToolButton>

#include "render/ui/pane_view.h"
#include "shell/export.h"
#include "shell/ui/export_tool.h"
#include "shell/ui/message_notifier.h"
#include "test_window_level_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::testing;

namespace {

uint32_t U32(const QByteArray& b, int at) {
  return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

}  // namespace

class ExportTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Installation> inst_;
  std::unique_ptr<MainDialog> dlg_;
  QString chosen_;

  void Click(const char* id) { QTest::mouseClick(dlg_->findChild<QToolButton*>(id), Qt::LeftButton); }
  QString Out(const char* name) { return inst_->dir.path() + "/" + name; }
  QString SaveAs(const char* button, const char* name) {
    chosen_ = Out(name);
    Click(button);
    return chosen_;
  }

 private slots:
  void init() {
    inst_ = std::make_unique<Installation>();
    if (!inst_->error.isEmpty()) QSKIP(qPrintable(inst_->error));
    dlg_ = OpenWithSample(*inst_);
    QVERIFY(dlg_);
    static_cast<MessageNotifier&>(dlg_->notifier()).SetUnattended(true);
    QVERIFY(dlg_->exportTool);
    dlg_->exportTool->chooseFileOverride = [this](const QString& proposed) {
      proposedName = proposed;
      return chosen_;
    };
    dlg_->ShowEntry(1, EntryOf(*dlg_, "CT0001.dcm"));
    dlg_->SetActivePane(1);
    QVERIFY(!Painted(*dlg_, 1).isNull());
  }
  void cleanup() {
    dlg_.reset();
    inst_.reset();
  }

  void screenCaptureIsThePaneSnapshot() {
    const QString path = SaveAs("1120", "screen.bmp");
    QCOMPARE(proposedName, QString("CT0001.dcm"));
    const QByteArray b = ReadAll(path);
    const QImage shown = dlg_->Snapshot(1);
    const int w = shown.width(), h = shown.height();
    QVERIFY(w > 0 && h > 0);
    QCOMPARE(b.size(), 54 + w * h * 4);
    QCOMPARE(b.left(2), QByteArray("BM"));
    QCOMPARE(U32(b, 2), uint32_t(54 + w * h * 4));
    QCOMPARE(U32(b, 6), 0u);
    QCOMPARE(U32(b, 10), 54u);
    QCOMPARE(U32(b, 14), 40u);
    QCOMPARE(U32(b, 18), uint32_t(w));
    QCOMPARE(U32(b, 22), uint32_t(h));
    QCOMPARE(uint8_t(b[26]) | uint8_t(b[27]) << 8, 1);   // planes
    QCOMPARE(uint8_t(b[28]) | uint8_t(b[29]) << 8, 32);  // bits
    for (int at : {30, 34, 46, 50}) QCOMPARE(U32(b, at), 0u);
    QCOMPARE(U32(b, 38), 3780u);
    QCOMPARE(U32(b, 42), 3780u);
    // Every pixel: bottom-up rows of blue, green, red, 0 as the pane shows them.
    int mismatches = 0;
    for (int y = 0; y < h; ++y) {
      const int row = 54 + (h - 1 - y) * w * 4;
      for (int x = 0; x < w; ++x) {
        const QRgb p = shown.pixel(x, y);
        const char* px = b.constData() + row + x * 4;
        if (uint8_t(px[0]) != qBlue(p) || uint8_t(px[1]) != qGreen(p) || uint8_t(px[2]) != qRed(p) || px[3] != 0)
          ++mismatches;
      }
    }
    QCOMPARE(mismatches, 0);
    // The snapshot has no active frame: the screen shows one at (1, 1) in "選択枠1".
    QVERIFY(shown.pixel(1, h / 2) != ColorFromBgr(dlg_->settings().selectFrame1).rgb());
  }

  void imageOnlyIsTheDisplayBitmapAsTheCommandLineWritesIt() {
    const QString path = SaveAs("1121", "image.bmp");
    const QByteArray saved = ReadAll(path);
    QVERIFY(saved.size() > 1078);
    const DisplayGeometry& g = dlg_->paneDisplay(1).last;
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELMO_HOME", inst_->dir.path() + "/");
    cli.setProcessEnvironment(env);
    const QString reference = Out("cli.bmp");
    cli.start(QCoreApplication::applicationDirPath() + "/velmo-cli",
              {"render", QString::fromStdString(dlg_->PaneImage(1)->filePath), "-o", reference, "--canvas",
               QString("%1x%2").arg(g.canvasWidth).arg(g.canvasHeight)});
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(saved, ReadAll(reference));
  }

  void extensionDecidesTheFormat() {
    // Capitals write nothing, without a message.
    SaveAs("1120", "upper.BMP");
    QVERIFY(!QFile::exists(Out("upper.BMP")));
    SaveAs("1121", "other.png");
    QVERIFY(!QFile::exists(Out("other.png")));
    QVERIFY(static_cast<MessageNotifier&>(dlg_->notifier()).shown().empty());
    // JPEG at the pane's size; the image-only JPEG at the display bitmap's size.
    QImage jpeg(SaveAs("1120", "screen.jpg"), "JPEG");
    QCOMPARE(jpeg.size(), dlg_->Snapshot(1).size());
    QImage image(SaveAs("1121", "image.jpg"), "JPEG");
    const std::vector<uint8_t>& bitmap = dlg_->PaneImage(1)->displayBitmap;
    QCOMPARE(image.width(), int(BitmapU32(bitmap, 18)));
    QCOMPARE(image.height(), int(BitmapU32(bitmap, 22)));
    // Close to the picture: compare the mean grey with the snapshot's.
    QVERIFY(std::abs(MeanGrey(jpeg) - MeanGrey(dlg_->Snapshot(1))) < 2.0);
    // Cancel writes nothing.
    chosen_.clear();
    Click("1121");
  }

  void clipboardReceivesThePictures() {
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    Click("1118");
    QImage screen = clipboard->image();
    QCOMPARE(screen.size(), dlg_->Snapshot(1).size());
    QCOMPARE(screen.convertToFormat(QImage::Format_RGB32).pixel(screen.width() / 2, screen.height() / 2),
             dlg_->Snapshot(1).pixel(screen.width() / 2, screen.height() / 2));
    Click("1119");
    const std::vector<uint8_t>& bitmap = dlg_->PaneImage(1)->displayBitmap;
    QCOMPARE(clipboard->image().width(), int(BitmapU32(bitmap, 18)));
    const QMimeData* data = clipboard->mimeData();
    QVERIFY(data && data->hasFormat("image/bmp"));
  }

  void paneWithoutImageExportsNothing() {
    dlg_->ShowEntry(2, -1);
    dlg_->SetActivePane(2);
    SaveAs("1120", "none.bmp");
    SaveAs("1121", "none2.bmp");
    QVERIFY(!QFile::exists(Out("none.bmp")));
    QVERIFY(!QFile::exists(Out("none2.bmp")));
    QVERIFY(dlg_->exportTool->ScreenFileImage().empty());
  }

 public:
  QString proposedName;
};

QTEST_MAIN(ExportTest)
#include "test_export.moc"
