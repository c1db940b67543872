#include "browser/intake.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "browser/dicomdir_table.h"
#include "base/ini.h"
#include "base/install.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

std::string_view BaseName(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Paths are native (UTF-8 bytes); the log is Shift-JIS.
std::string LogPath(const std::string& path) { return SjisFromUtf8(path); }

using DirKey = std::pair<dev_t, ino_t>;

// Depth-first scan of one folder. Returns false once the table is full.
bool ScanInto(FileTable& table, const std::string& folder, std::set<DirKey>& visited) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return true;  // unreadable: nothing to take, carry on
  struct Entry {
    std::string name;
    unsigned char type;
  };
  std::vector<Entry> entries;
  while (dirent* d = readdir(dir)) {
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    entries.push_back({d->d_name, d->d_type});
  }
  closedir(dir);
  // readdir order depends on the file system; byte order keeps the table stable.
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });

  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const Entry& e : entries) {
    const std::string path = prefix + e.name;
    bool isDir = e.type == DT_DIR;
    if (e.type == DT_LNK || e.type == DT_UNKNOWN || isDir) {
      struct stat st {};
      if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        isDir = true;
        if (!visited.insert({st.st_dev, st.st_ino}).second) continue;  // met before: a loop or a second link
      } else {
        isDir = false;  // a link to a file, a broken link: taken as a file
      }
    }
    if (isDir) {
      if (!ScanInto(table, path, visited)) return false;
    } else if (!table.Append(path)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsDicomdirPath(std::string_view path) {
  std::string_view base = BaseName(path);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string_view::npos) base = base.substr(0, dot);
  static constexpr std::string_view kName = "DICOMDIR";
  if (base.size() != kName.size()) return false;
  for (size_t i = 0; i < kName.size(); ++i) {
    char c = base[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kName[i]) return false;
  }
  return true;
}

bool IsFolderPath(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ScanFolder(FileTable& table, const std::string& folder) {
  if (table.Full()) return false;
  std::set<DirKey> visited;
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0) visited.insert({st.st_dev, st.st_ino});
  return ScanInto(table, folder, visited);
}

std::string RememberedDicomdir() { return Utf8FromSjis(ProfileString("リスト", "左")); }

Intake::Intake(FileTable& table, const Log& log, Notifier* notifier, FileSource* files)
    : table_(table), log_(log), notifier_(notifier), files_(files) {
  readDicomdir_ = [this](const std::string& path) {
    DicomDirOptions options;
    options.log = &log_;
    options.notifier = notifier_;
    options.files = files_;
    return ReadDicomDirIntoTable(table_, path, options);
  };
  remember_ = [](const std::string& path) {
    bool ok = true;
    std::string sjis = SjisFromUtf8(path, &ok);
    if (!ok) sjis.clear();  // not representable in Velmo.ini: remember nothing
    WriteProfileString("リスト", "左", sjis);
  };
}

bool Intake::ReadDicomdir(const std::string& path) {
  if (!readDicomdir_) return false;
  return readDicomdir_(path);
}

LoadCommand Intake::TakeFiles(const std::vector<std::string>& paths) {
  table_.BeginIntake();
  for (const std::string& path : paths) {
    table_.lastPath = path;
    if (IsDicomdirPath(path)) {
      table_.Clear();
      break;
    }
    if (!table_.Append(path)) break;
  }
  return LoadCommand::kLeftPane;
}

bool Intake::TakeFolder(const std::string& folder) {
  table_.lastPath = folder;
  const bool emptied = table_.fromDicomdir;
  table_.BeginIntake();
  ScanFolder(table_, folder);
  log_.Write(SJ("フォルダが選択されました。"), kLogNormal, 2);
  Remember_("");
  table_.fromDicomdir = false;
  return emptied;
}

