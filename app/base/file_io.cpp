#include "base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

namespace velmo {

FileReadResult ReadWholeFile(const std::string& path, std::string* out) {
  FileReadResult r;
  out->clear();
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    r.status = errno == ENOENT ? FileReadStatus::kMissing : FileReadStatus::kOpenFailed;
    return r;
  }
  r.size = static_cast<uint64_t>(st.st_size);
  int fd = -1;
  if (S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.status = FileReadStatus::kOpenFailed;
    return r;
  }
  try {
    out->resize(static_cast<size_t>(st.st_size));
  } catch (const std::exception&) {
    close(fd);
    r.status = FileReadStatus::kOutOfMemory;
    return r;
  }
  size_t got = 0;
  bool readError = false;
  while (got < out->size()) {
    const ssize_t n = read(fd, out->data() + got, out->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) readError = true;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  out->resize(got);
  r.status = readError ? FileReadStatus::kOpenFailed : FileReadStatus::kOk;
  return r;
}

bool MayReplaceFile(const std::string& path) {
  std::string bytes;
  const FileReadStatus status = ReadWholeFile(path, &bytes).status;
  return status == FileReadStatus::kOk || status == FileReadStatus::kMissing;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tmpl = folder + "/." + base + ".XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return false;
  struct stat st {};
  fchmod(fd, stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && std::rename(tmpl.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) unlink(tmpl.c_str());
  return ok;
}

}  // namespace velmo
