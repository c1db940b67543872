// Window/level controls of the main window on the sample study: the drag on the pane,
// edit boxes, up/down buttons and sliders, presets and "初期値", the hold button, the
// preset dialog seam, and the labels of a colour image.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QSlider>
#include <QToolButton>
#include <QtTest>

#include "dicom/dicom_image.h"
#include "render/window_level.h"
#include "base/text.h"
#include "test_window_level_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::testing;

class TestWindowLevel : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Installation> inst_;
  std::unique_ptr<MainDialog> dlg_;

  QLineEdit* Edit(const char* id) { return dlg_->findChild<QLineEdit*>(id); }
  QString LevelText() { return Edit("1053")->text(); }
  QString WidthText() { return Edit("1055")->text(); }
  DicomImage* Left() { return dlg_->PaneImage(1); }

  void SendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
  }
  int PresetRow(const char* utf8) {
    QListWidget* list = dlg_->findChild<QListWidget*>("1174");
    for (int i = 0; i < list->count(); ++i)
      if (list->item(i)->text() == QString::fromUtf8(utf8)) return i;
    return -1;
  }

 private slots:
  void init() {
    inst_ = std::make_unique<Installation>();
    if (!inst_->error.isEmpty()) QSKIP(qPrintable(inst_->error));
    dlg_ = OpenWithSample(*inst_);
    QVERIFY(dlg_ != nullptr);
    const int ct = EntryOf(*dlg_, "CT0001.dcm");
    QVERIFY(ct >= 0);
    dlg_->SetActivePane(1);
    dlg_->ShowEntry(1, ct);
    QVERIFY(Left() != nullptr);
  }
  void cleanup() {
    dlg_.reset();
    inst_.reset();
  }

  void controlsFollowTheLoadedImage() {
    QCOMPARE(LevelText(), QString::number(Left()->fileWindowCenter[0]));
    QCOMPARE(WidthText(), QString::number(Left()->fileWindowWidth[0]));
    QSlider* level = dlg_->findChild<QSlider*>("1056");
    QCOMPARE(level->minimum(), Left()->levelMin);
    QCOMPARE(level->maximum(), Left()->levelMax);
    QCOMPARE(level->value(), Left()->level);
    QCOMPARE(dlg_->findChild<QSlider*>("1057")->minimum(), 2);
    QCOMPARE(dlg_->findChild<QLabel*>("1065")->text(), QString("Level"));
    QCOMPARE(dlg_->mouseMode(1), PaneMouseMode::kLevelWidth);
    QCOMPARE(dlg_->mouseMode(2), PaneMouseMode::kLevelWidth);
    QVERIFY(dlg_->findChild<QToolButton*>("1071")->isChecked());
  }

  void dragChangesLevelAndWidthAndPixels() {
    Left()->level = 40, Left()->width = 400;
    dlg_->ApplyWindow(1, 40, 400);
    const QImage before = Painted(*dlg_, 1);
    QVERIFY(!before.isNull());
    QWidget* pane = dlg_->findChild<QWidget*>("1001");
    // 10 pixels down and 20 to the right, in two moves.
    SendMouse(pane, QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseMove, {108, 104}, Qt::NoButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseMove, {120, 110}, Qt::NoButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseButtonRelease, {120, 110}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(Left()->level, 50);
    QCOMPARE(Left()->width, 420);
    QCOMPARE(LevelText(), QString("50"));
    QCOMPARE(WidthText(), QString("420"));
    QCOMPARE(dlg_->findChild<QSlider*>("1056")->value(), 50);
    const QImage after = Painted(*dlg_, 1);
    QVERIFY(after != before);
    QVERIFY(MeanGrey(after) < MeanGrey(before));  // a higher level darkens the picture

    // After the release, moves change nothing; with the mode off a drag changes nothing.
    SendMouse(pane, QEvent::MouseMove, {150, 150}, Qt::NoButton, Qt::NoButton);
    QCOMPARE(Left()->level, 50);
    dlg_->findChild<QToolButton*>("1071")->click();
    QCOMPARE(dlg_->mouseMode(1), PaneMouseMode::kNone);
    SendMouse(pane, QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseMove, {130, 140}, Qt::NoButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseButtonRelease, {130, 140}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(Left()->level, 50);
    QCOMPARE(Left()->width, 420);
  }

  void dragStopsAtTheRanges() {
    QWidget* pane = dlg_->findChild<QWidget*>("1001");
    Edit("1053")->setText(QString::number(Left()->levelMin + 50));
    Edit("1055")->setText("100");
    // Up and left beyond both minimums.
    SendMouse(pane, QEvent::MouseButtonPress, {300, 300}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseMove, {0, 0}, Qt::NoButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseButtonRelease, {0, 0}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(Left()->level, Left()->levelMin);
    QCOMPARE(Left()->width, 2);
    QCOMPARE(WidthText(), QString("2"));
    QVERIFY(!Painted(*dlg_, 1).isNull());  // the narrowest window still paints
    // Down and right beyond both maximums.
    Edit("1053")->setText(QString::number(Left()->levelMax - 50));
    Edit("1055")->setText(QString::number(Left()->widthMax - 100));
    SendMouse(pane, QEvent::MouseButtonPress, {0, 0}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseMove, {300, 300}, Qt::NoButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseButtonRelease, {300, 300}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(Left()->level, Left()->levelMax);
    QCOMPARE(Left()->width, Left()->widthMax);
  }

  void editBoxesUpDownAndSliders() {
    QLineEdit* level = Edit("1053");
    level->setText("123abc");  // atoi of the text
    QCOMPARE(Left()->level, 123);
    QCOMPARE(dlg_->findChild<QSlider*>("1056")->value(), 123);
    auto* spin = dlg_->findChild<UpDownButtons*>("1061");
    Edit("1055")->setText("100");
    spin->up->click();
    QCOMPARE(WidthText(), QString("101"));
    QCOMPARE(Left()->width, 101);
    Edit("1055")->setText("2");
    spin->down->click();  // held at widthMin
    QCOMPARE(WidthText(), QString("2"));
    dlg_->findChild<QSlider*>("1057")->setValue(777);
    QCOMPARE(WidthText(), QString("777"));
    QCOMPARE(Left()->width, 777);
    // Widths below 2 typed into the box still paint (the conversion clamps them).
    for (const char* w : {"1", "0", "-50"}) {
      Edit("1055")->setText(w);
      QCOMPARE(Left()->width, WindowBoxValue(w));
      QVERIFY(!Painted(*dlg_, 1).isNull());
    }
    Edit("1055")->setText("777");
    // The box texts are what a held load takes.
    QCOMPARE(QString::fromStdString(dlg_->loadContext().panes[1].widthText), QString("777"));
    QCOMPARE(QString::fromStdString(dlg_->loadContext().panes[2].levelText), QString("123abc"));
  }

  void presetsAndInitialValuesApply() {
    const int lung = PresetRow("肺野");
    QVERIFY(lung >= 0);
    QCOMPARE(PresetRow("初期値 1"), 0);
    QListWidget* list = dlg_->findChild<QListWidget*>("1174");
    QCOMPARE(list->currentRow(), -1);
    QCOMPARE(list->item(list->count() - 1)->text(), QString::fromUtf8("　設定する"));
    const QImage before = Painted(*dlg_, 1);
    list->setCurrentRow(lung);
    QCOMPARE(Left()->level, -600);
    QCOMPARE(Left()->width, 1500);
    QCOMPARE(LevelText(), QString("-600"));
    QCOMPARE(dlg_->findChild<QSlider*>("1057")->value(), 1500);
    QVERIFY(Painted(*dlg_, 1) != before);
    list->setCurrentRow(0);  // "初期値 1"
    QCOMPARE(Left()->level, Left()->fileWindowCenter[0]);
    QCOMPARE(Left()->width, Left()->fileWindowWidth[0]);
    QCOMPARE(Painted(*dlg_, 1), before);
  }

  // Clicking the highlighted preset applies it again after the window was changed by
  // hand; "　設定する" opens the dialog once per click.
  void clickingTheHighlightedPresetAppliesItAgain() {
    QListWidget* list = dlg_->findChild<QListWidget*>("1174");
    auto click = [&](int row) {
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    };
    const int second = PresetRow("肺野");
    QVERIFY(second >= 0);
    click(second);
    QCOMPARE(Left()->level, -600);
    Edit("1053")->setText("-477");
    QCOMPARE(Left()->level, -477);
    click(second);
    QCOMPARE(Left()->level, -600);
    int opened = 0;
    dlg_->presetDialogOverride = [&] {
      ++opened;
      return false;
    };
    click(list->count() - 1);
    QCOMPARE(opened, 1);
  }

  void presetDialogReloadsTheList() {
    const int before = dlg_->presetCount();
    QVERIFY(before > 0);
    bool opened = false;
    dlg_->presetDialogOverride = [&] {
      opened = true;
      QFile f(inst_->PresetPath());
      if (!f.open(QIODevice::WriteOnly)) return false;
      f.write(QByteArray::fromStdString(SJ("テスト") + ",7,70\r\n"));
      return true;
    };
    QListWidget* list = dlg_->findChild<QListWidget*>("1174");
    list->setCurrentRow(list->count() - 1);  // "　設定する"
    QVERIFY(opened);
    QCOMPARE(dlg_->presetCount(), 1);
    QVERIFY(PresetRow("テスト") >= 0);
    QVERIFY(PresetRow("肺野") < 0);
    list->setCurrentRow(PresetRow("テスト"));
    QCOMPARE(Left()->level, 7);
    QCOMPARE(Left()->width, 70);
  }

  void holdCarriesTheWindowToTheNextImage() {
    const int next = EntryOf(*dlg_, "CT0002.dcm");
    QVERIFY(next >= 0);
    Edit("1053")->setText("300");
    Edit("1055")->setText("900");
    QToolButton* hold = dlg_->findChild<QToolButton*>("1098");
    hold->click();
    QVERIFY(dlg_->loadContext().panes[1].levelWidthHold);
    QVERIFY(!dlg_->loadContext().panes[2].levelWidthHold);  // separate mode: the active pane only
    dlg_->ShowEntry(1, next);
    QCOMPARE(Left()->level, 300);
    QCOMPARE(Left()->width, 900);
    QCOMPARE(LevelText(), QString("300"));
    // Without hold the next image takes its own window.
    hold->click();
    dlg_->ShowEntry(1, EntryOf(*dlg_, "CT0003.dcm"));
    QCOMPARE(Left()->level, Left()->fileWindowCenter[0]);
    QCOMPARE(LevelText(), QString::number(Left()->fileWindowCenter[0]));
  }

  void controlsFollowTheActivePane() {
    const int colour = EntryOf(*dlg_, "SC0001.dcm");
    QVERIFY(colour >= 0);
    dlg_->ShowEntry(2, colour);
    QVERIFY(dlg_->PaneImage(2) && dlg_->PaneImage(2)->isColour);
    Edit("1053")->setText("77");
    dlg_->SetActivePane(2);
    QCOMPARE(dlg_->findChild<QLabel*>("1065")->text(), QString::fromUtf8("明度"));
    QCOMPARE(dlg_->findChild<QLabel*>("1066")->text(), QString::fromUtf8("彩度"));
    QCOMPARE(LevelText(), QString::number(dlg_->PaneImage(2)->level));
    QCOMPARE(dlg_->findChild<QSlider*>("1056")->maximum(), 1024);
    // A colour drag: down lowers the brightness value, right lowers the saturation value.
    const int32_t l = dlg_->PaneImage(2)->level, w = dlg_->PaneImage(2)->width;
    QWidget* pane = dlg_->findChild<QWidget*>("1005");
    SendMouse(pane, QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseMove, {105, 103}, Qt::NoButton, Qt::LeftButton);
    SendMouse(pane, QEvent::MouseButtonRelease, {105, 103}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(dlg_->PaneImage(2)->level, std::clamp(l - 3, 0, 1024));
    QCOMPARE(dlg_->PaneImage(2)->width, std::clamp(w - 5, 2, 1024));
    QCOMPARE(Left()->level, 77);  // the left pane kept its window
    dlg_->SetActivePane(1);
    QCOMPARE(LevelText(), QString("77"));
    QCOMPARE(dlg_->findChild<QLabel*>("1065")->text(), QString("Level"));
  }
};

QTEST_MAIN(TestWindowLevel)
#include "test_window_level.moc"
