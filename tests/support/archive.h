#pragma once
// A throw-away archive for the tests: the Debian archive server started on loopback
// ports derived from the process id, with a temporary configuration and storage,
// seeded with generated CT images through one storescu association, and killed by
// its process id when the object goes (the child also dies with the test process).
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace velmo::test {

struct SeedImage {
  std::string studyUid, seriesUid, sopUid;
  std::string path;
};

class Archive {
 public:
  // True when the archive server is installed.
  static bool Installed();
  // extraConfig: JSON members added to the configuration (starting with ',');
  // modalityConfig: members added to the entry of the AE title VELMO (for example
  // ",\"AllowGet\":false").
  explicit Archive(const std::string& extraConfig = "", const std::string& modalityConfig = "");
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  uint16_t dicomPort() const { return dicomPort_; }
  // The port the archive sends C-MOVE results to for the AE title VELMO.
  uint16_t movePort() const { return static_cast<uint16_t>(dicomPort_ + 2); }
  // Stores the files with one storescu association. True on success.
  // extraArgs go to storescu before the host (for example its TLS options).
  bool Seed(const std::vector<std::string>& files, const std::string& extraArgs = "");
  // Kills the server now (SIGKILL) and waits for it.
  void Kill();
  const std::string& folder() const { return dir_.path(); }

 private:
  void Start(const std::string& extraConfig, const std::string& modalityConfig);
  TempDir dir_;
  int pid_ = -1;
  uint16_t dicomPort_ = 0, httpPort_ = 0;
  bool ok_ = false;
  std::string error_;
};

// Three consecutive TCP ports on loopback, free when asked, below the kernel's range
// of ephemeral ports and apart from those of other test processes (the archives
// take theirs the same way). 0 when none could be found.
uint16_t FreePortBlock();

// Writes `count` CT images of one series, `size` x `size` pixels (small by default),
// into `folder` and returns them. Patient name and its Specific Character Set are
// written as given (raw bytes).
std::vector<SeedImage> MakeSeries(const std::string& folder, const std::string& studyUid,
                                  const std::string& seriesUid, int count, const std::string& patientName,
                                  const std::string& charset, const std::string& patientId, int size = 16);

}  // namespace velmo::test
