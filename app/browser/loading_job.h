#pragma once
// The loading job: a worker thread that reads every newly added file of the file
// table with the list entry reader, while the GUI shows the progress window and
// polls Progress(). Good records are moved down to validCount as they are read, so
// an unreadable file leaves no gap; when the job ends pendingEnd = validCount and the
// rejected files are gone. A cancelled job keeps every file accepted before the
// cancel.
//
// Typical GUI use:
//   job.Start(table, std::make_unique<Log>(), files);   // mode 0: the pending range
//   ... every 500 ms: auto p = job.Progress(); bar(p.position, p.range); if (job.Done()) ...
//   ... "ｷｬﾝｾﾙ": job.Cancel();
//   job.Finish();   // joins the worker, pendingEnd = validCount; then rebuild the lists
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "browser/file_table.h"
#include "base/log.h"

namespace velmo {

class FileSource;

struct JobProgress {
  int32_t position = 0;  // validCount - pendingStart
  int32_t range = 0;     // pendingEnd - pendingStart
};

class LoadingJob {
 public:
  static constexpr int kModeRange = 0;   // read every record from pendingStart to pendingEnd
  static constexpr int kModeSingle = 1;  // read the record at index in place (after tag editing)

  LoadingJob() = default;
  LoadingJob(const LoadingJob&) = delete;
  LoadingJob& operator=(const LoadingJob&) = delete;
  // Stops and joins a worker still running.
  ~LoadingJob();

  // Prepares the job block (mode, index, running 0, done 0, continue 1) and starts the
  // worker. `log` is the job's own log object (null: no logging). `files` null means
  // the disk. Returns false when a previous job has not been finished or the thread
  // cannot be started (nothing is read then).
  bool Start(FileTable& table, std::unique_ptr<Log> log, FileSource* files = nullptr, int mode = kModeRange,
             int32_t index = 0);
  // Called on the worker thread right after it raised the done flag, so the window
  // can take the result at once instead of at its next timer tick. Set before Start.
  void SetDoneCallback(std::function<void()> callback) { doneCallback_ = std::move(callback); }

  // What the progress window shows; safe to call from the GUI thread while the worker runs.
  JobProgress Progress() const;
  // "%d / %d" of Progress().
  std::string ProgressText() const;

  bool Running() const { return running_.load() != 0; }
  bool Done() const { return done_.load() != 0; }
  bool Started() const { return thread_.joinable(); }
  // Asks the worker to stop after the file it is reading.
  void Cancel() { continue_.store(0); }
  // Waits for the worker, then sets pendingEnd = validCount. Safe to call when no
  // worker was started.
  void Finish();

  // Start + Finish on the calling thread's behalf (CLI, tests, single-record reads).
  static bool RunToEnd(FileTable& table, const Log& log, FileSource* files = nullptr, int mode = kModeRange,
                       int32_t index = 0);

  // The job block as the worker sees it.
  int mode() const { return mode_; }
  int32_t index() const { return index_; }
  bool continueFlag() const { return continue_.load() != 0; }

  // The worker body (runs on the worker thread; public for RunToEnd and tests).
  static void Work(FileTable& table, const Log& log, FileSource* files, int mode, int32_t index,
                   std::atomic<int>& running, std::atomic<int>& done, const std::atomic<int>& keepGoing);

 private:
  FileTable* table_ = nullptr;
  std::unique_ptr<Log> log_;
  FileSource* files_ = nullptr;
  int mode_ = kModeRange;
  int32_t index_ = 0;
  std::atomic<int> running_{0};
  std::atomic<int> done_{0};
  std::atomic<int> continue_{0};
  std::thread thread_;
  std::function<void()> doneCallback_;
};

}  // namespace velmo
