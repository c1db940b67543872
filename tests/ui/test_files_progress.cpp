// The progress window and the loading job it watches.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>

#include "browser/file_table.h"
#include "browser/intake.h"
#include "browser/loading_job.h"
#include "base/log.h"
#include "shell/ui/progress_dialog.h"
#include "test_files_support.h"

using namespace velmo;
using namespace velmo::ui;
using namespace velmo::ui::files_test;

namespace {

// Seconds from the start of a job until its done flag goes up, seen by a watcher that
// polls every 0.2 ms (the same watcher with and without the progress window).
class DoneWatcher {
 public:
  explicit DoneWatcher(const LoadingJob& job) : job_(job) {
    timer_.start();
    thread_ = std::thread([this] {
      while (!job_.Done() && !stop_) std::this_thread::sleep_for(std::chrono::microseconds(200));
      seconds_ = timer_.nsecsElapsed() / 1e9;
    });
  }
  ~DoneWatcher() { Stop(); }
  double Stop() {
    if (thread_.joinable()) {
      thread_.join();
    }
    return seconds_;
  }
  void Abort() { stop_ = true; }

 private:
  const LoadingJob& job_;
  QElapsedTimer timer_;
  std::atomic<bool> stop_{false};
  double seconds_ = 0;
  std::thread thread_;
};

void Pend(FileTable& table, const std::string& folder) {
  table.Clear();
  table.BeginIntake();
  ScanFolder(table, folder);
}

}  // namespace

class FilesProgressTest : public QObject {
  Q_OBJECT
  std::unique_ptr<Installation> install_;

 private slots:
  void initTestCase() {
    install_ = std::make_unique<Installation>();
    if (!install_->error.isEmpty()) QSKIP(qPrintable(install_->error));
  }

  // The window asks for its range once when it opens, then ticks every 500 ms until
  // the owner finishes it; stopping the timer is logged.
  void ticksUntilFinished() {
    const std::string folder = install_->dir.path().toStdString() + "/";
    RotateLogs(folder);
    const Log log(folder);
    ProgressDialog dialog(nullptr, &log);
    int opened = 0;
    int n = 0;
    dialog.SetOpenHook([&](ProgressDialog& d) {
      ++opened;
      d.SetRange(10);
      d.SetStatusText("0 / 10");
    });
    dialog.SetTickHook([&](ProgressDialog& d) {
      ++n;
      d.SetPosition(n);
      d.SetStatusText(QString("%1 / 10").arg(n));
      if (n == 3) d.Finish();
    });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(opened, 1);
    QCOMPARE(dialog.ticks(), 3);
    QVERIFY2(elapsed >= 1400, qPrintable(QString::number(elapsed)));
    QCOMPARE(dialog.statusText(), QString("3 / 10"));
    QCOMPARE(dialog.position(), 3);
    QCOMPARE(dialog.maximum(), 10);
    QFile file(QString::fromStdString(log.path()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains(QByteArray::fromStdString(SJ("プログレスバー用のタイマーを停止しました。"))));
  }

  // "ｷｬﾝｾﾙ" rejects the window and no tick comes after it.
  void cancelStopsTicks() {
    ProgressDialog dialog;
    dialog.SetTickHook([](ProgressDialog& d) { d.findChild<QPushButton*>("cancel")->click(); });
    QCOMPARE(dialog.findChild<QPushButton*>("cancel")->text(), QString::fromUtf8("ｷｬﾝｾﾙ"));
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QCOMPARE(dialog.ticks(), 1);
    QTest::qWait(700);
    QCOMPARE(dialog.ticks(), 1);
  }

  // The job under the window reads every good file; an unreadable one leaves no gap.
  void loadingJobUnderTheWindow() {
    const std::string folder = install_->Folder("job");
    WriteSeries(folder, 12);
    test::WriteText(folder + "/img0005.dcm", "not a DICOM file");
    FileTable table;
    QVERIFY(table.Allocate(100));
    Pend(table, folder);
    QCOMPARE(table.pendingEnd.load(), 12);
    LoadingJob job;
    const LoadingRun run = RunLoadingJob(nullptr, job, table, nullptr, nullptr);
    QVERIFY(run.started);
    QVERIFY(!run.cancelled);
    // Twelve files are read long before the window would appear: no window, no tick.
    QVERIFY(!run.windowShown);
    QCOMPARE(run.ticks, 0);
    QCOMPARE(table.validCount.load(), 11);
    QCOMPARE(table.pendingEnd.load(), 11);
    for (int i = 0; i < 11; ++i) QVERIFY(table.Record(i).filePath.find("img0005") == std::string::npos);
  }

  // The job reads as fast with the progress window as without it. Prints the files per
  // second of both (from the start of the job to its done flag, median of five runs)
  // and what one progress update costs the user-interface thread. With the window the
  // job is started once the window is up, so only the updates run beside it.
  void readingRateWithAndWithoutWindow() {
    const int count = 3000;
    const std::string folder = install_->Folder("rate");
    WriteSeries(folder, count);
    FileTable table;
    QVERIFY(table.Allocate(count + 10));
    std::vector<double> bare, shown;
    qint64 tickNanos = 0;
    int ticks = 0;
    for (int round = 0; round < 5; ++round) {
      {
        Pend(table, folder);
        LoadingJob job;
        QVERIFY(job.Start(table, nullptr));
        DoneWatcher watch(job);
        const double s = watch.Stop();
        job.Finish();
        QCOMPARE(table.validCount.load(), count);
        bare.push_back(count / s);
      }
      {
        Pend(table, folder);
        LoadingJob job;
        std::unique_ptr<DoneWatcher> watch;
        ProgressDialog dialog;
        dialog.SetOpenHook([&](ProgressDialog& d) {
          d.SetRange(table.pendingEnd.load() - table.pendingStart.load());
          job.Start(table, nullptr);
          watch = std::make_unique<DoneWatcher>(job);
        });
        dialog.SetTickHook([&](ProgressDialog& d) {
          QElapsedTimer t;
          t.start();
          d.SetPosition(job.Progress().position);
          d.SetStatusText(QString::fromStdString(job.ProgressText()));
          d.repaint();
          tickNanos += t.nsecsElapsed();
          ++ticks;
          if (job.Done()) d.Finish();
        });
        dialog.exec();
        QVERIFY(watch != nullptr);
        const double s = watch->Stop();
        job.Finish();
        QCOMPARE(table.validCount.load(), count);
        shown.push_back(count / s);
      }
    }
    std::sort(bare.begin(), bare.end());
    std::sort(shown.begin(), shown.end());
    qInfo("loading job, %d files: %.0f files/s without the progress window, %.0f files/s with it (medians of 5); "
          "one progress update %.0f us",
          count, bare[2], shown[2], ticks ? tickNanos / 1000.0 / ticks : 0.0);
  }
};

QTEST_MAIN(FilesProgressTest)
#include "test_files_progress.moc"
