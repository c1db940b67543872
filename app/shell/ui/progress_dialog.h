#pragma once
// The modal progress window shown while a worker job runs (reading new files into
// the list, building an MPR/MIP volume). The window itself knows nothing about the
// job: when it opens it calls the open hook once (the owner sets the range), and a
// 500 ms timer calls the tick hook, which moves the bar, sets the status text and
// closes the window through Finish() when the job's done flag is up. "ｷｬﾝｾﾙ" (or
// Escape, or the close box) rejects the window; the owner then stops the job.
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace velmo {
class Log;
class FileSource;
class LoadingJob;
struct FileTable;
}

namespace velmo::ui {

class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kTickMs = 500;
  using Hook = std::function<void(ProgressDialog&)>;

  // `log` receives the timer line at level 2 (null: no logging).
  explicit ProgressDialog(QWidget* parent = nullptr, const Log* log = nullptr);
  ~ProgressDialog() override;

  void SetOpenHook(Hook hook) { openHook_ = std::move(hook); }
  void SetTickHook(Hook hook) { tickHook_ = std::move(hook); }

  void SetRange(int maximum);
  void SetPosition(int position);
  void SetStatusText(const QString& text);
  // Closes the window as finished (exec() returns Accepted).
  void Finish();

  int position() const;
  int maximum() const;
  QString statusText() const;
  int ticks() const { return ticks_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void Tick();
  void StopTimer();

  const Log* log_;
  QProgressBar* bar_;
  QLabel* status_;
  QPushButton* cancel_;
  QTimer* timer_;
  Hook openHook_, tickHook_;
  bool opened_ = false;
  int ticks_ = 0;
};

// Runs the loading job over the pending range of `table` under a modal
// ProgressDialog: the range is pendingEnd - pendingStart, every tick shows
// "%d / %d" (read, to read) and closes the window when the worker is done;
// "ｷｬﾝｾﾙ" asks the worker to stop after the file it is reading. Either way the
// worker is joined and pendingEnd = validCount before this returns, so the table
// holds every file accepted before a cancel. `jobLog` is the job's own log; `files`
// null reads the disk.
struct LoadingRun {
  bool started = false;
  bool cancelled = false;
  bool windowShown = false;  // the job ran past kShowAfterMs and the window was up
  int ticks = 0;
};
// A loading job still running after this long shows the progress window.
inline constexpr int kShowAfterMs = 300;
LoadingRun RunLoadingJob(QWidget* parent, LoadingJob& job, FileTable& table, const Log* windowLog,
                         std::unique_ptr<Log> jobLog, FileSource* files = nullptr);

}  // namespace velmo::ui
