// CINE controls on the sample study: a 10-frame image played forward and backward,
// the timers per pane, the frame edit and slider, series playback of single-frame
// images, and ticks ignored while a loading job runs.
#include <QLineEdit>
#include <QSlider>
#include <QToolButton>
#include <QtTest>

#include "dicom/dicom_image.h"
#include "test_window_level_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::testing;

class TestCine : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Installation> inst_;
  std::unique_ptr<MainDialog> dlg_;
  int multiFrame_ = -1;

  QLineEdit* FrameEdit() { return dlg_->findChild<QLineEdit*>("1054"); }
  QToolButton* Button(const char* id) { return dlg_->findChild<QToolButton*>(id); }
  // The series (list order) of the image a pane shows.
  std::vector<int32_t> SeriesOf(int pane) {
    const int32_t entry = dlg_->loadContext().viewIndex[pane];
    for (const auto& p : dlg_->studyTree().patients())
      for (const auto& st : p.studies)
        for (const auto& se : st.series)
          for (int32_t i : se.images)
            if (i == entry) return se.images;
    return {};
  }

 private slots:
  void init() {
    inst_ = std::make_unique<Installation>();
    if (!inst_->error.isEmpty()) QSKIP(qPrintable(inst_->error));
    dlg_ = OpenWithSample(*inst_);
    QVERIFY(dlg_ != nullptr);
    multiFrame_ = EntryOf(*dlg_, "MF0001.dcm");
    QVERIFY(multiFrame_ >= 0);
    dlg_->SetActivePane(1);
  }
  void cleanup() {
    dlg_.reset();
    inst_.reset();
  }

  void multiFramePlaysForwardAndWraps() {
    dlg_->ShowEntry(1, multiFrame_);
    QCOMPARE(dlg_->PaneImage(1)->frameCount, 10);
    QCOMPARE(FrameEdit()->text(), QString("1"));
    QCOMPARE(dlg_->findChild<QSlider*>("1142")->maximum(), 10);
    dlg_->findChild<QLineEdit*>("1058")->setText("50");
    Button("1147")->click();
    QVERIFY(Button("1147")->isChecked());
    QVERIFY(!Button("1148")->isChecked());
    QVERIFY(dlg_->cineTimerActive(1));
    QCOMPARE(dlg_->cineTimerInterval(1), 50);
    // Ticks are driven by hand below (no event loop runs, so the timer stays quiet).

    QStringList shown{FrameEdit()->text()};
    QImage first = Painted(*dlg_, 1);
    QImage previous = first;
    int changedPictures = 0;
    for (int i = 0; i < 10; ++i) {
      dlg_->CineTick(1);
      shown << FrameEdit()->text();
      const QImage now = Painted(*dlg_, 1);
      if (now != previous) ++changedPictures;
      previous = now;
    }
    QCOMPARE(shown, QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "1"}));
    QCOMPARE(dlg_->paneDisplay(1).frame, 1);
    QCOMPARE(dlg_->findChild<QSlider*>("1142")->value(), 1);
    QCOMPARE(changedPictures, 10);  // every frame shows a different picture
    QCOMPARE(previous, first);      // and frame 1 again at the end

    Button("1148")->click();  // backward from 1 goes to 10
    QVERIFY(!Button("1147")->isChecked());
    dlg_->CineTick(1);
    QCOMPARE(FrameEdit()->text(), QString("10"));
    Button("1149")->click();
    QVERIFY(!dlg_->cineTimerActive(1));
    QVERIFY(!dlg_->cinePlaying(1));
    dlg_->CineTick(1);  // a stopped pane does not move
    QCOMPARE(FrameEdit()->text(), QString("10"));
  }

  void realTimerAdvances() {
    dlg_->ShowEntry(1, multiFrame_);
    dlg_->findChild<QLineEdit*>("1058")->setText("");  // empty: the shortest interval
    Button("1147")->click();
    QCOMPARE(dlg_->cineTimerInterval(1), 10);
    QTRY_VERIFY_WITH_TIMEOUT(FrameEdit()->text() != "1", 5000);
    Button("1149")->click();
  }

  void frameEditAndSliderOnMultiFrame() {
    dlg_->ShowEntry(1, multiFrame_);
    FrameEdit()->setText("7");
    QCOMPARE(dlg_->paneDisplay(1).frame, 7);
    QCOMPARE(dlg_->findChild<QSlider*>("1142")->value(), 7);
    const QImage seven = Painted(*dlg_, 1);
    dlg_->findChild<QSlider*>("1142")->setValue(3);
    QCOMPARE(FrameEdit()->text(), QString("3"));
    QCOMPARE(dlg_->paneDisplay(1).frame, 3);
    QVERIFY(Painted(*dlg_, 1) != seven);
  }

  void seriesPlaybackOfSingleFrameImages() {
    const int ct = EntryOf(*dlg_, "CT0001.dcm");
    dlg_->ShowEntry(1, ct);
    const std::vector<int32_t> series = SeriesOf(1);
    QVERIFY(series.size() >= 3);
    QCOMPARE(series.front(), ct);
    QCOMPARE(dlg_->findChild<QSlider*>("1142")->maximum(), int(series.size()));
    Button("1148")->click();  // backward from the first image shows the last
    dlg_->CineTick(1);
    QCOMPARE(dlg_->loadContext().viewIndex[1], series.back());
    QCOMPARE(FrameEdit()->text(), QString::number(series.size()));
    Button("1147")->click();
    dlg_->CineTick(1);
    QCOMPARE(dlg_->loadContext().viewIndex[1], series.front());
    dlg_->CineTick(1);
    QCOMPARE(dlg_->loadContext().viewIndex[1], series[1]);
    QCOMPARE(FrameEdit()->text(), QString("2"));
    Button("1149")->click();

    // Typed numbers: 0, negatives and numbers past the series change nothing.
    for (const char* text : {"0", "-3", "abc"}) {
      FrameEdit()->setText(text);
      QCOMPARE(dlg_->loadContext().viewIndex[1], series[1]);
    }
    FrameEdit()->setText(QString::number(series.size() + 1));
    QCOMPARE(dlg_->loadContext().viewIndex[1], series[1]);
    FrameEdit()->setText("3");
    QCOMPARE(dlg_->loadContext().viewIndex[1], series[2]);
    QVERIFY(!Painted(*dlg_, 1).isNull());
  }

  void stopActsOnTheActivePaneOnly() {
    dlg_->ShowEntry(1, multiFrame_);
    dlg_->ShowEntry(2, multiFrame_);
    Button("1147")->click();  // left plays
    dlg_->SetActivePane(2);
    QVERIFY(!Button("1147")->isChecked());  // the buttons show the right pane
    Button("1148")->click();  // right plays backward
    QVERIFY(dlg_->cineTimerActive(1) && dlg_->cineTimerActive(2));
    Button("1149")->click();
    QVERIFY(dlg_->cineTimerActive(1));
    QVERIFY(!dlg_->cineTimerActive(2));
    // A tick of the inactive left pane moves its frame but leaves the frame edit to the right pane.
    const QString rightFrame = FrameEdit()->text();
    const int before = dlg_->paneDisplay(1).frame;
    dlg_->CineTick(1);
    QVERIFY(dlg_->paneDisplay(1).frame != before);
    QCOMPARE(FrameEdit()->text(), rightFrame);
    dlg_->SetActivePane(1);
    QVERIFY(Button("1147")->isChecked());
    QCOMPARE(FrameEdit()->text(), QString::number(dlg_->paneDisplay(1).frame));
    Button("1149")->click();
  }

  void ticksWaitWhileALoadingJobRuns() {
    dlg_->ShowEntry(1, multiFrame_);
    Button("1147")->click();
    Button("1149")->click();
    Button("1147")->click();
    dlg_->SetLoadingJobRunning(true);
    dlg_->CineTick(1);
    QCOMPARE(dlg_->paneDisplay(1).frame, 1);
    dlg_->SetLoadingJobRunning(false);
    dlg_->CineTick(1);
    QCOMPARE(dlg_->paneDisplay(1).frame, 2);
    Button("1149")->click();
  }
};

QTEST_MAIN(TestCine)
#include "test_cine.moc"
