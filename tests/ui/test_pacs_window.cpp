// The PACS window against a real archive on loopback: a study found by a Japanese
// name appears with its series, and "取得" files it on disk and takes each series
// into the lists, so its images can be shown in the panes.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "pacs/pacs.h"
#include "pacs/pacs_settings.h"
#include "pacs/ui/pacs_window.h"
#include "shell/ui/message_notifier.h"
#include "support/archive.h"
#include "support/test_util.h"
#include "test_window_level_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::testing;

class PacsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void findsAndRetrievesIntoTheLists() {
    if (!test::Archive::Installed()) QSKIP("the archive server (Debian package orthanc) is not installed");
    pacs::EnableNoDelay();
    Installation inst;
    if (!inst.error.isEmpty()) QSKIP(qPrintable(inst.error));
    test::Archive archive;
    QVERIFY2(archive.ok(), archive.error().c_str());
    test::TempDir seeds;
    const std::string name = "Yamada^Tarou=山田^太郎=やまだ^たろう";
    // VELMO_PACS_UI_IMAGES / VELMO_PACS_UI_SIZE make the study larger, for the figure
    // of the first image's time on a study of realistic size (bench/compare_pacs.sh).
    const int perSeries = std::max(3, qEnvironmentVariableIntValue("VELMO_PACS_UI_IMAGES") / 2);
    const int size = std::max(16, qEnvironmentVariableIntValue("VELMO_PACS_UI_SIZE"));
    std::vector<std::string> files;
    for (const char* series : {"1.2.392.98.1.1", "1.2.392.98.1.2"})
      for (const test::SeedImage& s :
           test::MakeSeries(seeds.path(), "1.2.392.98.1", series, perSeries, name, "ISO_IR 192", "P9", size))
        files.push_back(s.path);
    for (const test::SeedImage& s :
         test::MakeSeries(seeds.path(), "1.2.392.98.2", "1.2.392.98.2.1", 2, "Suzuki^Hanako", "ISO_IR 192", "P8"))
      files.push_back(s.path);
    QVERIFY2(archive.Seed(files), archive.error().c_str());

    auto dlg = OpenWithSample(inst);
    QVERIFY(dlg);
    static_cast<MessageNotifier&>(dlg->notifier()).SetUnattended(true);
    QVERIFY(dlg->pacsAction);
    dlg->pacsAction->trigger();
    PacsWindow* w = dlg->pacsWindow;
    QVERIFY(w && w->isVisible());
    auto field = [&](const char* id) { return w->findChild<QLineEdit*>(id); };
    field("pacsHost")->setText("127.0.0.1");
    field("pacsPort")->setText(QString::number(archive.dicomPort()));
    field("pacsCalledAe")->setText("TESTPACS");
    field("pacsCallingAe")->setText("VELMO");
    const QString dest = QString::fromStdString(seeds.File("retrieved"));
    field("pacsFolder")->setText(dest);
    field("pacsPatientName")->setText(QString::fromUtf8("山田"));
    QTest::mouseClick(w->findChild<QPushButton*>("pacsSearch"), Qt::LeftButton);
    QTreeWidget* tree = w->results();
    QTRY_VERIFY_WITH_TIMEOUT(!w->busy() && tree->topLevelItemCount() == 1, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItem(0)->childCount(), 2, 5000);
    QVERIFY(tree->topLevelItem(0)->text(0).contains(QString::fromUtf8("山田^太郎")));
    QCOMPARE(tree->topLevelItem(0)->text(1), QString("P9"));

    const size_t before = dlg->loadContext().records.size();
    // The first retrieved image is shown in the left pane without waiting for the rest.
    QElapsedTimer clock;
    qint64 firstPaint = -1;
    QObject::connect(dlg.get(), &MainDialog::panePainted, [&](int pane) {
      const int entry = dlg->loadContext().viewIndex[1];
      const auto& records = dlg->loadContext().records;
      if (pane == 1 && firstPaint < 0 && entry >= 0 && size_t(entry) < records.size() &&
          QString::fromStdString(records[entry].filePath).startsWith(dest))
        firstPaint = clock.elapsed();
    });
    tree->topLevelItem(0)->setSelected(true);
    clock.start();
    QTest::mouseClick(w->findChild<QPushButton*>("pacsRetrieve"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(firstPaint >= 0, 5000);
    std::printf("[ figure ] first retrieved image painted %lld ms after the click\n", static_cast<long long>(firstPaint));
    // Both series were handed to the lists while the window polled, each file once.
    int entry = -1;
    auto taken = [&] {
      int n = 0;
      const auto& records = dlg->loadContext().records;
      for (size_t i = 0; i < records.size(); ++i)
        if (QString::fromStdString(records[i].filePath).startsWith(dest)) {
          ++n;
          if (entry < 0) entry = static_cast<int>(i);
        }
      return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(taken(), 2 * perSeries, 5000);
    std::printf("[ figure ] all %d retrieved images in the lists %lld ms after the click\n", 2 * perSeries,
                static_cast<long long>(clock.elapsed()));
    QVERIFY(dlg->loadContext().records.size() >= before + 2 * perSeries);
    size_t onDisk = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest.toStdString()))
      if (e.is_regular_file()) {
        ++onDisk;
        QCOMPARE(QString::fromStdString(e.path().extension().string()), QString(".dcm"));
      }
    QCOMPARE(onDisk, size_t(2 * perSeries));
    QVERIFY(dlg->ShowEntry(1, entry));
    QVERIFY(!Painted(*dlg, 1).isNull());
    const QByteArray shots = qgetenv("VELMO_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
      w->grab().save(QString::fromUtf8(shots) + "/pacs_window.png");
      dlg->grab().save(QString::fromUtf8(shots) + "/pacs_main.png");
    }
  }

