#include "dicom/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmo {

FileStatus DiskFileSource::Stat(const std::string& path, uint64_t* size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return FileStatus::kMissing;
  if (!S_ISREG(st.st_mode)) return FileStatus::kNotRegular;
  *size = static_cast<uint64_t>(st.st_size);
  return FileStatus::kOk;
}

int64_t DiskFileSource::ReadPrefix(const std::string& path, uint8_t* out, uint64_t count) {
  // Checked again here: a FIFO or device that replaced the file after Stat must not block us.
  if (::access(path.c_str(), R_OK) != 0) return -1;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  uint64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return -1;
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  ::close(fd);
  readCalls++;
  bytesRead += done;
  return static_cast<int64_t>(done);
}

DiskFileSource& DiskFileSource::Instance() {
  static DiskFileSource instance;
  return instance;
}

FileStatus MemoryFileSource::Stat(const std::string& path, uint64_t* size) {
  auto it = files_.find(path);
  if (it == files_.end()) return FileStatus::kMissing;
  *size = it->second.size();
  return FileStatus::kOk;
}

int64_t MemoryFileSource::ReadPrefix(const std::string& path, uint8_t* out, uint64_t count) {
  auto it = files_.find(path);
  if (it == files_.end()) return -1;
  uint64_t n = count < it->second.size() ? count : it->second.size();
  if (n) std::memcpy(out, it->second.data(), n);
  readCalls++;
  bytesRead += n;
  return static_cast<int64_t>(n);
}

}  // namespace velmo
