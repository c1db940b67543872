#pragma once
// The CSV operation log: Log/VelmoLog<n>.csv in the installation folder, one line
// per write: "YYYY/MM/DD hh:mm:ss.mmm,<kind>,<message>\r\n" in Shift-JIS.
#include <memory>
#include <string>
#include <string_view>

namespace velmo {

enum LogKind { kLogNormal = 0, kLogWarning = 1, kLogError = 2 };  // "正常", "警告", "異常"

class Log {
 public:
  // Reads "詳細" "LogLevel" from Velmo.ini and builds the current file path. Logging
  // is disabled when the installation's Config folder is missing or not writable.
  Log();
  explicit Log(const std::string& installFolder);
  // Writes one line when enabled and level <= the configured level. Safe to call
  // from several threads: writers wait briefly on an advisory lock, so lines never
  // interleave and none is dropped. `message` is Shift-JIS.
  void Write(std::string_view message, int kind, int level) const;
  int level() const { return level_; }
  bool disabled() const { return disabled_; }
  const std::string& path() const { return path_; }
  // A log that writes nothing (tests, tools).
  static const Log& Null();
  // See LogBatch.
  void BeginBatch() const;
  void EndBatch() const;

 private:
  struct NullTag {};
  struct Sink;
  explicit Log(NullTag) : level_(0), disabled_(true) {}
  int level_ = 0;
  bool disabled_ = true;
  std::string path_;
  // The log file, kept open for appending between lines (shared by copies).
  std::shared_ptr<Sink> sink_;
};

// While one is alive, normal lines of the log (and of its copies) are held in memory
// and written together, up to 16 KiB at a time: a worker that logs every file it
// reads then costs one write per few hundred lines instead of one per line. Warnings
// and errors flush at once; the held lines are written when the batch ends, when the
// log file changes, and also when the process dies of a fatal signal (a crash loses
// none of them). Batches nest.
class LogBatch {
 public:
  explicit LogBatch(const Log& log) : log_(log) { log_.BeginBatch(); }
  ~LogBatch() { log_.EndBatch(); }
  LogBatch(const LogBatch&) = delete;
  LogBatch& operator=(const LogBatch&) = delete;

 private:
  const Log& log_;
};

// Start-up rotation: with "LogFileCount" n, deletes file n, renames i to i+1 for
// i = n-1..1, creates the Log folder and an empty file 1. Nothing when disabled.
void RotateLogs(const std::string& installFolder);
std::string LogFilePath(const std::string& installFolder, int number);

}  // namespace velmo
