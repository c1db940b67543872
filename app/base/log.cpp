#include "base/log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
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

}  // namespace

// One open descriptor of the log file, appended to line by line. Opened on the first
// line and again after a rotation; never creates the file (only the rotation does).
struct Log::Sink {
  std::mutex mutex;  // one line at a time from the threads sharing this descriptor
  int fd = -1;
  uint64_t rotation = 0;
  ~Sink() {
    if (fd >= 0) close(fd);
  }
  // The descriptor for `path`, reopened after a rotation; -1 when the file is not there.
  int Descriptor(const std::string& path) {
    const uint64_t now = gRotations.load();
    if (fd >= 0 && rotation == now) return fd;
    if (fd >= 0) close(fd);
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    rotation = now;
    return fd;
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

  const auto now = std::chrono::system_clock::now();
  const time_t secs = std::chrono::system_clock::to_time_t(now);
  const int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  struct tm local {};
  localtime_r(&secs, &local);
  const std::string* word = &SJ("正常");
  if (kind == kLogWarning) word = &SJ("警告");
  else if (kind == kLogError) word = &SJ("異常");

  std::string line = Format("%04d/%02d/%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                            local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms < 0 ? 0 : ms);
  line += ',';
  line += *word;
  line += ',';
  line += message;
  line += "\r\n";

  // The file is created only by the rotation at start-up; a deleted file stays deleted.
  if (!sink_) return;
  std::lock_guard<std::mutex> lock(sink_->mutex);
  const int fd = sink_->Descriptor(path_);
  if (fd < 0) return;
  // Other processes (and other Log objects) append through descriptors of their own:
  // the advisory lock keeps their lines whole.
  const bool locked = LockBriefly(fd);
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (locked) flock(fd, LOCK_UN);
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
