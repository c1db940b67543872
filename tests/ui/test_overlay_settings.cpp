// The two overlay settings dialogs: groups made, refused, renamed and deleted with
// Velmo.ini rewritten; Key.csv and corner files written from the tables, with the
// refusal messages.
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "base/file_io.h"
#include "base/install.h"
#include "base/settings.h"
#include "base/text.h"
#include "render/overlay.h"
#include "render/ui/overlay_settings_dialogs.h"
#include "support/test_util.h"

using namespace velmo;
using namespace velmo::ui;

class OverlaySettingsTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string home_;

  std::string Read(const std::string& relative) {
    const auto b = test::ReadBytes(home_ + relative);
    return std::string(b.begin(), b.end());
  }

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    home_ = dir_.path().toStdString() + "/home/";
    QDir(QString::fromStdString(home_)).removeRecursively();
    test::MakeInstallation(home_.substr(0, home_.size() - 1), "[グループ]\n数=0\nその他=その他\n");
    QDir().mkpath(QString::fromStdString(home_ + "Master"));
    test::WriteText(home_ + "Master/Key.csv", SjisFromUtf8("ﾓﾀﾞﾘﾃｨ,0008,0060,\r\n"));
    for (int c = 0; c < 4; ++c) test::WriteText(home_ + "Master/" + CornerFileName(c), "0,0,0,1,0010,0010,n,,\r\n");
  }

  void groupDialogMakesRenamesAndDeletesGroups() {
    Settings settings = Settings::Load();
    test::RecordingNotifier notifier;
    OverlayGroupDialog d(settings, notifier);
    QCOMPARE(d.objectName(), QString("148"));
    QCOMPARE(d.groupList->count(), 1);  // "その他" only
    QVERIFY(!d.deleteButton->isEnabled());
    d.nameEdit->setText("  ");
    d.addButton->click();
    QCOMPARE(notifier.entries.size(), size_t(1));
    QCOMPARE(notifier.entries[0].message, SJ("グループ名称が入力されていません。"));
    d.nameEdit->setText("../escape");
    d.addButton->click();
    QCOMPARE(notifier.entries.size(), size_t(2));
    d.nameEdit->setText(QString::fromUtf8("\u00e9\u20ac\U0001F600"));  // no Shift-JIS form
    d.addButton->click();
    QCOMPARE(notifier.entries.size(), size_t(3));
    d.nameEdit->setText("CT");
    d.addButton->click();
    QCOMPARE(d.groupList->count(), 2);
    QCOMPARE(d.groupList->item(1)->text(), QString::fromUtf8("その他"));  // always last
    QVERIFY(QFile::exists(QString::fromStdString(home_ + "Config/CT/InfoUpLeft.csv")));
    QCOMPARE(Settings::Load().groups, std::vector<std::string>{"CT"});
    // Key.csv: a table without any value is refused, then one value is written.
    QCOMPARE(d.keyTable->rowCount(), 1);
    QVERIFY(!d.SaveKeys());
    QCOMPARE(notifier.entries.back().message, SJ("グループ判定値が入力されていません。"));
    d.keyTable->item(0, 3)->setText("CT");
    QVERIFY(d.SaveKeys());
    QCOMPARE(Read("Config/CT/Key.csv"), SjisFromUtf8("ﾓﾀﾞﾘﾃｨ,0008,0060,,CT\r\n"));
    // Rename and delete.
    d.groupList->setCurrentRow(0);
    d.nameEdit->setText("CT-A");
    d.renameButton->click();
    QVERIFY(QFile::exists(QString::fromStdString(home_ + "Config/CT-A/Key.csv")));
    QCOMPARE(Settings::Load().groups, std::vector<std::string>{"CT-A"});
    d.deleteButton->click();
    QVERIFY(!QDir(QString::fromStdString(home_ + "Config/CT-A")).exists());
    QVERIFY(Settings::Load().groups.empty());
    QCOMPARE(d.groupList->count(), 1);
  }

  void infoDialogWritesTheCornerFile() {
    QDir().mkpath(QString::fromStdString(home_ + "Config/その他"));  // folder names are UTF-8 paths
    for (int c = 0; c < 4; ++c)
      test::WriteText(home_ + "Config/その他/" + CornerFileName(c), "0,1,1,0,0010,0020,id,ID: ,\r\n");
    Settings settings = Settings::Load();
    test::RecordingNotifier notifier;
    OverlayInfoDialog d(settings, notifier);
    QCOMPARE(d.objectName(), QString("149"));
    QCOMPARE(d.itemTable->rowCount(), 1);
    QCOMPARE(d.itemTable->item(0, 1)->text(), QString::fromUtf8("中"));
    QCOMPARE(d.itemTable->item(0, 2)->text(), QString::fromUtf8("低"));
    QCOMPARE(d.itemTable->item(0, 3)->text(), QString::fromUtf8("無効"));
    d.addRowButton->click();
    QCOMPARE(d.itemTable->rowCount(), 2);
    QVERIFY(!d.SaveRows());  // the new row has no name or tag
    QCOMPARE(notifier.entries.back().message, SJ("必須項目(名称、タグ番号)が入力されていません。"));
    d.itemTable->setItem(1, 4, new QTableWidgetItem("0008"));
    d.itemTable->setItem(1, 5, new QTableWidgetItem("0060"));
    d.itemTable->setItem(1, 6, new QTableWidgetItem(QString::fromUtf8("モダリティ")));
    d.itemTable->setItem(1, 7, new QTableWidgetItem("a,b"));
    QVERIFY(d.SaveRows());
    QCOMPARE(Read("Config/その他/InfoUpLeft.csv"),
             "0,1,1,0,0010,0020,id,ID: ,\r\n1,0,0,1,0008,0060," + SjisFromUtf8("モダリティ") + ",a b,\r\n");
    d.cornerCombo->setCurrentIndex(3);
    QCOMPARE(d.itemTable->rowCount(), 1);
  }
};

QTEST_MAIN(OverlaySettingsTest)
#include "test_overlay_settings.moc"
