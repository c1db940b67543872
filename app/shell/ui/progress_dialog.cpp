#include "shell/ui/progress_dialog.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QEventLoop>

#include "browser/file_table.h"
#include "browser/loading_job.h"
#include "base/log.h"
#include "base/text.h"

namespace velmo::ui {

ProgressDialog::ProgressDialog(QWidget* parent, const Log* log) : QDialog(parent), log_(log) {
  setObjectName("ProgressDialog");
  setWindowTitle(QStringLiteral("Velmo"));
  setModal(true);
  // No context help button, no resizing: the window only reports and offers cancel.
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  bar_ = new QProgressBar(this);
  bar_->setObjectName("progress");
  bar_->setRange(0, 0);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  bar_->setMinimumWidth(300);

  status_ = new QLabel(this);
  status_->setObjectName("status");
  status_->setAlignment(Qt::AlignCenter);

  cancel_ = new QPushButton(QString::fromUtf8("ｷｬﾝｾﾙ"), this);
  cancel_->setObjectName("cancel");
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addWidget(bar_);
  layout->addLayout(buttons);
  setFixedSize(sizeHint());

  timer_ = new QTimer(this);
  timer_->setInterval(kTickMs);
  connect(timer_, &QTimer::timeout, this, &ProgressDialog::Tick);
}

ProgressDialog::~ProgressDialog() = default;

void ProgressDialog::SetRange(int maximum) { bar_->setRange(0, maximum < 0 ? 0 : maximum); }
void ProgressDialog::SetPosition(int position) { bar_->setValue(std::clamp(position, 0, bar_->maximum())); }
void ProgressDialog::SetStatusText(const QString& text) { status_->setText(text); }
int ProgressDialog::position() const { return bar_->value(); }
int ProgressDialog::maximum() const { return bar_->maximum(); }
QString ProgressDialog::statusText() const { return status_->text(); }

void ProgressDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (opened_) return;
  opened_ = true;
  timer_->start();
  if (openHook_) openHook_(*this);
}

void ProgressDialog::Tick() {
  ++ticks_;
  if (tickHook_) tickHook_(*this);
}

void ProgressDialog::Finish() { accept(); }

void ProgressDialog::StopTimer() {
  if (!timer_->isActive()) return;
  timer_->stop();
  if (log_ != nullptr) log_->Write(SJ("プログレスバー用のタイマーを停止しました。"), kLogNormal, 2);
}

void ProgressDialog::done(int result) {
  StopTimer();
  QDialog::done(result);
}

LoadingRun RunLoadingJob(QWidget* parent, LoadingJob& job, FileTable& table, const Log* windowLog,
                         std::unique_ptr<Log> jobLog, FileSource* files) {
  LoadingRun run;
  // The worker reports its end through a queued call, so the result is taken the
  // moment it is there. `context` goes before this function returns, taking with it
  // any call still queued (the worker has been joined by then).
  QObject context;
  QEventLoop waiting;
  ProgressDialog* shownDialog = nullptr;
  bool finished = false;
  job.SetDoneCallback([&context, &waiting, &shownDialog, &finished] {
    QMetaObject::invokeMethod(
        &context,
        [&waiting, &shownDialog, &finished] {
          finished = true;
          waiting.quit();
          if (shownDialog != nullptr) shownDialog->Finish();
        },
        Qt::QueuedConnection);
  });
  if (!job.Start(table, std::move(jobLog), files)) {
    job.SetDoneCallback({});
    // A worker that cannot start reads nothing; the pending paths are dropped so the
    // table keeps its invariant (pendingEnd = validCount outside a job).
    table.pendingEnd = table.validCount.load();
    return run;
  }
  run.started = true;

  // Short jobs end before the window would appear: it is shown only for a job still
  // running after kShowAfterMs, so a few files do not flash a window.
  QTimer::singleShot(kShowAfterMs, &waiting, &QEventLoop::quit);
  if (!finished) waiting.exec(QEventLoop::ExcludeUserInputEvents);
  if (finished || job.Done()) {
    job.Finish();
    job.SetDoneCallback({});
    return run;
  }

  ProgressDialog dialog(parent, windowLog);
  shownDialog = &dialog;
  auto show = [&job](ProgressDialog& d) {
    const JobProgress p = job.Progress();
    d.SetRange(p.range);
    d.SetPosition(p.position);
    d.SetStatusText(QString::fromUtf8(Utf8FromSjis(job.ProgressText())));
  };
  dialog.SetOpenHook(show);
  dialog.SetTickHook([&job, show](ProgressDialog& d) {
    show(d);
    if (job.Done()) d.Finish();
  });
  // The worker's queued report can only arrive inside exec(): it finishes the window.
  const int result = dialog.exec();
  shownDialog = nullptr;
  run.windowShown = true;
  run.ticks = dialog.ticks();
  if (result != QDialog::Accepted) {
    run.cancelled = true;
    job.Cancel();
  }
  // Waits for the worker (it ends after the file it is reading when cancelled) and
  // drops the rejected files: pendingEnd = validCount.
  job.Finish();
  job.SetDoneCallback({});
  return run;
}

}  // namespace velmo::ui