  // Objects that could not be filed are listed; "再取得" fetches just those again.
  void retriesTheObjectsThatFailed() {
    if (!test::Archive::Installed()) QSKIP("the archive server (Debian package orthanc) is not installed");
    pacs::EnableNoDelay();
    Installation inst;
    if (!inst.error.isEmpty()) QSKIP(qPrintable(inst.error));
    test::Archive archive;
    QVERIFY2(archive.ok(), archive.error().c_str());
    test::TempDir seeds;
    const char* study = "1.2.392.97.1";
    const char* series = "1.2.392.97.1.1";
    std::vector<std::string> files;
    for (const test::SeedImage& s : test::MakeSeries(seeds.path(), study, series, 3, "Retry^Me", "", "P6"))
      files.push_back(s.path);
    QVERIFY2(archive.Seed(files), archive.error().c_str());

    PacsWindow w;
    w.show();
    auto field = [&](const char* id) { return w.findChild<QLineEdit*>(id); };
    field("pacsHost")->setText("127.0.0.1");
    field("pacsPort")->setText(QString::number(archive.dicomPort()));
    field("pacsCalledAe")->setText("TESTPACS");
    field("pacsCallingAe")->setText("VELMO");
    const std::string dest = seeds.File("retrieved");
    field("pacsFolder")->setText(QString::fromStdString(dest));
    field("pacsPatientName")->setText("Retry");
    QTest::mouseClick(w.findChild<QPushButton*>("pacsSearch"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.busy() && w.results()->topLevelItemCount() == 1, 15000);
    // A file where the series folder belongs: no object of the series can be filed.
    const std::string blocker = dest + "/" + study + "/" + series;
    std::filesystem::create_directories(dest + "/" + study);
    test::WriteText(blocker, "in the way");
    w.results()->topLevelItem(0)->setSelected(true);
    QTest::mouseClick(w.findChild<QPushButton*>("pacsRetrieve"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.busy(), 15000);
    auto* failures = w.findChild<QListWidget*>("pacsFailures");
    QTRY_COMPARE_WITH_TIMEOUT(failures->count(), 3, 2000);
    QVERIFY(failures->item(0)->text().startsWith(series));

    std::filesystem::remove(blocker);
    QTest::mouseClick(w.findChild<QPushButton*>("pacsRetry"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.busy(), 15000);
    QCOMPARE(failures->count(), 0);
    size_t onDisk = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest))
      if (e.is_regular_file()) ++onDisk;
    QCOMPARE(onDisk, size_t(3));
  }

  // Several archive nodes: added, chosen and removed in the window, each keeping its
  // own address and TLS files, all kept in Velmo.ini with the receiver port.
  void keepsSeveralArchiveNodes() {
    Installation inst;
    if (!inst.error.isEmpty()) QSKIP(qPrintable(inst.error));
    PacsWindow w;
    auto field = [&](const char* id) { return w.findChild<QLineEdit*>(id); };
    auto* nodes = w.findChild<QComboBox*>("pacsNodes");
    QVERIFY(nodes);
    field("pacsCalledAe")->setText("FIRST");
    field("pacsHost")->setText("10.0.0.1");
    field("pacsPort")->setText("4242");
    QTest::mouseClick(w.findChild<QPushButton*>("pacsNodeAdd"), Qt::LeftButton);
    QCOMPARE(nodes->count(), 2);
    QCOMPARE(nodes->currentIndex(), 1);
    QCOMPARE(field("pacsCalledAe")->text(), QString());
    QTest::keyClicks(field("pacsCalledAe"), "SECOND");
    QCOMPARE(nodes->itemText(1).left(6), QString("SECOND"));
    field("pacsHost")->setText("10.0.0.2");
    w.findChild<QCheckBox*>("pacsTls")->setChecked(true);
    field("pacsCaFile")->setText("/etc/velmo/ca.pem");
    field("pacsMovePort")->setText("11113");
    nodes->setCurrentIndex(0);  // choosing a node saves the list
    QCOMPARE(field("pacsCalledAe")->text(), QString("FIRST"));
    QCOMPARE(field("pacsPort")->text(), QString("4242"));
    QVERIFY(!w.findChild<QCheckBox*>("pacsTls")->isChecked());
    pacs::Settings saved = pacs::LoadSettings();
    QCOMPARE(saved.nodes.size(), size_t(2));
    QCOMPARE(saved.current, size_t(0));
    QCOMPARE(saved.nodes[1].calledAe, std::string("SECOND"));
    QCOMPARE(saved.nodes[1].host, std::string("10.0.0.2"));
    QVERIFY(saved.nodes[1].tls);
    QCOMPARE(saved.nodes[1].caFile, std::string("/etc/velmo/ca.pem"));
    QCOMPARE(saved.movePort, uint16_t(11113));

    nodes->setCurrentIndex(1);
    QCOMPARE(field("pacsCaFile")->text(), QString("/etc/velmo/ca.pem"));
    QTest::mouseClick(w.findChild<QPushButton*>("pacsNodeRemove"), Qt::LeftButton);
    QCOMPARE(nodes->count(), 1);
    QCOMPARE(field("pacsCalledAe")->text(), QString("FIRST"));
    QVERIFY(!w.findChild<QPushButton*>("pacsNodeRemove")->isEnabled());
    saved = pacs::LoadSettings();
    QCOMPARE(saved.nodes.size(), size_t(1));
    QCOMPARE(saved.node().calledAe, std::string("FIRST"));
  }
};

QTEST_MAIN(PacsWindowTest)
#include "test_pacs_window.moc"
