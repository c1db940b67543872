// Measurement tools on the sample CT (512 x 512, 0.7 mm pixels): every kind drawn with
// mouse events, label texts against the spacing, drawn pixels in the configured
// colours, select/move, delete by button and by the Delete key, the capacity message,
// the first click on an inactive pane, and clearing when the pane shows another image.
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>
#include <cmath>

#include "base/numbers.h"
#include "base/text.h"
#include "measure/ui/measurement_tool.h"
#include "render/ui/pane_view.h"
#include "shell/ui/message_notifier.h"
#include "test_window_level_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::testing;

namespace {

// One left-button stroke from a to b on a pane (device pixels = logical offscreen).
void Stroke(QWidget* view, QPoint a, QPoint b) {
  SendMouse(view, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseMove, (a + b) / 2, Qt::NoButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
}

QString Text(std::string_view sjis) { return QString::fromStdString(Utf8FromSjis(sjis)); }

}  // namespace

class MeasureTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Installation> inst_;
  std::unique_ptr<MainDialog> dlg_;
  QWidget* left_ = nullptr;
  QWidget* right_ = nullptr;
  MeasurementToolController* tools_ = nullptr;

  QToolButton* Button(const char* id) { return dlg_->findChild<QToolButton*>(id); }
  // Canvas position of a display-image point of a pane.
  QPoint At(int pane, int x, int y) {
    const MeasureView v = MakeMeasureView(dlg_->paneDisplay(pane), 512, 512);
    const MeasurePoint p = v.ToPane({x, y});
    return {p.x, p.y};
  }
  double DisplayToMm(int pane, double displayPixels) {
    return displayPixels * 512.0 / dlg_->paneDisplay(pane).last.w * 0.7;
  }
  QColor Colour(uint32_t bgr) { return ColorFromBgr(bgr); }
  bool Near(QRgb a, const QColor& b) {
    return std::abs(qRed(a) - b.red()) < 3 && std::abs(qGreen(a) - b.green()) < 3 && std::abs(qBlue(a) - b.blue()) < 3;
  }

 private slots:
  void init() {
    inst_ = std::make_unique<Installation>();
    if (!inst_->error.isEmpty()) QSKIP(qPrintable(inst_->error));
    dlg_ = OpenWithSample(*inst_);
    QVERIFY(dlg_);
    static_cast<MessageNotifier&>(dlg_->notifier()).SetUnattended(true);
    left_ = dlg_->findChild<QWidget*>("1001");
    right_ = dlg_->findChild<QWidget*>("1005");
    tools_ = dlg_->measurementTools;
    QVERIFY(tools_ && left_ && right_);
    const int ct = EntryOf(*dlg_, "CT0001.dcm");
    QVERIFY(ct >= 0);
    dlg_->ShowEntry(1, ct);
    dlg_->ShowEntry(2, EntryOf(*dlg_, "CT0002.dcm"));
    dlg_->SetActivePane(1);
    QVERIFY(!Painted(*dlg_, 1).isNull());
    QVERIFY(!Painted(*dlg_, 2).isNull());
  }
  void cleanup() {
    dlg_.reset();
    inst_.reset();
  }