LoadCommand Intake::TakeDrop(const std::vector<std::string>& paths, int zone) {
  if (zone < 0 || zone > 2) return LoadCommand::kNone;
  table_.BeginIntake();
  const bool single = paths.size() == 1;
  for (const std::string& path : paths) {
    if (single && IsDicomdirPath(path) && !IsFolderPath(path)) {
      table_.Clear();
      table_.lastPath = path;
      break;
    }
    if (IsFolderPath(path)) {
      if (!ScanFolder(table_, path)) break;
    } else if (!IsDicomdirPath(path)) {
      if (!table_.Append(path)) break;
    }
  }
  return zone == 2 ? LoadCommand::kRightPane : LoadCommand::kLeftPane;
}

StartupIntake Intake::TakeStartupArguments(const std::vector<std::string>& args, const std::string& workingFolder) {
  StartupIntake result;
  if (args.empty()) {
    table_.lastPath = RememberedDicomdir();
    const PendingLoad refreshed = Refresh();
    result.dicomdirRoad = refreshed.dicomdirRoad;
    result.dicomdirRead = refreshed.dicomdirRead;
    return result;
  }
  for (const std::string& arg : args) {
    std::string path = arg;
    if (!path.empty() && path[0] != '/') {
      path = workingFolder.empty() || workingFolder.back() == '/' ? workingFolder + path : workingFolder + "/" + path;
    }
    log_.Write(Format(SJ("ショートファイル名「%s」"), LogPath(path)), kLogNormal, 2);
    log_.Write(Format(SJ("ロングファイル名「%s」"), LogPath(path)), kLogNormal, 2);
    table_.lastPath = path;
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (!exists) result.missing.push_back(path);
    const bool folder = exists && S_ISDIR(st.st_mode);
    if (args.size() == 1 && !folder && IsDicomdirPath(path)) {
      log_.Write(SJ("DICOMDIRがドロップされた"), kLogNormal, 2);
      Remember_(path);
      table_.fromDicomdir = true;
      result.dicomdirRoad = true;
      result.dicomdirRead = ReadDicomdir(path);
      break;
    }
    if (folder) {
      log_.Write(SJ("画像ディレクトリがドロップされた"), kLogNormal, 2);
      Remember_("");
      table_.fromDicomdir = false;
      ScanFolder(table_, path);
    } else if (!IsDicomdirPath(path)) {
      if (table_.Full()) break;
      log_.Write(Format(SJ("画像ファイル「%s」がドロップされた"), LogPath(path)), kLogNormal, 2);
      Remember_("");
      table_.fromDicomdir = false;
      table_.Append(path);
    }
  }
  result.runLoadingJob = !table_.fromDicomdir;
  return result;
}

PendingLoad Intake::Refresh() {
  PendingLoad result;
  const std::string& last = table_.lastPath;
  if (!last.empty() && IsDicomdirPath(last)) {
    std::string path = last;
    if (path[0] != '/') {
      const std::string& base = installFolder_.empty() ? InstallFolder() : installFolder_;
      path = base.empty() || base.back() == '/' ? base + path : base + "/" + path;
    }
    table_.fromDicomdir = true;
    table_.Clear();
    result.dicomdirRoad = true;
    result.dicomdirRead = ReadDicomdir(path);
  } else {
    table_.fromDicomdir = false;
  }
  return result;
}

PendingLoad Intake::LoadPending(LoadCommand command) {
  PendingLoad result;
  result.pane = command == LoadCommand::kRightPane ? 2 : 1;
  if (table_.fromDicomdir) result.clearSelections = true;
  const int32_t start = table_.pendingStart.load();
  if (table_.pendingEnd.load() > start) table_.lastPath = table_.Record(start).filePath;
  if (table_.pendingEnd.load() == 0 && IsDicomdirPath(table_.lastPath)) {
    Remember_(table_.lastPath);
    result.clearSelections = true;
    table_.fromDicomdir = true;
    table_.Clear();
    result.dicomdirRoad = true;
    result.dicomdirRead = ReadDicomdir(table_.lastPath);
    return result;
  }
  Remember_("");
  table_.fromDicomdir = false;
  result.runLoadingJob = true;
  return result;
}

}  // namespace velmo
