#pragma once
// Whole-file reading and writing for the small configuration files (Velmo.ini,
// a-LUT.csv, Preset.csv, ...). Writing goes through a temporary file in the same
// folder and a rename, so a failed write never leaves a half-written file.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmo {

enum class FileReadStatus {
  kOk,
  kMissing,      // no such file
  kOpenFailed,   // not a regular readable file, or a read failed
  kOutOfMemory,  // its size could not be allocated
};
struct FileReadResult {
  FileReadStatus status = FileReadStatus::kMissing;
  uint64_t size = 0;  // the file's size as the file system reports it
};
// Reads a regular file whole into *out (links followed). Only what was really read
// is kept.
FileReadResult ReadWholeFile(const std::string& path, std::string* out);

// Whether a configuration file may be written over: it does not exist, or it can be
// read whole. A file that exists but cannot be read (no rights, a read error) is left
// alone, since what it holds was never seen by whoever would replace it.
bool MayReplaceFile(const std::string& path);

// Writes `bytes` to a temporary file next to `path`, syncs it and renames it over
// `path`, keeping the mode of an existing file (0644 for a new one). On failure the
// temporary file is removed and `path` is left as it was.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace velmo
