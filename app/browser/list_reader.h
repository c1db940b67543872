#pragma once
// ListEntryReader: turns one file path into one ListRecord for the study lists.
// It reads only as much of the file as it needs (growing prefixes of 8 KiB up to
// 1 MiB, then the whole file), decides the encoding, checks that pixel data is
// present and copies the list attributes into the record's fixed-width fields.
// Pixels are never decoded here.
//
// One reader serves one loading job: it owns the 1 MiB scratch buffer that every
// prefix read reuses. It is not thread-safe; give each worker its own reader.
#include <cstdint>
#include <string>
#include <vector>

#include "browser/list_record.h"
#include "dicom/file_source.h"
#include "base/log.h"

namespace velmo {

class ListEntryReader {
 public:
  static constexpr uint64_t kScratchSize = 1048576;

  explicit ListEntryReader(const Log& log, FileSource* files = nullptr);

  // Reads the file at `path` into `out`. Every field of `out` except filePath is
  // cleared first (filePath belongs to the caller and is left as it is). Returns
  // false when the file is rejected; the reason is logged and kept in
  // failureMessage().
  bool Read(const std::string& path, ListRecord& out);

  // The rejection message of the last failed Read (Shift-JIS), empty after success.
  const std::string& failureMessage() const { return failureMessage_; }
  // Facts of the last Read, for diagnostics and tests.
  int syntaxType() const { return syntax_; }
  uint64_t readSize() const { return readSize_; }
  int32_t headerSize() const { return headerSize_; }
  int readAttempts() const { return attempts_; }

 private:
  bool Reject(const std::string& message);
  bool Logs(int level) const { return !log_.disabled() && level <= log_.level(); }
  void FillFields(const uint8_t* begin, const uint8_t* end, ListRecord& out);

  const Log& log_;
  FileSource* files_;
  std::vector<uint8_t> scratch_;  // kScratchSize bytes, zero beyond the bytes read
  uint64_t scratchDirty_ = 0;     // how many leading scratch bytes may be non-zero
  std::vector<uint8_t> whole_;    // the whole file, for files whose pixel data lies beyond 1 MiB
  std::string failureMessage_;
  int syntax_ = 0;
  uint64_t readSize_ = 0;
  int32_t headerSize_ = 0;
  int attempts_ = 0;
};

}  // namespace velmo
