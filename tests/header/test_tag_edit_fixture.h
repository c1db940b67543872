#pragma once
// A fresh installation folder with a log at level 3, the writers' environment over
// it, and readers of the results (dcmdump, pydicom, the log, the backup folder).
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "header/tag_edit.h"
#include "support/dcmtk_check.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::test {

struct TagEditFixture {
  TempDir tmp;
  std::string install;  // ends in "/"
  Log log;
  RecordingNotifier notifier;
  TagWriteEnv env;

  TagEditFixture() : install(Prepare(tmp)), log(install) {
    env.log = &log;
    env.notifier = &notifier;
    env.installFolder = install;
  }
  static std::string Prepare(const TempDir& tmp) {
    MakeInstallation(tmp.File("install"), "[詳細]\nLogLevel=3\n");
    RotateLogs(tmp.File("install/"));
    return tmp.File("install/");
  }
  std::string Backups() const { return install + "VelmoImgBk"; }
  std::string LogText() const {
    std::vector<uint8_t> b = ReadBytes(log.path());
    return Utf8FromSjis(std::string(b.begin(), b.end()));
  }
};

inline std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Debian's python3 (python3-pydicom), not whatever interpreter comes first on the PATH.
inline std::string Python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }
inline bool HavePydicom() { return RunCommand(Python() + " -c 'import pydicom' >/dev/null 2>&1").status == 0; }
// pydicom reads every element of the file (force: files without a preamble too).
inline bool PydicomParses(const std::string& path, std::string* out) {
  const CommandResult r = RunCommand(
      Python() + " -c 'import sys, pydicom\n"
      "ds = pydicom.dcmread(sys.argv[1], force=True)\n"
      "for e in ds.iterall(): str(e.value)\n"
      "print(ds)' " + ShellQuote(path));
  *out = r.out + r.err;
  return r.status == 0;
}

inline TagChange Change(uint16_t group, uint16_t element, const char* vr, std::string box0, std::string box1 = "",
                        std::string box2 = "") {
  TagChange c;
  c.SetTag(group, element);
  const std::string boxes[3] = {SjisFromUtf8(box0), SjisFromUtf8(box1), SjisFromUtf8(box2)};
  EncodeTagValue(vr, boxes, &c);
  return c;
}

}  // namespace velmo::test