  void everyKindWithTextsAndPixels() {
    const Settings& s = dlg_->settings();
    // The distance button takes the pane out of the window/level drag.
    QTest::mouseClick(Button("1073"), Qt::LeftButton);
    QVERIFY(Button("1073")->isChecked());
    QVERIFY(!Button("1071")->isChecked());
    QCOMPARE(dlg_->mouseMode(1), PaneMouseMode::kMeasure);
    Stroke(left_, At(1, 50, 100), At(1, 250, 100));
    PaneMeasurements& m = tools_->measurements(1);
    QVERIFY(m.distances[0].exists && !m.distances[0].inProgress);
    QCOMPARE(Text(m.distances[0].text.view()), QString::fromStdString(Format("%.1f mm", DisplayToMm(1, 200))));
    QImage shot = Painted(*dlg_, 1);
    const QPoint mid = At(1, 150, 100);
    QVERIFY(Near(shot.pixel(mid), Colour(s.distanceColor)));
    QCOMPARE(shot.pixel(mid + QPoint(0, 1)), qRgb(0, 0, 0));  // the black outline beside it
    // The label text is drawn below the end point in the colour.
    const LabelRect lab = m.distances[0].label;
    QVERIFY(lab.right > lab.left && lab.top > At(1, 250, 100).y());
    bool colouredText = false;
    for (int y = lab.top; y < lab.bottom; ++y)
      for (int x = lab.left; x < lab.right; ++x) colouredText |= Near(shot.pixel(x, y), Colour(s.distanceColor));
    QVERIFY(colouredText);

    // The command line, given the pane's canvas and the same mouse positions, prints the same text.
    {
      const DisplayGeometry& g = dlg_->paneDisplay(1).last;
      const QPoint a = At(1, 50, 100), b = At(1, 250, 100);
      QProcess cli;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert("VELMO_HOME", inst_->dir.path() + "/");
      cli.setProcessEnvironment(env);
      cli.start(QCoreApplication::applicationDirPath() + "/velmo-cli",
                {"measure", QString::fromStdString(dlg_->PaneImage(1)->filePath), "--canvas",
                 QString("%1x%2").arg(g.canvasWidth).arg(g.canvasHeight), "--distance",
                 QString("%1,%2,%3,%4").arg(a.x()).arg(a.y()).arg(b.x()).arg(b.y())});
      QVERIFY(cli.waitForFinished(30000));
      QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()), "distance\t" + Text(m.distances[0].text.view()) + "\n");
    }

    // Angle: two strokes at right angles.
    QTest::mouseClick(Button("1074"), Qt::LeftButton);
    QVERIFY(!Button("1073")->isChecked());
    Stroke(left_, At(1, 300, 300), At(1, 400, 300));
    Stroke(left_, At(1, 300, 300), At(1, 300, 200));
    QCOMPARE(Text(m.angles[0].text.view()), QString("90.0 (90.0)"));

    // Pixel value: the CT value under the probe, as the command line reads it.
    QTest::mouseClick(Button("1097"), Qt::LeftButton);
    Stroke(left_, At(1, 256, 256), At(1, 256, 256));
    QVERIFY(!m.probes[0].text.empty());
    MeasureContext c = MakeMeasureContext(dlg_->paneDisplay(1), *dlg_->PaneImage(1), nullptr);
    QCOMPARE(Text(m.probes[0].text.view()), QString::fromStdString(PixelValueText(c, {256, 256})));

    // ROIs: five label texts each; the outline in its colour.
    QTest::mouseClick(Button("1084"), Qt::LeftButton);
    Stroke(left_, At(1, 100, 300), At(1, 200, 400));
    QTest::mouseClick(Button("1085"), Qt::LeftButton);
    Stroke(left_, At(1, 50, 420), At(1, 150, 480));
    QVERIFY(m.circles[0].stats.count > 0);
    QVERIFY(Text(m.boxes[0].texts.area.view()).startsWith("面積 ") && Text(m.boxes[0].texts.area.view()).endsWith(" mm2"));
    shot = Painted(*dlg_, 1);
    QVERIFY(Near(shot.pixel(At(1, 150, 300)), Colour(s.roiCircleColor)));  // top of the ellipse
    QVERIFY(Near(shot.pixel(At(1, 50, 450)), Colour(s.roiBoxColor)));      // left edge of the box

    // Cardiothoracic ratio: created and selected at its default place.
    QTest::mouseClick(Button("1088"), Qt::LeftButton);
    QVERIFY(m.ratio.exists && m.ratio.selected);
    QVERIFY(Text(m.ratio.ratioText.view()).endsWith(" %"));
    shot = Painted(*dlg_, 1);
    const MeasurePoint h = m.ratio.drawnHeart[1];
    QCOMPARE(shot.pixel(h.x, h.y), Colour(s.ctrColor).rgb());  // the handle's coloured core

    // VELMO_MEASURE_SHOT=FILE.png keeps a picture of the window with every kind drawn.
    if (qEnvironmentVariableIsSet("VELMO_MEASURE_SHOT")) {
      Stroke(right_, At(2, 10, 10), At(2, 10, 10));  // activates the right pane
      QTest::mouseClick(Button("1085"), Qt::LeftButton);
      Stroke(right_, At(2, 200, 150), At(2, 420, 330));
      dlg_->grab().save(qEnvironmentVariable("VELMO_MEASURE_SHOT"));
      // Then both panes turned a quarter left and mirrored: the figures stay on the anatomy.
      dlg_->SetActivePane(1);
      QTest::mouseClick(Button("1083"), Qt::LeftButton);
      QTest::mouseClick(Button("1081"), Qt::LeftButton);
      dlg_->SetActivePane(2);
      QTest::mouseClick(Button("1083"), Qt::LeftButton);
      QTest::mouseClick(Button("1081"), Qt::LeftButton);
      Painted(*dlg_, 1);
      Painted(*dlg_, 2);
      dlg_->grab().save(qEnvironmentVariable("VELMO_MEASURE_SHOT").replace(".png", "-turned.png"));
    }
    // Another image in the pane takes its measurements away.
    dlg_->ShowEntry(1, EntryOf(*dlg_, "CT0003.dcm"));
    QVERIFY(m.Empty());
  }

  void selectMoveAndDelete() {
    PaneMeasurements& m = tools_->measurements(1);
    QTest::mouseClick(Button("1073"), Qt::LeftButton);
    Stroke(left_, At(1, 100, 100), At(1, 300, 100));
    QTest::mouseClick(Button("1097"), Qt::LeftButton);
    Stroke(left_, At(1, 400, 400), At(1, 400, 400));
    Painted(*dlg_, 1);

    QTest::mouseClick(Button("1076"), Qt::LeftButton);
    Stroke(left_, At(1, 200, 101), At(1, 200, 101));
    QVERIFY(m.distances[0].selected);
    QImage shot = Painted(*dlg_, 1);
    const QPoint end = At(1, 300, 100);
    QCOMPARE(shot.pixel(end + QPoint(-2, -2)), Colour(dlg_->settings().distanceColor).rgb());  // handle
    // Pressed again on its body it moves with the mouse.
    Stroke(left_, At(1, 200, 101), At(1, 230, 141));
    QCOMPARE(m.distances[0].start, (MeasurePoint{130, 140}));
    QCOMPARE(m.distances[0].end, (MeasurePoint{330, 140}));
    // Switching select off clears the selection.
    QTest::mouseClick(Button("1076"), Qt::LeftButton);
    QVERIFY(!m.distances[0].selected);

    // Delete mode takes what is pressed.
    QTest::mouseClick(Button("1078"), Qt::LeftButton);
    Painted(*dlg_, 1);
    Stroke(left_, At(1, 230, 140), At(1, 230, 140));
    QVERIFY(!m.distances[0].exists);
    QVERIFY(m.probes[0].exists);

    // The Delete key deletes the selected probe.
    QTest::mouseClick(Button("1076"), Qt::LeftButton);
    Painted(*dlg_, 1);
    Stroke(left_, At(1, 401, 399), At(1, 401, 399));
    QVERIFY(m.probes[0].selected);
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : dlg_.get();
    QTest::keyRelease(focus, Qt::Key_Delete);
    QVERIFY(m.Empty());
  }

  void capacityAndInactivePane() {
    auto& notes = static_cast<MessageNotifier&>(dlg_->notifier());
    notes.ClearShown();
    QTest::mouseClick(Button("1073"), Qt::LeftButton);
    for (int i = 0; i < 31; ++i) Stroke(left_, At(1, 10 + i * 10, 20), At(1, 10 + i * 10, 60));
    QCOMPARE(int(notes.shown().size()), 1);
    QCOMPARE(notes.shown()[0].message, QString("距離計測は最大で30箇所です。"));
    QCOMPARE(notes.shown()[0].caption, QString("情報"));

    // The right pane has its own tool; the first click there only activates it.
    dlg_->SetActivePane(2);
    QVERIFY(!Button("1073")->isChecked());  // the buttons show the right pane's tools
    QTest::mouseClick(Button("1073"), Qt::LeftButton);
    dlg_->SetActivePane(1);
    QVERIFY(Button("1073")->isChecked());
    Stroke(right_, At(2, 100, 100), At(2, 200, 200));
    QCOMPARE(dlg_->activePane(), 2);
    QVERIFY(tools_->measurements(2).Empty());
    Stroke(right_, At(2, 100, 100), At(2, 200, 200));
    QVERIFY(tools_->measurements(2).distances[0].exists);
    // A drag leaving the pane ends at its border; nothing stays in progress.
    SendMouse(right_, QEvent::MouseButtonPress, At(2, 100, 300), Qt::LeftButton, Qt::LeftButton);
    SendMouse(right_, QEvent::MouseMove, QPoint(-500, 5000), Qt::NoButton, Qt::LeftButton);
    SendMouse(right_, QEvent::MouseButtonRelease, QPoint(-500, 5000), Qt::LeftButton, Qt::NoButton);
    QVERIFY(!tools_->measurements(2).Busy());
    const MeasureView v2 = MakeMeasureView(dlg_->paneDisplay(2), 512, 512);
    QCOMPARE(v2.ToPane(tools_->measurements(2).distances[1].end).x, 0);
    // The image replaced in the middle of a drag: the drag ends with the old picture.
    SendMouse(right_, QEvent::MouseButtonPress, At(2, 50, 50), Qt::LeftButton, Qt::LeftButton);
    QVERIFY(tools_->measurements(2).Busy());
    dlg_->ShowEntry(2, EntryOf(*dlg_, "CT0003.dcm"));
    SendMouse(right_, QEvent::MouseMove, At(2, 90, 90), Qt::NoButton, Qt::LeftButton);
    SendMouse(right_, QEvent::MouseButtonRelease, At(2, 90, 90), Qt::LeftButton, Qt::NoButton);
    QVERIFY(tools_->measurements(2).Empty());
    // The zoom drag switches the tool off.
    QTest::mouseClick(Button("1195"), Qt::LeftButton);
    QVERIFY(!Button("1073")->isChecked());
    QCOMPARE(tools_->tool(2), MeasurementTool::kNone);
  }
};

QTEST_MAIN(MeasureTest)
#include "test_measure_tools.moc"
