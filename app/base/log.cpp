#include "base/log.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/ini.h"
#include "base/install.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

// Bumped by every rotation: a log file opened before it is a renamed or deleted file.
std::atomic<uint64_t> gRotations{0};

// "詳細" / key from the installation's Velmo.ini, as a profile string.
std::string DetailSetting(const std::string& installFolder, const char* keyAscii) {
  IniFile ini;
  ini.Load(installFolder + "Config/Velmo.ini");
  return ini.Get(SJ("詳細"), keyAscii);
}

bool ConfigWritable(const std::string& installFolder) {
  return access((installFolder + "Config").c_str(), W_OK) == 0;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Highest n for which Log/VelmoLog<n>.csv exists (0 when none).
int HighestLogNumber(const std::string& installFolder) {
  int highest = 0;
  DIR* dir = opendir((installFolder + "Log").c_str());
  if (!dir) return 0;
  while (dirent* e = readdir(dir)) {
    std::string_view name = e->d_name;
    constexpr std::string_view kPrefix = "VelmoLog", kSuffix = ".csv";
    if (name.size() <= kPrefix.size() + kSuffix.size()) continue;
    if (name.substr(0, kPrefix.size()) != kPrefix || name.substr(name.size() - kSuffix.size()) != kSuffix) continue;
    std::string_view digits = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    bool allDigits = true;
    for (char c : digits) allDigits = allDigits && c >= '0' && c <= '9';
    if (!allDigits || digits.size() > 9) continue;
    const int n = ParseInt(digits);
    // Only names the writer itself would form count (no leading zeros).
    if (Format("%d", n) == digits && n > highest) highest = n;
  }
  closedir(dir);
  return highest;
}

// Takes the advisory lock on fd, waiting up to about two seconds. Returns whether
// the lock is held; on time-out the caller writes anyway (an O_APPEND write of one
// line is a single write call) rather than losing the line.
bool LockBriefly(int fd) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + seconds(2);
  auto pause = microseconds(50);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    if (pause < milliseconds(5)) pause *= 2;
  }
}

