// Volume tools on the sample CT series (40 slices of 512 x 512): MPR shows the
// reformat in the right pane and follows a dragged line, MIP projects its slab, a
// cancelled build and switching off restore the right pane, a series without image
// positions gives the message, and the lines are drawn in the configured colours.
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <thread>

#include "base/text.h"
#include "measure/measurement.h"
#include "measure/mip.h"
#include "measure/ui/volume_tool.h"
#include "render/ui/pane_view.h"
#include "shell/ui/message_notifier.h"
#include "shell/ui/progress_dialog.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"
#include "test_window_level_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::testing;

namespace {

bool Near(QRgb a, const QColor& b) {
  return std::abs(qRed(a) - b.red()) < 3 && std::abs(qGreen(a) - b.green()) < 3 && std::abs(qBlue(a) - b.blue()) < 3;
}

}  // namespace

class VolumeTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Installation> inst_;
  std::unique_ptr<MainDialog> dlg_;
  QWidget* left_ = nullptr;
  VolumeToolController* tools_ = nullptr;
  int ct2_ = -1;

  QToolButton* Button(const char* id) { return dlg_->findChild<QToolButton*>(id); }
  // Pane position of the centre of image pixel (col, row) of a pane.
  QPoint At(int pane, double col, double row) {
    const DicomImage* im = dlg_->ShownImage(pane);
    const MeasureView v = MakeMeasureView(dlg_->paneDisplay(pane), im->rows, im->columns);
    double x = 0, y = 0;
    ImageToDisplayF(v, col + 0.5, row + 0.5, &x, &y);
    const MeasurePoint p = v.ToPane({int(x), int(y)});
    return {p.x, p.y};
  }
  void Screenshot(const char* name) {
    const QByteArray dir = qgetenv("VELMO_SCREENSHOT_DIR");
    if (!dir.isEmpty()) dlg_->grab().save(QString::fromUtf8(dir) + "/" + name);
  }

 private slots:
  void init() {
    inst_ = std::make_unique<Installation>();
    if (!inst_->error.isEmpty()) QSKIP(qPrintable(inst_->error));
    dlg_ = OpenWithSample(*inst_);
    QVERIFY(dlg_);
    static_cast<MessageNotifier&>(dlg_->notifier()).SetUnattended(true);
    left_ = dlg_->findChild<QWidget*>("1001");
    tools_ = dlg_->volumeTools;
    QVERIFY(tools_ && left_);
    dlg_->ShowEntry(1, EntryOf(*dlg_, "CT0020.dcm"));
    ct2_ = EntryOf(*dlg_, "CT0002.dcm");
    dlg_->ShowEntry(2, ct2_);
    dlg_->SetActivePane(1);
    QVERIFY(!Painted(*dlg_, 1).isNull());
  }
  void cleanup() {
    dlg_.reset();
    inst_.reset();
  }

  void mprFollowsTheDraggedLineAndRestores() {
    QVERIFY(Button("1077")->isEnabled());
    QTest::mouseClick(Button("1077"), Qt::LeftButton);
    QCOMPARE(tools_->mode(), VolumeToolController::Mode::kMpr);
    QVERIFY(Button("1077")->isChecked());
    const MprState& s = tools_->state();
    QCOMPARE(s.slices.size(), size_t(40));
    QVERIFY(s.planes > 40);
    QCOMPARE(s.lineY, 256);
    QCOMPARE(s.activeLine, 1);
    // The right pane shows the reformat: planes rows of 512 pixels, row d = row 256 of plane d.
    const DicomImage* right = dlg_->ShownImage(2);
    QVERIFY(right == &tools_->slot());
    QCOMPARE(right->rows, s.planes);
    QCOMPARE(right->columns, 512);
    const size_t plane = 512u * 512u;
    const size_t d = size_t(s.planes / 2);
    QCOMPARE(int(right->pixelData[(d * 512 + 100) * 2] | (right->pixelData[(d * 512 + 100) * 2 + 1] << 8)),
             int(s.volume[d * plane + 256 * 512 + 100]));
    QVERIFY(MeanGrey(Painted(*dlg_, 2)) > 5);
    // The active (horizontal) line in "MPR有効", the vertical one in "MPR".
    const QImage shot = Painted(*dlg_, 1);
    QVERIFY(Near(shot.pixel(At(1, 100, 256)), ColorFromBgr(dlg_->settings().mprActiveColor)));
    QVERIFY(Near(shot.pixel(At(1, 256, 100)), ColorFromBgr(dlg_->settings().mprColor)));
    Screenshot("mpr_horizontal.png");

    // Pick the vertical line and drag it past the right edge: draft while dragging,
    // stopped at the last column, full quality on release.
    SendMouse(left_, QEvent::MouseButtonPress, At(1, 258, 100), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(s.activeLine, 2);
    QVERIFY(s.dragging);
    SendMouse(left_, QEvent::MouseMove, At(1, 300, 100), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(s.lineX, 300);
    QVERIFY(dlg_->paneDisplay(2).nearestOnly);
    SendMouse(left_, QEvent::MouseMove, At(1, 300, 100) + QPoint(2000, 0), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(s.lineX, 511);
    SendMouse(left_, QEvent::MouseMove, At(1, 320, 100), Qt::NoButton, Qt::LeftButton);
    SendMouse(left_, QEvent::MouseButtonRelease, At(1, 320, 100), Qt::LeftButton, Qt::NoButton);
    QVERIFY(!s.dragging);
    QVERIFY(!dlg_->paneDisplay(2).nearestOnly);
    QCOMPARE(s.lineX, 320);
    // Full quality: output pixel j of row d is pixel (320, j) of plane d.
    for (size_t j : {0u, 1u, 255u, 511u})
      QCOMPARE(int(right->pixelData[(d * 512 + j) * 2] | (right->pixelData[(d * 512 + j) * 2 + 1] << 8)),
               int(s.volume[d * plane + j * 512 + 320]));
    Painted(*dlg_, 2);
    Screenshot("mpr_vertical.png");

    // Off: the right pane shows its image again.
    QTest::mouseClick(Button("1077"), Qt::LeftButton);
    QCOMPARE(tools_->mode(), VolumeToolController::Mode::kOff);
    QCOMPARE(dlg_->loadContext().viewIndex[2], ct2_);
    QVERIFY(!dlg_->paneDisplay(2).showsReformat);
    QVERIFY(MeanGrey(Painted(*dlg_, 2)) > 5);
  }

  void mipProjectsTheSlabWithThresholds() {
    dlg_->findChild<QLineEdit*>("1169")->setText("500");
    QTest::mouseClick(Button("1086"), Qt::LeftButton);
    QCOMPARE(tools_->mode(), VolumeToolController::Mode::kMip);
    const MprState& s = tools_->state();
    QCOMPARE(s.mipX1, 30);
    QCOMPARE(s.mipX2, 482);
    QCOMPARE(s.mipY1, 128);
    QCOMPARE(s.mipY2, 384);
    // Every output value lies below the upper threshold.
    const DicomImage* right = dlg_->ShownImage(2);
    int highest = -100000;
    for (size_t i = 0; i + 1 < right->pixelData.size(); i += 2)
      highest = std::max(highest, int(int16_t(right->pixelData[i] | (right->pixelData[i + 1] << 8))));
    QVERIFY(highest < 500);
    QVERIFY(highest > -2000);
    QVERIFY(Near(Painted(*dlg_, 1).pixel(At(1, 200, 128)), ColorFromBgr(dlg_->settings().mprActiveColor)));
    Screenshot("mip.png");
    // Picking x1 switches the direction and projects again; dragging y2 above y1
    // empties the slab on release (every entry keeps -2000).
    SendMouse(left_, QEvent::MouseButtonPress, At(1, 31, 250), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(s.mipDirection, 2);
    SendMouse(left_, QEvent::MouseButtonRelease, At(1, 31, 250), Qt::LeftButton, Qt::NoButton);
    SendMouse(left_, QEvent::MouseButtonPress, At(1, 250, 383), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(s.mipDragLine, 2);
    SendMouse(left_, QEvent::MouseMove, At(1, 250, 60), Qt::NoButton, Qt::LeftButton);
    SendMouse(left_, QEvent::MouseButtonRelease, At(1, 250, 60), Qt::LeftButton, Qt::NoButton);
    QVERIFY(std::abs(s.mipY2 - 60) <= 1);
    QCOMPARE(int(int16_t(right->pixelData[0] | (right->pixelData[1] << 8))), -2000);
    // MPR takes over from MIP and reuses the volume.
    QTest::mouseClick(Button("1077"), Qt::LeftButton);
    QCOMPARE(tools_->mode(), VolumeToolController::Mode::kMpr);
    QVERIFY(!Button("1086")->isChecked());
  }

  void cancelledBuildRestoresTheRightPane() {
    std::atomic<bool> shown{false};
    dlg_->volumeProgressShown = [&](ProgressDialog& d) {
      shown = true;
      QCOMPARE(d.statusText(), QStringLiteral("演算中"));
      d.reject();
    };
    // The worker waits until it is told to stop, so the window appears.
    tools_->workerStarting = [](MprProgress& p) {
      for (int i = 0; i < 1000 && !p.cancel.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    QTest::mouseClick(Button("1077"), Qt::LeftButton);
    QVERIFY(shown);
    QCOMPARE(tools_->mode(), VolumeToolController::Mode::kOff);
    QVERIFY(!Button("1077")->isChecked());
    QVERIFY(!tools_->state().volumeValid);
    QCOMPARE(dlg_->loadContext().viewIndex[2], ct2_);
    QVERIFY(!dlg_->loadingJobRunning());
  }

  // The colour secondary capture has no image position: the message of that element.
  void missingElementIsReported() {
    dlg_->ShowEntry(1, EntryOf(*dlg_, "SC0001.dcm"));
    auto& notifier = static_cast<MessageNotifier&>(dlg_->notifier());
    notifier.ClearShown();
    QTest::mouseClick(Button("1077"), Qt::LeftButton);
    QCOMPARE(tools_->mode(), VolumeToolController::Mode::kOff);
    QVERIFY(!notifier.shown().empty());
    QCOMPARE(notifier.shown().back().message, QStringLiteral("画像左上の座標(0020,0032)の情報がありません"));
    QCOMPARE(notifier.shown().back().caption, QStringLiteral("警告"));
    QCOMPARE(dlg_->loadContext().viewIndex[2], ct2_);
  }

  // A coronal image in the same frame of reference, 300 rows below the axial image's
  // top edge: on the axial image the slice line is row 300, drawn in "スライスライン".
  void sliceLineOnTheLeftPane() {
    const DicomImage axial = *dlg_->ShownImage(1);
    const float* p = axial.imagePosition;
    test::DicomWriter w(1);
    w.Text(0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
    w.Text(0x0008, 0x0018, "UI", "1.2.3.4.5.6.7");
    w.Text(0x0010, 0x0020, "LO", axial.patientId.str());
    w.Text(0x0020, 0x000D, "UI", "1.2.3.4.5.6.8");
    w.Text(0x0020, 0x000E, "UI", "1.2.3.4.5.6.9");
    w.Text(0x0020, 0x0032, "DS",
           std::to_string(p[0]) + "\\" + std::to_string(p[1] + 0.7 * 300) + "\\" + std::to_string(p[2] + 50));
    w.Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\0\\-1");
    w.Text(0x0020, 0x0052, "UI", axial.frameOfReferenceUid.str());
    w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
    w.U16(0x0028, 0x0010, 512);
    w.U16(0x0028, 0x0011, 512);
    w.Text(0x0028, 0x0030, "DS", "0.7\\0.7");
    w.U16(0x0028, 0x0100, 16);
    w.U16(0x0028, 0x0101, 12);
    w.U16(0x0028, 0x0102, 11);
    w.U16(0x0028, 0x0103, 0);
    w.PixelData(test::Bytes(512 * 512 * 2, 0));
    const std::string path = inst_->dir.path().toStdString() + "/coronal.dcm";
    test::WriteBytes(path, test::MakeFile("1.2.840.10008.1.2.1", w.bytes()));
    dlg_->TakeFiles({path});
    const int coronal = EntryOf(*dlg_, "coronal.dcm");
    QVERIFY(coronal >= 0);
    dlg_->ShowEntry(1, EntryOf(*dlg_, "CT0020.dcm"));
    dlg_->ShowEntry(2, coronal);
    dlg_->SetActivePane(1);
    QVERIFY(tools_->sliceLine().available);
    QVERIFY(std::abs(tools_->sliceLine().a.y[0] - 300) < 0.01);
    const QColor colour = ColorFromBgr(dlg_->settings().sliceLineColor);
    QVERIFY(!Near(Painted(*dlg_, 1).pixel(At(1, 200, 299.5)), colour));
    QTest::mouseClick(Button("1072"), Qt::LeftButton);
    QVERIFY(tools_->sliceLineFlag(1));
    QVERIFY(Near(Painted(*dlg_, 1).pixel(At(1, 200, 299.5)), colour));
    Screenshot("slice_line.png");
  }

  void seriesChangeAndCombinedModeSwitchOff() {
    QTest::mouseClick(Button("1077"), Qt::LeftButton);
    QCOMPARE(tools_->mode(), VolumeToolController::Mode::kMpr);
    dlg_->ShowEntry(1, EntryOf(*dlg_, "MF0001.dcm"));
    QCOMPARE(tools_->mode(), VolumeToolController::Mode::kOff);
    QCOMPARE(dlg_->loadContext().viewIndex[2], ct2_);
    QVERIFY(!tools_->state().volumeValid);
    QTest::mouseClick(Button("1095"), Qt::LeftButton);
    QVERIFY(!Button("1077")->isEnabled());
    QVERIFY(!Button("1086")->isEnabled());
  }
};

QTEST_MAIN(VolumeTest)
#include "test_volume.moc"
