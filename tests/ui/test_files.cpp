// The file area of the main window: folder intake through its dialog, the file list
// and its levels, sorting, choosing the pane by button, keys, row drops, combined
// neighbours, file drops, clear.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QMimeData>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <functional>
#include <memory>

#include "browser/ui/file_list.h"
#include "render/ui/pane_view.h"
#include "test_files_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::files_test;

class FilesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Installation> install_;
  std::string study_;
  std::unique_ptr<MainDialog> d_;

  // A fresh main window with the standard study taken in through TakeFolder.
  MainDialog& OpenStudy() {
    d_ = std::make_unique<MainDialog>();
    d_->resize(1000, 800);
    d_->show();
    if (!QTest::qWaitForWindowExposed(d_.get())) qWarning("window not exposed");
    d_->TakeFolder(study_);
    return *d_;
  }
  // A point on a row inside the first column, away from its text.
  QPoint RowCentre(int row) { return QPoint(70, d_->fileList->RowRect(row).center().y()); }
  void Click(int row, Qt::MouseButton button) {
    QTest::mouseClick(d_->fileList->viewport(), button, Qt::NoModifier, RowCentre(row));
  }
  QToolButton* Button(const char* id) { return d_->findChild<QToolButton*>(id); }
  // Runs `act` on the first modal QFileDialog that appears (polled every 50 ms, for at
  // most 10 s).
  void WhenFileDialog(std::function<void(QFileDialog*)> act) {
    auto* poll = new QTimer(this);
    auto tries = std::make_shared<int>(0);
    connect(poll, &QTimer::timeout, this, [poll, tries, act] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr && ++*tries < 200) return;
      poll->stop();
      poll->deleteLater();
      if (dialog != nullptr) act(dialog);
    });
    poll->start(50);
  }
  // A drag entering the main window, moving to `at` and dropping there, as the window
  // system delivers it. Returns whether the drop was taken.
  bool SendDrop(const QPoint& at, const QMimeData& mime, Qt::DropActions actions) {
    QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(d_.get(), &enter);
    QDragMoveEvent move(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(d_.get(), &move);
    if (!move.isAccepted()) return false;
    QDropEvent drop(QPointF(at), actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(d_.get(), &drop);
    return drop.isAccepted();
  }

 private slots:
  void initTestCase() {
    install_ = std::make_unique<Installation>();
    if (!install_->error.isEmpty()) QSKIP(qPrintable(install_->error));
    study_ = install_->Folder("study");
    WriteStandardStudy(study_);
  }
  void cleanup() { d_.reset(); }

  // "ﾌｫﾙﾀﾞ" opens the folder dialog; choosing the study fills the list at the level
  // remembered in Velmo.ini and paints the first row's image in the left pane.
  void folderButtonFillsListAndPaintsLeftPane() {
    d_ = std::make_unique<MainDialog>();
    d_->resize(1000, 800);
    d_->show();
    QVERIFY(QTest::qWaitForWindowExposed(d_.get()));
    QCOMPARE(d_->listLevel(), 3);
    QVERIFY(Button("1048")->isChecked());
    QVERIFY(!Button("1045")->isChecked());
    QCOMPARE(d_->fileList->RowCount(), 0);

    QString title;
    WhenFileDialog([&](QFileDialog* dialog) {
      title = dialog->windowTitle();
      dialog->setDirectory(QString::fromStdString(study_));
      QMetaObject::invokeMethod(dialog, "accept");
    });
    Button("1006")->click();
    QCOMPARE(title, QString::fromUtf8("フォルダの選択"));

    FileList& list = *d_->fileList;
    QCOMPARE(list.RowCount(), 8);
    QCOMPARE(d_->fileTable().validCount.load(), 8);
    QCOMPARE(list.SelectedRow(), 0);
    QCOMPARE(list.CellText(0, 0), QString("P1"));
    QCOMPARE(list.CellText(0, 12).trimmed(), QString("1"));
    QCOMPARE(list.CellText(7, 0), QString("P2"));
    QVERIFY(list.CellText(3, 15).endsWith("/fe.dcm") || list.CellText(3, 15).endsWith("sub/fe.dcm"));
    QVERIFY(Shows(*d_, 1, kRowValue[0]));
    QCOMPARE(d_->activePane(), 1);
    QVERIFY(!d_->panePaintedImage(2));

    // "更新" keeps the list (the last path is a folder, nothing is re-read).
    Button("1009")->click();
    QCOMPARE(list.RowCount(), 8);
    QCOMPARE(list.SelectedRow(), 0);
  }

  // "ﾌｧｲﾙ" opens a multi-selection dialog showing "すべてのファイル(*.*)"; the chosen
  // files (one without an extension) are appended and the left pane keeps its entry.
  // The menu item "開く(&O)" opens the same dialog.
  void fileButtonAppendsChosenFiles() {
    MainDialog& d = OpenStudy();
    QVERIFY(Shows(d, 1, kRowValue[0]));
    const std::string extra = install_->Folder("chosen");
    WriteSeries(extra, 3);
    QVERIFY(QFile::rename(QString::fromStdString(extra + "/img0001.dcm"), QString::fromStdString(extra + "/IMG1")));
    QString title, filter;
    WhenFileDialog([&](QFileDialog* dialog) {
      title = dialog->windowTitle();
      filter = dialog->findChild<QComboBox*>("fileTypeCombo")->currentText();
      dialog->setDirectory(QString::fromStdString(extra));
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText("\"IMG1\" \"img0003.dcm\"");
      QMetaObject::invokeMethod(dialog, "accept");
    });
    Button("1004")->click();
    QCOMPARE(title, QString::fromUtf8("開く"));
    QCOMPARE(filter.trimmed(), QString::fromUtf8("すべてのファイル(*.*)"));
    QCOMPARE(d.fileTable().validCount.load(), 10);
    QCOMPARE(d.fileList->RowCount(), 10);
    QCOMPARE(d.fileList->CellText(8, 0).trimmed(), QString("S"));
    QVERIFY(d.fileList->CellText(8, kColFileName).endsWith("/IMG1"));
    QCOMPARE(d.fileList->SelectedRow(), 0);
    QCOMPARE(d.activePane(), 1);
    QVERIFY(Shows(d, 1, kRowValue[0]));

    bool opened = false;
    WhenFileDialog([&](QFileDialog* dialog) {
      opened = dialog->fileMode() == QFileDialog::ExistingFiles;
      dialog->reject();
    });
    d.openAction->trigger();
    QVERIFY(opened);
    QCOMPARE(d.fileList->RowCount(), 10);
  }

  // A right press on a row shows it in the right pane and makes that pane current; a
  // left press then shows another row in the left pane.
  void pressButtonChoosesPane() {
    MainDialog& d = OpenStudy();
    QVERIFY(Shows(d, 1, kRowValue[0]));
    Click(2, Qt::RightButton);
    QCOMPARE(d.activePane(), 2);
    QCOMPARE(d.fileList->SelectedRow(), 2);
    QVERIFY(Shows(d, 2, kRowValue[2]));
    QVERIFY(Shows(d, 1, kRowValue[0]));

    Click(5, Qt::LeftButton);
    QCOMPARE(d.activePane(), 1);
    QVERIFY(Shows(d, 1, kRowValue[5]));
    QVERIFY(Shows(d, 2, kRowValue[2]));

    // While the mouse is down the row is only pressed (pale yellow); it is selected
    // when the button comes up.
    QTest::mousePress(d.fileList->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(6));
    QCOMPARE(d.fileList->pressedRow(), 6);
    QCOMPARE(d.fileList->SelectedRow(), 5);
    const QImage pressed = d.fileList->viewport()->grab().toImage();
    QCOMPARE(pressed.pixelColor(RowCentre(6)).rgb(), FileList::kPressedColour.rgb());
    QTest::mouseRelease(d.fileList->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(6));
    QCOMPARE(d.fileList->pressedRow(), -1);
    QCOMPARE(d.fileList->SelectedRow(), 6);
    QVERIFY(Shows(d, 1, kRowValue[6]));
    const QImage selected = d.fileList->viewport()->grab().toImage();
    QCOMPARE(selected.pixelColor(RowCentre(6)).rgb(), FileList::kSelectedColour.rgb());
    QCOMPARE(selected.pixelColor(RowCentre(1)).rgb(), QColor(Qt::white).rgb());
  }

  // The list follows the active pane: a click on the other pane and a double-click
  // (enlarged layout) highlight that pane's row, and the arrow keys go on from it.
  void listFollowsTheActivePane() {
    MainDialog& d = OpenStudy();
    QVERIFY(Shows(d, 1, kRowValue[0]));
    Click(5, Qt::RightButton);
    QVERIFY(Shows(d, 2, kRowValue[5]));
    Click(2, Qt::LeftButton);
    QVERIFY(Shows(d, 1, kRowValue[2]));
    QCOMPARE(d.fileList->SelectedRow(), 2);

    QTest::mouseDClick(d.rightPane, Qt::LeftButton, Qt::NoModifier, d.rightPane->rect().center());
    QVERIFY(d.enlargedLayout());
    QCOMPARE(d.activePane(), 2);
    QCOMPARE(d.fileList->SelectedRow(), 5);
    d.fileList->setFocus();
    QTest::keyClick(d.fileList, Qt::Key_Down);
    QCOMPARE(d.fileList->SelectedRow(), 6);
    QVERIFY(Shows(d, 2, kRowValue[6]));
    QTest::mouseDClick(d.rightPane, Qt::LeftButton, Qt::NoModifier, d.rightPane->rect().center());
    QVERIFY(!d.enlargedLayout());

    // A first click on the inactive pane only activates it: its row is highlighted.
    QTest::mouseClick(d.leftPane, Qt::LeftButton, Qt::NoModifier, d.leftPane->rect().center());
    QCOMPARE(d.activePane(), 1);
    QCOMPARE(d.fileList->SelectedRow(), 2);
    QVERIFY(Shows(d, 1, kRowValue[2]));
  }

  // Up and Down show the new row; Page Down only moves the selection.
  void arrowKeysLoadPageDownDoesNot() {
    MainDialog& d = OpenStudy();
    d.fileList->setFocus();
    QTest::keyClick(d.fileList, Qt::Key_Down);
    QCOMPARE(d.fileList->SelectedRow(), 1);
    QVERIFY(Shows(d, 1, kRowValue[1]));
    QTest::keyClick(d.fileList, Qt::Key_PageDown);
    QVERIFY(d.fileList->SelectedRow() > 1);
    QVERIFY(Shows(d, 1, kRowValue[1]));
    const int below = d.fileList->SelectedRow();
    QTest::keyClick(d.fileList, Qt::Key_Up);
    QCOMPARE(d.fileList->SelectedRow(), below - 1);
    QVERIFY(Shows(d, 1, kRowValue[below - 1]));
  }

  // Combined mode: the selected image and the next one of the same series; with the
  // right pane current, the previous one goes left; no neighbour leaves a pane empty.
  void combinedModeShowsNeighbour() {
    MainDialog& d = OpenStudy();
    Button("1095")->click();
    QVERIFY(d.combinedMode());
    Click(1, Qt::LeftButton);
    QVERIFY(Shows(d, 1, kRowValue[1]));
    QVERIFY(Shows(d, 2, kRowValue[2]));
    Click(3, Qt::RightButton);
    QCOMPARE(d.activePane(), 2);
    QVERIFY(Shows(d, 2, kRowValue[3]));
    QVERIFY(Shows(d, 1, kRowValue[2]));
    // The last image of series 1 has no next image in its series.
    Click(4, Qt::LeftButton);
    QVERIFY(Shows(d, 1, kRowValue[4]));
    QTRY_COMPARE(d.loadContext().viewIndex[2], -1);
    // At the series level the neighbour is the next series of the same study: none
    // for the second series (the next row is another patient's study).
    Button("1047")->click();
    QCOMPARE(d.fileList->RowCount(), 3);
    QCOMPARE(d.fileList->SelectedRow(), 0);
    Click(1, Qt::LeftButton);
    QVERIFY(Shows(d, 1, kRowValue[5]));
    QTRY_COMPARE(d.loadContext().viewIndex[2], -1);
    QTest::keyClick(d.fileList, Qt::Key_Up);
    QVERIFY(Shows(d, 1, kRowValue[0]));
    QVERIFY(Shows(d, 2, kRowValue[5]));
  }

  // The level buttons change the rows and the columns filled; exactly one is down.
  void levelButtonsChangeRows() {
    MainDialog& d = OpenStudy();
    FileList& list = *d.fileList;
    const char* ids[4] = {"1045", "1046", "1047", "1048"};
    const int rows[4] = {2, 2, 3, 8};
    for (int level = 0; level < 4; ++level) {
      Button(ids[level])->click();
      QCOMPARE(d.listLevel(), level);
      QCOMPARE(list.RowCount(), rows[level]);
      for (int b = 0; b < 4; ++b) QCOMPARE(Button(ids[b])->isChecked(), b == level);
    }
    QCOMPARE(d.ListLevelSetting(), SJ("画像"));
    Button("1046")->click();
    QCOMPARE(d.ListLevelSetting(), SJ("検査"));
    QCOMPARE(list.CellText(0, 3), QString("20200101"));
    QVERIFY(list.CellText(0, kColModality).isEmpty());
    // The current pane's entry stays selected across level changes.
    QCOMPARE(list.SelectedRow(), 0);
    Button("1047")->click();
    QCOMPARE(list.CellText(0, kColModality).trimmed(), QString("CT"));
    QVERIFY(list.CellText(0, kColImageNumber).isEmpty());
    // A series row shows its first image.
    Click(1, Qt::LeftButton);
    QVERIFY(Shows(d, 1, kRowValue[5]));
  }

  // A click on "画像番号" reverses the image order inside each series, a second click
  // restores it; the entry shown stays selected.
  void columnClickSorts() {
    MainDialog& d = OpenStudy();
    FileList& list = *d.fileList;
    const QPoint section(list.header()->sectionViewportPosition(kColImageNumber) + 10, list.header()->height() / 2);
    QTest::mouseClick(list.header()->viewport(), Qt::LeftButton, Qt::NoModifier, section);
    QCOMPARE(list.CellText(0, kColImageNumber).trimmed(), QString("5"));
    QCOMPARE(list.CellText(4, kColImageNumber).trimmed(), QString("1"));
    QCOMPARE(list.SelectedRow(), 4);  // the left pane still shows instance 1
    QTest::mouseClick(list.header()->viewport(), Qt::LeftButton, Qt::NoModifier, section);
    QCOMPARE(list.CellText(0, kColImageNumber).trimmed(), QString("1"));
    QCOMPARE(list.SelectedRow(), 0);
  }

  // A row dragged onto the right pane is shown there and makes it current; the drop
  // selects the row and leaves no pressed row behind.
  void rowDropOnPane() {
    MainDialog& d = OpenStudy();
    QTest::mousePress(d.fileList->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(3));
    QCOMPARE(d.fileList->pressedRow(), 3);
    QWidget* right = d.findChild<QWidget*>("1005");
    QVERIFY(right != nullptr);
    const QPoint at = right->mapTo(&d, right->rect().center());
    QCOMPARE(d.DropZoneAt(at, true), 2);
    QMimeData mime;
    mime.setText("3");
    QVERIFY(SendDrop(at, mime, Qt::CopyAction | Qt::MoveAction));
    QCOMPARE(d.activePane(), 2);
    QCOMPARE(d.fileList->SelectedRow(), 3);
    QCOMPARE(d.fileList->pressedRow(), -1);
    QVERIFY(Shows(d, 2, kRowValue[3]));
    QVERIFY(Shows(d, 1, kRowValue[0]));
    // The button comes up after the drop: nothing more happens.
    QTest::mouseRelease(d.fileList->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(3));
    QCOMPARE(d.activePane(), 2);
    QVERIFY(Shows(d, 1, kRowValue[0]));

    // A row drop on the file list itself is not taken.
    QTest::mousePress(d.fileList->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(1));
    const QPoint onList = d.fileList->mapTo(&d, d.fileList->rect().center());
    QCOMPARE(d.DropZoneAt(onList, true), -1);
    QCOMPARE(d.DropZoneAt(onList, false), 0);
    QTest::mouseRelease(d.fileList->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(1));
  }

  // Files dropped on the right pane are appended, read and shown from the right pane.
  void fileDropOnRightPane() {
    MainDialog& d = OpenStudy();
    const std::string extra = install_->Folder("extra");
    WriteSeries(extra, 2);
    QWidget* right = d.findChild<QWidget*>("1005");
    const QPoint at = right->mapTo(&d, right->rect().center());
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(extra))});
    QVERIFY(SendDrop(at, mime, Qt::CopyAction));
    QTRY_COMPARE(d.fileTable().validCount.load(), 10);
    QTRY_COMPARE(d.fileList->RowCount(), 10);
    QCOMPARE(d.activePane(), 2);
    // The right pane had no entry: the first row is selected and shown there.
    QCOMPARE(d.fileList->SelectedRow(), 0);
    QVERIFY(Shows(d, 2, kRowValue[0]));
  }

  // While a loading job runs, choosing a row loads nothing.
  void listLoadsIgnoredDuringJob() {
    MainDialog& d = OpenStudy();
    const int shown = d.loadContext().viewIndex[1];
    QCOMPARE(shown, d.studyTree().EntryOfRow(0));
    d.SetLoadingJobRunning(true);
    Click(3, Qt::LeftButton);
    QCOMPARE(d.fileList->SelectedRow(), 3);
    QCOMPARE(d.loadContext().viewIndex[1], shown);
    d.SetLoadingJobRunning(false);
    QTest::keyClick(d.fileList, Qt::Key_Down);
    QVERIFY(Shows(d, 1, kRowValue[4]));
  }

  // "ｸﾘｱ" empties the table, the list and both panes.
  void clearEmptiesEverything() {
    MainDialog& d = OpenStudy();
    QVERIFY(Shows(d, 1, kRowValue[0]));
    Button("1012")->click();
    QCOMPARE(d.fileList->RowCount(), 0);
    QCOMPARE(d.fileTable().validCount.load(), 0);
    QCOMPARE(d.loadContext().viewIndex[1], -1);
    QVERIFY(!QTest::qWaitFor([&] { return d.panePaintedImage(1); }, 300));
    // A new intake after the clear starts from an empty table.
    d.TakeFolder(study_);
    QCOMPARE(d.fileList->RowCount(), 8);
  }

  // A cancelled job keeps the files read before the cancel; the lists are built from them.
  void cancelledJobKeepsWhatWasRead() {
    d_ = std::make_unique<MainDialog>();
    d_->resize(1000, 800);
    d_->show();
    QVERIFY(QTest::qWaitForWindowExposed(d_.get()));
    const std::string series = install_->Folder("series40");
    WriteSeries(series, 40);
    SlowDisk slow(40);
    d_->loadContext().files = &slow;
    QString text;
    int range = -1;
    QTimer::singleShot(1300, [&] {
      auto* progress = QApplication::activeModalWidget();
      if (progress == nullptr || progress->objectName() != "ProgressDialog") return;
      text = progress->findChild<QLabel*>("status")->text();
      range = progress->findChild<QProgressBar*>("progress")->maximum();
      progress->findChild<QPushButton*>("cancel")->click();
    });
    d_->TakeFolder(series);
    d_->loadContext().files = &DiskFileSource::Instance();
    QVERIFY(d_->lastLoadingJobCancelled());
    QCOMPARE(range, 40);
    QVERIFY2(QRegularExpression("^\\d+ / 40$").match(text).hasMatch(), qPrintable(text));
    const int kept = d_->fileTable().validCount.load();
    QVERIFY2(kept > 0 && kept < 40, qPrintable(QString::number(kept)));
    QCOMPARE(d_->fileTable().pendingEnd.load(), kept);
    QCOMPARE(d_->fileList->RowCount(), kept);
    QCOMPARE(d_->fileList->SelectedRow(), 0);
    QVERIFY(CentreGrey(*d_, 1) >= 0);
  }
};

QTEST_MAIN(FilesTest)
#include "test_files.moc"