// "YYYY/MM/DD hh:mm:ss.mmm" of now. The part up to the second is formatted once per
// second and thread: local time conversion is the dearest step of a line.
void AppendTimestamp(std::string& line) {
  thread_local time_t cachedSecond = -1;
  thread_local char cached[24];
  const int64_t totalMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
  const time_t secs = static_cast<time_t>(totalMs / 1000);
  const int ms = std::max(0, static_cast<int>(totalMs % 1000));
  if (secs != cachedSecond) {
    struct tm local {};
    localtime_r(&secs, &local);
    std::snprintf(cached, sizeof cached, "%04d/%02d/%02d %02d:%02d:%02d.", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    cachedSecond = secs;
  }
  line += cached;
  line += static_cast<char>('0' + ms / 100);
  line += static_cast<char>('0' + ms / 10 % 10);
  line += static_cast<char>('0' + ms % 10);
}

// Writes all of [data, data + size) to fd, retrying after signals and short writes.
void WriteAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace

// Lines held back by a batch (see LogBatch). A fixed array, never reallocated, and a
// count of whole lines in it, so the fatal-signal handler below can write them out
// without locks or allocation if the process dies before the batch is flushed.
struct LogBuffer {
  static constexpr size_t kSize = 16 * 1024;
  char bytes[kSize];
  std::atomic<size_t> used{0};
  std::atomic<int> fd{-1};
};

namespace {

// Batches that hold lines now, for the fatal-signal handler.
constexpr int kBufferSlots = 32;
std::atomic<LogBuffer*> gBuffers[kBufferSlots];
struct sigaction gPrevious[NSIG];
std::once_flag gHandlersOnce;

void FlushOnFatalSignal(int sig, siginfo_t* info, void*) {
  for (std::atomic<LogBuffer*>& slot : gBuffers) {
    LogBuffer* b = slot.exchange(nullptr);
    if (b == nullptr) continue;
    const int fd = b->fd.load();
    const size_t n = b->used.load();
    if (fd >= 0 && n > 0 && n <= LogBuffer::kSize) WriteAll(fd, b->bytes, n);
  }
  // Hand the signal on as if we had not been here: a fault repeats when the
  // instruction runs again; a signal that was sent is sent again.
  sigaction(sig, &gPrevious[sig], nullptr);
  if (info == nullptr || info->si_code <= 0) raise(sig);
}

void InstallFatalSignalFlush() {
  std::call_once(gHandlersOnce, [] {
    for (const int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
      struct sigaction action {};
      action.sa_sigaction = FlushOnFatalSignal;
      action.sa_flags = SA_SIGINFO;
      sigemptyset(&action.sa_mask);
      sigaction(sig, &action, &gPrevious[sig]);
    }
  });
}

bool Register(LogBuffer* b) {
  for (std::atomic<LogBuffer*>& slot : gBuffers) {
    LogBuffer* expected = nullptr;
    if (slot.compare_exchange_strong(expected, b)) return true;
  }
  return false;
}

void Unregister(LogBuffer* b) {
  for (std::atomic<LogBuffer*>& slot : gBuffers) {
    LogBuffer* expected = b;
    slot.compare_exchange_strong(expected, nullptr);
  }
}

}  // namespace

// One open descriptor of the log file, appended to line by line. Opened on the first
// line and again after a rotation; never creates the file (only the rotation does).
struct Log::Sink {
  std::mutex mutex;  // one line at a time from the threads sharing this descriptor
  int fd = -1;
  uint64_t rotation = 0;
  std::string line;                    // reused for each line
  int batches = 0;                     // open LogBatch scopes
  std::unique_ptr<LogBuffer> buffer;   // lines held back while batches > 0
  ~Sink() {
    if (buffer) {
      Unregister(buffer.get());
      Flush();
    }
    if (fd >= 0) close(fd);
  }
  // The descriptor for `path`, reopened after a rotation; -1 when the file is not there.
  int Descriptor(const std::string& path) {
    const uint64_t now = gRotations.load();
    if (fd >= 0 && rotation == now) return fd;
    if (buffer) {
      Flush();  // held lines belong to the file they were written for
      buffer->fd = -1;
    }
    if (fd >= 0) close(fd);
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    rotation = now;
    if (buffer) buffer->fd = fd;
    return fd;
  }
  // Appends whole lines as one write; other processes (and other Log objects) append
  // through descriptors of their own, and the advisory lock keeps their lines whole.
  void Append(const char* data, size_t size) {
    if (fd < 0 || size == 0) return;
    const bool locked = LockBriefly(fd);
    WriteAll(fd, data, size);
    if (locked) flock(fd, LOCK_UN);
  }
  void Flush() {
    const size_t n = buffer->used.load();
    Append(buffer->bytes, n);
    buffer->used = 0;
  }
};

std::string LogFilePath(const std::string& installFolder, int number) {
  return installFolder + "Log/VelmoLog" + Format("%d", number) + ".csv";
}

Log::Log() : Log(InstallFolder()) {}

Log::Log(const std::string& installFolder) {
  level_ = ParseInt(DetailSetting(installFolder, "LogLevel"));
  path_ = LogFilePath(installFolder, 1);
  disabled_ = !ConfigWritable(installFolder);
  if (!disabled_) sink_ = std::make_shared<Sink>();
}

const Log& Log::Null() {
  static const Log null{NullTag{}};
  return null;
}

void Log::Write(std::string_view message, int kind, int level) const {
  if (disabled_ || level > level_) return;

  // The file is created only by the rotation at start-up; a deleted file stays deleted.
  if (!sink_) return;
  const std::string* word = &SJ("正常");
  if (kind == kLogWarning) word = &SJ("警告");
  else if (kind == kLogError) word = &SJ("異常");

  std::lock_guard<std::mutex> guard(sink_->mutex);
  std::string& line = sink_->line;
  line.clear();
  AppendTimestamp(line);
  line += ',';
  line += *word;
  line += ',';
  line += message;
  line += "\r\n";

  if (sink_->Descriptor(path_) < 0) return;
  LogBuffer* b = sink_->batches > 0 ? sink_->buffer.get() : nullptr;
  if (b == nullptr) {
    sink_->Append(line.data(), line.size());
    return;
  }
  if (b->used.load() + line.size() > LogBuffer::kSize) sink_->Flush();
  if (line.size() > LogBuffer::kSize) {
    sink_->Append(line.data(), line.size());
    return;
  }
  const size_t used = b->used.load();
  std::memcpy(b->bytes + used, line.data(), line.size());
  b->used = used + line.size();  // the line counts only once it is all there
  // Warnings and errors go out at once, with what came before them.
  if (kind != kLogNormal) sink_->Flush();
}

void Log::BeginBatch() const {
  if (!sink_) return;
  std::lock_guard<std::mutex> guard(sink_->mutex);
  if (sink_->batches++ > 0) return;
  if (!sink_->buffer) sink_->buffer = std::make_unique<LogBuffer>();
  sink_->buffer->fd = sink_->fd;
  InstallFatalSignalFlush();
  // Without a free slot the lines are written one by one, as outside a batch.
  if (!Register(sink_->buffer.get())) sink_->batches = 0;
}

void Log::EndBatch() const {
  if (!sink_) return;
  std::lock_guard<std::mutex> guard(sink_->mutex);
  if (sink_->batches == 0 || --sink_->batches > 0) return;
  Unregister(sink_->buffer.get());
  sink_->Flush();
}

void RotateLogs(const std::string& installFolder) {
  if (!ConfigWritable(installFolder)) return;
  const int n = ParseInt(DetailSetting(installFolder, "LogFileCount"));
  // Files above the highest existing number cannot be moved or deleted, so the walk
  // starts there; this gives the same result as walking down from n.
  const int start = std::min(n, HighestLogNumber(installFolder));
  for (int i = start; i >= 1; --i) {
    const std::string from = LogFilePath(installFolder, i);
    if (i == n) {
      std::remove(from.c_str());
    } else if (FileExists(from)) {
      std::rename(from.c_str(), LogFilePath(installFolder, i + 1).c_str());
    }
  }
  mkdir((installFolder + "Log").c_str(), 0777);
  const int fd = open(LogFilePath(installFolder, 1).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0) close(fd);
  gRotations.fetch_add(1);  // logs opened before write to the new file from now on
}

}  // namespace velmo
