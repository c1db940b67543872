// velmo-cli list PATH... [--level patient|study|series|image]: takes the paths in as
// start-up arguments would (files, folders scanned recursively, or one DICOMDIR),
// reads them with the loading worker, builds and sorts the study tree with the
// installation's settings and prints the file list of one level as TSV.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "browser/intake.h"
#include "browser/loading_job.h"
#include "browser/study_tree.h"
#include "cli_common.h"
#include "base/install.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/text.h"

namespace velmo::cli {

namespace {

int LevelFromOption(const std::string& name) {
  if (name == "patient") return kLevelPatient;
  if (name == "study") return kLevelStudy;
  if (name == "series") return kLevelSeries;
  if (name == "image") return kLevelImage;
  return -1;
}

// Tabs and line ends inside a value would break the TSV layout.
std::string Cell(std::string text) {
  for (char& c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return text;
}

// Paths are native bytes; with --sjis they are written in Shift-JIS like the rest.
std::string PathText(const std::string& path) {
  static const bool sjisOut = OutText("\x82\xa0") == "\x82\xa0";
  return sjisOut ? SjisFromUtf8(path) : path;
}

int Usage() {
  std::cerr << "usage: velmo-cli list PATH... [--level patient|study|series|image]\n";
  return kExitUsage;
}

}  // namespace

int RunList(const std::vector<std::string>& args) {
  std::vector<std::string> paths;
  int level = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--level") {
      if (i + 1 >= args.size()) return Usage();
      level = LevelFromOption(args[++i]);
      if (level < 0) return Usage();
    } else if (a.rfind("--level=", 0) == 0) {
      level = LevelFromOption(a.substr(8));
      if (level < 0) return Usage();
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage();
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return Usage();

  const Settings settings = Settings::Load();
  if (level < 0) level = ListLevelFromText(settings.listLevel);

  FileTable table;
  if (!table.Allocate(settings.listCapacity)) {
    PrintError(SJ("ファイルテーブルを確保できません"));
    return kExitFailed;
  }
  StderrNotifier notifier;
  Log log(InstallFolder());
  Intake intake(table, log, &notifier);
  intake.SetRemember([](const std::string&) {});  // a listing never changes Velmo.ini

  std::string cwd;
  {
    std::vector<char> buf(4096);
    if (getcwd(buf.data(), buf.size()) != nullptr) cwd = buf.data();
  }
  const StartupIntake taken = intake.TakeStartupArguments(paths, cwd);
  int status = kExitOk;
  for (const std::string& m : taken.missing) {
    std::cerr << "velmo-cli: no such file or folder: " << m << "\n";
    status = kExitFailed;
  }
  if (taken.dicomdirRoad && !taken.dicomdirRead) {
    std::cerr << "velmo-cli: not a readable DICOMDIR: " << paths[0] << "\n";
    status = kExitFailed;
  }
  const int32_t takenIn = table.pendingEnd.load() - table.pendingStart.load();
  const bool full = table.Full();
  if (taken.runLoadingJob) LoadingJob::RunToEnd(table, log);

  StudyTree tree;
  tree.SetNameKeywords(NameKeywordsFromSettings(settings));
  tree.Build(table);
  tree.Sort(level, SortState::FromSettings(settings));

  std::string line;
  for (int c = 0; c < kListColumnCount; ++c) {
    if (c) line += '\t';
    line += OutText(ListColumnTitle(c));
  }
  std::cout << line << '\n';
  for (int r = 0; r < tree.RowCount(); ++r) {
    line.clear();
    for (int c = 0; c < kListColumnCount; ++c) {
      if (c) line += '\t';
      const std::string text = tree.CellText(r, c);
      line += Cell(c == kColFileName ? PathText(text) : CleanText(text));
    }
    std::cout << line << '\n';
  }
  std::cout.flush();

  std::cerr << "patients " << tree.PatientCount() << ", studies " << tree.StudyCount() << ", series "
            << tree.SeriesCount() << ", images " << tree.ImageCount() << ", rows " << tree.RowCount();
  if (taken.dicomdirRoad)
    std::cerr << " (DICOMDIR records " << table.validCount.load();
  else
    std::cerr << " (files taken in " << takenIn << ", read " << table.validCount.load() << ", rejected "
              << (takenIn - table.validCount.load());
  std::cerr << ", duplicates " << tree.DuplicateCount() << ")";
  if (full) std::cerr << "; the table is full (\"最大数\" " << table.capacity << "), the remaining paths were not taken in";
  std::cerr << "\n";
  return status;
}

}  // namespace velmo::cli
