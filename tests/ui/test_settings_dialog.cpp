// The settings dialog from the menu item "設定": a colour chosen with the picker is in
// Velmo.ini after "保存" with every other line kept byte for byte, and the pane frame
// shows it at once; bad numbers and colours are refused without writing; program
// buttons set up in the dialog start their program, which receives "AppliExit" when
// the main window closes; a program that does not exist gives a message.
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "base/install.h"
#include "base/text.h"
#include "shell/ui/external_programs_ui.h"
#include "shell/ui/message_notifier.h"
#include "shell/ui/settings_dialog.h"
#include "support/test_util.h"
#include "test_window_level_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::testing;

namespace {

QByteArray Sjis(const char* utf8) { return QByteArray::fromStdString(SjisFromUtf8(utf8)); }

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Installation> inst_;
  std::unique_ptr<MainDialog> dlg_;
  QString ini_;

  // Opens the dialog from the menu and runs `edit` on it while it is open; then
  // presses "保存".
  void EditAndSave(const std::function<void(SettingsDialog&)>& edit) {
    bool ran = false;
    QTimer::singleShot(0, this, [&] {
      auto* d = dlg_->findChild<SettingsDialog*>("132");
      QVERIFY(d && d->isVisible());
      edit(*d);
      QTest::mouseClick(d->findChild<QPushButton*>("1"), Qt::LeftButton);
      ran = true;
    });
    dlg_->settingsAction->trigger();
    QVERIFY(ran);
  }

 private slots:
  void init() {
    inst_ = std::make_unique<Installation>();
    if (!inst_->error.isEmpty()) QSKIP(qPrintable(inst_->error));
    dlg_ = OpenWithSample(*inst_);
    QVERIFY(dlg_);
    static_cast<MessageNotifier&>(dlg_->notifier()).SetUnattended(true);
    ini_ = inst_->dir.path() + "/Config/Velmo.ini";
    dlg_->ShowEntry(1, EntryOf(*dlg_, "CT0001.dcm"));
    dlg_->SetActivePane(1);
    QVERIFY(!Painted(*dlg_, 1).isNull());
  }
  void cleanup() {
    dlg_.reset();
    inst_.reset();
  }

  void savedColourIsWrittenAndShownAtOnce() {
    const QByteArray before = ReadAll(ini_);
    QVERIFY(before.contains(Sjis("選択枠1=65535\r\n")));
    QWidget* left = dlg_->findChild<QWidget*>("1001");
    const int y = left->height() / 2;
    QCOMPARE(left->grab().toImage().pixel(1, y), qRgb(255, 255, 0));  // 65535: red and green
    EditAndSave([](SettingsDialog& d) {
      d.pickColourOverride = [](uint32_t current) {
        return current == 65535 ? 255LL : -1LL;  // pure red
      };
      QTest::mouseClick(d.findChild<QToolButton*>(QString::fromUtf8("色設定/選択枠1/pick")), Qt::LeftButton);
      QCOMPARE(d.findChild<QLineEdit*>(QString::fromUtf8("色設定/選択枠1"))->text(), QString("255"));
    });
    QByteArray expected = before;
    expected.replace(Sjis("選択枠1=65535\r\n"), Sjis("選択枠1=255\r\n"));
    QCOMPARE(ReadAll(ini_), expected);
    QCOMPARE(dlg_->settings().selectFrame1, 255u);
    QCOMPARE(left->grab().toImage().pixel(1, y), qRgb(255, 0, 0));
  }

  void badValuesAreRefused_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("decimal comma") << QString::fromUtf8("詳細/DotPitchX") << "0,2646";
    QTest::newRow("colour too large") << QString::fromUtf8("色設定/距離") << "16777216";
    QTest::newRow("negative colour") << QString::fromUtf8("画像情報/色") << "-1";
    QTest::newRow("log level 4") << QString::fromUtf8("詳細/LogLevel") << "4";
    QTest::newRow("capacity 0") << QString::fromUtf8("リスト/最大数") << "0";
    QTest::newRow("font size text") << QString::fromUtf8("画像情報/サイズ") << "abc";
    QTest::newRow("empty count") << QString::fromUtf8("詳細/LogFileCount") << "";
  }
  void badValuesAreRefused() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    const QByteArray before = ReadAll(ini_);
    test::RecordingNotifier notes;
    SettingsDialog d(Settings::Load(), IniPath(), dlg_.get());
    d.notifier = &notes;
    auto* edit = d.findChild<QLineEdit*>(field);
    QVERIFY(edit);
    edit->setText(text);
    QSignalSpy saved(&d, &SettingsDialog::saved);
    QVERIFY(!d.Save());
    QCOMPARE(saved.count(), 0);
    QCOMPARE(notes.entries.size(), size_t(1));
    QCOMPARE(notes.entries[0].caption, SJ("警告"));
    QCOMPARE(ReadAll(ini_), before);
  }

  void programButtonsStartAndCloseTheirPrograms() {
    const QString received = inst_->dir.path() + "/received.txt";
    const QString script = inst_->dir.path() + "/program.sh";
    test::WriteText(script.toStdString(),
                    "#!/bin/sh\nread line\nprintf '%s' \"$line\" > '" + received.toStdString() + "'\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner);
    EditAndSave([&](SettingsDialog& d) {
      d.findChild<QLineEdit*>(QString::fromUtf8("外部ソフト/ボタン名1"))->setText(QString::fromUtf8("受信"));
      d.findChild<QLineEdit*>(QString::fromUtf8("外部ソフト/パス1"))->setText(script);
      d.findChild<QLineEdit*>(QString::fromUtf8("外部ソフト/ボタン名2"))->setText(QString::fromUtf8("無い"));
      d.findChild<QLineEdit*>(QString::fromUtf8("外部ソフト/パス2"))->setText(inst_->dir.path() + "/missing");
    });
    auto* first = dlg_->findChild<QToolButton*>("1114");
    auto* second = dlg_->findChild<QToolButton*>("1115");
    QCOMPARE(first->text(), QString::fromUtf8("受信"));
    QVERIFY(!first->isHidden());
    QVERIFY(!second->isHidden());
    QVERIFY(dlg_->findChild<QToolButton*>("1116")->isHidden());  // no caption, no button
    QTest::mouseClick(first, Qt::LeftButton);
    QVERIFY(dlg_->externalPrograms->process(0).Running());
    const qint64 pid = dlg_->externalPrograms->process(0).pid();
    QTest::mouseClick(first, Qt::LeftButton);  // running: not started again
    QCOMPARE(dlg_->externalPrograms->process(0).pid(), pid);
    auto& notes = static_cast<MessageNotifier&>(dlg_->notifier());
    notes.ClearShown();
    QTest::mouseClick(second, Qt::LeftButton);
    QCOMPARE(notes.shown().size(), size_t(1));
    QCOMPARE(notes.shown()[0].caption, QString::fromUtf8("エラー"));
    dlg_->close();
    QVERIFY(QTest::qWaitFor([&] { return QFile(received).size() > 0; }, 5000));
    QCOMPARE(ReadAll(received), QByteArray("AppliExit"));
  }
};

QTEST_MAIN(SettingsDialogTest)
#include "test_settings_dialog.moc"
