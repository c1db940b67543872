#pragma once
// Where the loaders get file bytes from: the disk, or memory (fuzzing, tests).
// Counts reads so tests can prove how much of a file was touched.
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velmo {

enum class FileStatus { kOk, kMissing, kNotRegular };

class FileSource {
 public:
  virtual ~FileSource() = default;
  // The size of a regular file (links followed). Anything else is not read.
  virtual FileStatus Stat(const std::string& path, uint64_t* size) = 0;
  // Reads up to `count` bytes from the start of the file into `out`. Returns the
  // number of bytes actually read, or -1 when the file cannot be opened or read.
  virtual int64_t ReadPrefix(const std::string& path, uint8_t* out, uint64_t count) = 0;

  std::atomic<uint64_t> bytesRead{0};
  std::atomic<uint64_t> readCalls{0};
};

class DiskFileSource final : public FileSource {
 public:
  FileStatus Stat(const std::string& path, uint64_t* size) override;
  int64_t ReadPrefix(const std::string& path, uint8_t* out, uint64_t count) override;
  // The process-wide instance used when no other source is given.
  static DiskFileSource& Instance();
};

class MemoryFileSource final : public FileSource {
 public:
  void Add(const std::string& path, std::vector<uint8_t> bytes) { files_[path] = std::move(bytes); }
  FileStatus Stat(const std::string& path, uint64_t* size) override;
  int64_t ReadPrefix(const std::string& path, uint8_t* out, uint64_t count) override;

 private:
  std::map<std::string, std::vector<uint8_t>> files_;
};

}  // namespace velmo
