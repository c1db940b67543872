// The preset dialog: the file created when missing, add/edit/move/delete with the
// button states and warnings, and "登録" writing Shift-JIS CR LF (nothing on cancel).
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "render/ui/preset_dialog.h"
#include "base/log.h"
#include "base/text.h"
#include "support/test_util.h"

using namespace velmo;
using namespace velmo::ui;

class TestPresetDialog : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path() const { return dir_.path() + "/Preset.csv"; }
  void WriteFile(const std::string& bytes) {
    QFile f(Path());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), qint64(bytes.size()));
  }
  QByteArray ReadFile() {
    QFile f(Path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  static QString Cell(PresetDialog& d, int row, int column) { return d.list->item(row, column)->text(); }
  static void Type(PresetDialog& d, const char* name, const char* level, const char* width) {
    d.nameEdit->setText(QString::fromUtf8(name));
    d.levelEdit->setText(QString::fromUtf8(level));
    d.widthEdit->setText(QString::fromUtf8(width));
  }

 private slots:
  void init() { QFile::remove(Path()); }

  void missingFileIsCreatedAndRowsAreAddedWithWarnings() {
    test::RecordingNotifier notifier;
    PresetDialog d(Path().toStdString(), Log::Null(), &notifier);
    QCOMPARE(d.objectName(), QString("138"));
    QCOMPARE(d.windowTitle(), QString::fromUtf8("Level、Widthのプリセット設定"));
    QVERIFY(QFile::exists(Path()));
    QCOMPARE(d.list->rowCount(), 0);
    QVERIFY(d.addButton->isEnabled());
    QVERIFY(!d.editButton->isEnabled() && !d.deleteButton->isEnabled() && !d.okButton->isEnabled());

    d.addButton->click();
    QVERIFY(!d.list->isEnabled() && !d.addButton->isEnabled());
    QVERIFY(d.nameEdit->isEnabled() && d.okButton->isEnabled() && d.cancelEditButton->isEnabled());
    Type(d, "", "40", "80");
    d.okButton->click();
    Type(d, "脳", "", "80");
    d.okButton->click();
    Type(d, "脳", "40", "");
    d.okButton->click();
    QCOMPARE(notifier.entries.size(), size_t(3));
    QCOMPARE(notifier.entries[0].caption, SJ("警告"));
    QCOMPARE(notifier.entries[0].message, SJ("名称が入力されていません。"));
    QCOMPARE(notifier.entries[1].message, SJ("Levelが入力されていません。"));
    QCOMPARE(notifier.entries[2].message, SJ("Widthが入力されていません。"));
    QVERIFY(notifier.entries[0].icon == NoticeIcon::Warning);
    QVERIFY(d.okButton->isEnabled());  // the edit goes on
    Type(d, "脳", "40", "80");
    d.okButton->click();
    QCOMPARE(d.list->rowCount(), 1);
    QCOMPARE(Cell(d, 0, 0), QString::fromUtf8("脳"));
    QCOMPARE(d.selectedRow(), 0);
    QVERIFY(d.list->isEnabled() && !d.okButton->isEnabled() && d.editButton->isEnabled());

    // With a row selected, a new row goes in front of it.
    d.addButton->click();
    QVERIFY(d.nameEdit->text().isEmpty());
    Type(d, "肺野", "-600", "1500");
    d.okButton->click();
    QCOMPARE(Cell(d, 0, 0), QString::fromUtf8("肺野"));
    QCOMPARE(Cell(d, 1, 0), QString::fromUtf8("脳"));
    QCOMPARE(d.selectedRow(), 0);
    // "ｷｬﾝｾﾙ" leaves add mode without a change.
    d.addButton->click();
    Type(d, "x", "1", "2");
    d.cancelEditButton->click();
    QCOMPARE(d.list->rowCount(), 2);
    QVERIFY(d.list->isEnabled());

    d.registerButton->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(ReadFile(), QByteArray::fromStdString(SJ("肺野,-600,1500") + "\r\n" + SJ("脳,40,80") + "\r\n"));
  }

  void editMoveDeleteAndCancel() {
    WriteFile("a,1,2\r\nb,3,4\r\nc,5,6\r\n");
    test::RecordingNotifier notifier;
    PresetDialog d(Path().toStdString(), Log::Null(), &notifier);
    QCOMPARE(d.list->rowCount(), 3);
    d.list->selectRow(0);
    QCOMPARE(d.nameEdit->text(), QString("a"));  // selecting fills the boxes
    QCOMPARE(d.widthEdit->text(), QString("2"));
    d.upButton->click();  // already first: nothing moves
    QCOMPARE(Cell(d, 0, 0), QString("a"));
    QCOMPARE(d.selectedRow(), 0);
    d.editButton->click();
    QCOMPARE(d.nameEdit->text(), QString("a"));  // edit keeps the texts
    Type(d, "A", "x10", "20");  // stored as typed
    d.okButton->click();
    QCOMPARE(d.list->rowCount(), 3);
    QCOMPARE(Cell(d, 0, 0), QString("A"));
    QCOMPARE(Cell(d, 0, 1), QString("x10"));
    d.downButton->click();
    QCOMPARE(Cell(d, 1, 0), QString("A"));
    QCOMPARE(d.selectedRow(), 1);
    d.list->selectRow(2);
    d.downButton->click();  // already last
    QCOMPARE(Cell(d, 2, 0), QString("c"));
    d.deleteButton->click();
    QCOMPARE(d.list->rowCount(), 2);
    QCOMPARE(d.rows().back().name, std::string("A"));
    d.closeButton->click();  // closes without writing
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QCOMPARE(ReadFile(), QByteArray("a,1,2\r\nb,3,4\r\nc,5,6\r\n"));
  }

  void longTypedTextsAreCutAtCharacters() {
    test::RecordingNotifier notifier;
    PresetDialog d(Path().toStdString(), Log::Null(), &notifier);
    d.addButton->click();
    // 63 characters of 脳 are 126 bytes: 31 whole characters fit in 63 bytes.
    d.nameEdit->setText(QString(63, QChar(0x8133)));
    d.levelEdit->setText("123456789012345");
    d.widthEdit->setText("1");
    d.okButton->click();
    QCOMPARE(d.rows().size(), size_t(1));
    QCOMPARE(d.rows()[0].name.size(), size_t(62));
    QCOMPARE(d.rows()[0].level, std::string("123456789012345"));
  }
};

QTEST_MAIN(TestPresetDialog)
#include "test_window_level_preset_dialog.moc"
