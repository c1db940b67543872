#include "browser/loading_job.h"

#include <system_error>

#include "browser/list_reader.h"
#include "base/numbers.h"

namespace velmo {

LoadingJob::~LoadingJob() {
  if (thread_.joinable()) {
    Cancel();
    thread_.join();
  }
}

bool LoadingJob::Start(FileTable& table, std::unique_ptr<Log> log, FileSource* files, int mode, int32_t index) {
  if (thread_.joinable()) return false;
  table_ = &table;
  log_ = std::move(log);
  files_ = files;
  mode_ = mode;
  index_ = index;
  running_ = 0;
  done_ = 0;
  // Set here, before the worker exists, so a cancel can never be overwritten by a
  // worker that starts late.
  continue_ = 1;
  const Log* jobLog = log_ ? log_.get() : &Log::Null();
  try {
    thread_ = std::thread([this, &table, jobLog, files, mode, index] {
      Work(table, *jobLog, files, mode, index, running_, done_, continue_);
      if (doneCallback_) doneCallback_();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

JobProgress LoadingJob::Progress() const {
  JobProgress p;
  if (table_ == nullptr) return p;
  const int32_t start = table_->pendingStart.load();
  p.position = table_->validCount.load() - start;
  p.range = table_->pendingEnd.load() - start;
  if (mode_ != kModeRange) p.position = p.range = 0;
  return p;
}

std::string LoadingJob::ProgressText() const {
  const JobProgress p = Progress();
  return Format("%d / %d", p.position, p.range);
}

void LoadingJob::Finish() {
  if (thread_.joinable()) thread_.join();
  if (table_ != nullptr) table_->pendingEnd = table_->validCount.load();
  log_.reset();
}

bool LoadingJob::RunToEnd(FileTable& table, const Log& log, FileSource* files, int mode, int32_t index) {
  std::atomic<int> running{0}, done{0}, keepGoing{1};
  Work(table, log, files, mode, index, running, done, keepGoing);
  table.pendingEnd = table.validCount.load();
  return true;
}

void LoadingJob::Work(FileTable& table, const Log& log, FileSource* files, int mode, int32_t index,
                      std::atomic<int>& running, std::atomic<int>& done, const std::atomic<int>& keepGoing) {
  running = 1;
  {
    LogBatch batch(log);  // two lines a file at level 1: written together, not one by one
    ListEntryReader reader(log, files);  // owns the job's 1 MiB scratch buffer
    ListRecord scratch;
    if (mode != kModeRange) {
      // Read one record in place; a failed read leaves it as it was.
      if (index >= 0 && index < table.validCount.load() && static_cast<size_t>(index) < table.entries.size()) {
        scratch = table.entries[static_cast<size_t>(index)].record;
        if (reader.Read(scratch.filePath, scratch)) table.entries[static_cast<size_t>(index)].record = std::move(scratch);
      }
    } else {
      const int32_t end = table.pendingEnd.load();
      for (int32_t i = table.pendingStart.load(); i < end && keepGoing.load() != 0; ++i) {
        FileTableEntry& from = table.entries[static_cast<size_t>(i)];
        scratch = from.record;
        if (!reader.Read(scratch.filePath, scratch)) continue;
        const int32_t to = table.validCount.load();
        FileTableEntry& slot = table.entries[static_cast<size_t>(to)];
        slot.status = from.status;
        slot.record = std::move(scratch);
        // Published after the record is in place: the GUI reads only the count.
        table.validCount.store(to + 1);
      }
    }
  }
  running = 0;
  done = 1;
}

}  // namespace velmo
