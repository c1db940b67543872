// velmo-cli mpr|mip PATH... : takes the paths in as start-up arguments would, shows
// the first image given in the left pane, reformats its series as the right pane
// would show it (MPR along one line, or the MIP of a slab) and writes that picture
// like `render`.
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "browser/intake.h"
#include "browser/loading_job.h"
#include "browser/study_tree.h"
#include "cli_common.h"
#include "dicom/view_load.h"
#include "measure/mip.h"
#include "measure/mpr.h"
#include "base/install.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "base/text.h"

namespace velmo::cli {

namespace {

constexpr const char* kMprUsage =
    "usage: velmo-cli mpr PATH... --line horizontal|vertical --pos N -o OUT [render's view options]\n"
    "       velmo-cli mip PATH... [--x1 N --x2 N --y1 N --y2 N] [--direction 1|2] [--lower N --upper N] -o OUT\n"
    "                             [render's view options]\n"
    "  The series of the first image given, reformatted as the right pane shows it.\n";


std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> buf(4096);
  if (getcwd(buf.data(), buf.size()) == nullptr) return path;
  return std::string(buf.data()) + "/" + path;
}

// The file-table entries of the series that holds `entry`, in list order.
std::vector<int32_t> SeriesOf(const StudyTree& tree, int32_t entry) {
  for (const PatientNode& p : tree.patients())
    for (const StudyNode& st : p.studies)
      for (const SeriesNode& se : st.series)
        if (std::find(se.images.begin(), se.images.end(), entry) != se.images.end()) return se.images;
  return {};
}

int Run(const std::vector<std::string>& args, VolumeView view) {
  const char* name = view == VolumeView::kMpr ? "mpr" : "mip";
  auto usage = [&](const std::string& why) {
    std::cerr << "velmo-cli " << name << ": " << why << "\n" << kMprUsage;
    return kExitUsage;
  };
  std::vector<std::string> paths;
  ViewOptions o;
  int line = 0;
  bool hasPos = false;
  int32_t pos = 0;
  bool slab[4] = {false, false, false, false};
  int32_t slabValue[4] = {0, 0, 0, 0};  // x1, x2, y1, y2
  int32_t direction = 1;
  std::string lowerText, upperText;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string why;
    const int taken = ParseViewOption(args, i, o, &why);
    if (taken < 0) return usage(why);
    if (taken > 0) continue;
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) return false;
      *v = args[++i];
      return true;
    };
    std::string v;
    if (view == VolumeView::kMpr && a == "--line") {
      if (!value(&v) || (v != "horizontal" && v != "vertical")) return usage("--line needs horizontal or vertical");
      line = v == "horizontal" ? 1 : 2;
    } else if (view == VolumeView::kMpr && a == "--pos") {
      if (!value(&v) || !WholeNumber(v, &pos)) return usage("--pos needs a whole number");
      hasPos = true;
    } else if (view == VolumeView::kMip && (a == "--x1" || a == "--x2" || a == "--y1" || a == "--y2")) {
      const int k = a == "--x1" ? 0 : a == "--x2" ? 1 : a == "--y1" ? 2 : 3;
      if (!value(&v) || !WholeNumber(v, &slabValue[k])) return usage(a + " needs a whole number");
      slab[k] = true;
    } else if (view == VolumeView::kMip && a == "--direction") {
      if (!value(&v) || (v != "1" && v != "2")) return usage("--direction needs 1 or 2");
      direction = v == "1" ? 1 : 2;
    } else if (view == VolumeView::kMip && (a == "--lower" || a == "--upper")) {
      int32_t n = 0;
      if (!value(&v) || !WholeNumber(v, &n)) return usage(a + " needs a whole number");
      (a == "--lower" ? lowerText : upperText) = v;
    } else if (!a.empty() && a[0] == '-') {
      return usage("unknown option " + a);
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty() || o.out.empty()) return usage("PATH and -o OUT are required");
  if (view == VolumeView::kMpr && line == 0) return usage("--line is required");
  if (!OutputNameAccepted(o.out)) return usage("OUT must end in .bmp, .jpg or .png");

  const Settings settings = Settings::Load();
  FileTable table;
  if (!table.Allocate(settings.listCapacity)) {
    PrintError(SJ("ファイルテーブルを確保できません"));
    return kExitFailed;
  }
  StderrNotifier notifier;
  Log log(InstallFolder());
  Intake intake(table, log, &notifier);
  intake.SetRemember([](const std::string&) {});
  std::string cwd = Absolute(".");
  cwd.resize(cwd.size() - 2);
  const StartupIntake taken = intake.TakeStartupArguments(paths, cwd);
  for (const std::string& m : taken.missing) std::cerr << "velmo-cli: no such file or folder: " << m << "\n";
  if (taken.runLoadingJob) LoadingJob::RunToEnd(table, log);
  StudyTree tree;
  tree.SetNameKeywords(NameKeywordsFromSettings(settings));
  tree.Build(table);
  tree.Sort(kLevelImage, SortState::FromSettings(settings));
  if (tree.RowCount() == 0) {
    std::cerr << "velmo-cli: no image to reformat\n";
    return kExitFailed;
  }
  // The first image given: the entry of the first path when it is a file that was
  // taken in, else the first image of the list.
  int32_t entry = tree.EntryOfRow(0);
  const std::string first = Absolute(paths[0]);
  for (int32_t i = 0; i < table.validCount.load(); ++i)
    if (table.entries[size_t(i)].record.filePath == first) {
      entry = i;
      break;
    }

  LoadContext ctx;
  ctx.log = &log;
  ctx.notifier = &notifier;
  SyncRecordTable(ctx, table);
  if (!ShowEntryInPane(ctx, entry, 1)) {
    PrintError(ctx.failureMessage.empty() ? std::string_view("load failed") : std::string_view(ctx.failureMessage));
    return kExitFailed;
  }
  const DicomImage& left = *ctx.Slot(1);
  std::vector<std::string> series;
  for (int32_t e : SeriesOf(tree, entry)) series.push_back(table.entries[size_t(e)].record.filePath);

  MprState state;
  std::string message;
  const MprReadResult read = ReadSeriesForVolume(left, series, view, state, &message, &log);
  if (read == MprReadResult::kFailed) {
    PrintError(message);
    return kExitFailed;
  }
  if (read == MprReadResult::kNoSlices) {
    std::cerr << "velmo-cli: no slice of the series could be stacked\n";
    return kExitFailed;
  }
  uint64_t bytes = 0;
  if (!AllocateVolume(state, &bytes)) {
    PrintError(Format(SJ("MPR用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
                      static_cast<unsigned long long>(bytes)));
    return kExitFailed;
  }
  MprProgress progress;
  BuildVolume(state, progress, 2);

  if (view == VolumeView::kMpr) {
    state.activeLine = line;
    if (line == 1)
      state.lineY = std::clamp(hasPos ? pos : state.rows / 2, 0, state.rows - 1);
    else
      state.lineX = std::clamp(hasPos ? pos : state.columns / 2, 0, state.columns - 1);
    ExtractMpr(state, false);
  } else {
    ResetMipSlab(state);
    if (slab[0]) state.mipX1 = std::clamp(slabValue[0], 0, state.columns - 1);
    if (slab[1]) state.mipX2 = std::clamp(slabValue[1], 0, state.columns - 1);
    if (slab[2]) state.mipY1 = std::clamp(slabValue[2], 0, state.rows - 1);
    if (slab[3]) state.mipY2 = std::clamp(slabValue[3], 0, state.rows - 1);
    state.mipDirection = direction;
    ProjectMip(state, LowerThreshold(lowerText), UpperThreshold(upperText), 0);
  }
  DicomImage slot;
  FillReformatRecord(left, state, slot);
  const int rc = RenderRecordToFile(slot, o, 2, log, notifier);
  if (rc == kExitUsage) std::cerr << kMprUsage;
  return rc;
}

}  // namespace

int RunMpr(const std::vector<std::string>& args) { return Run(args, VolumeView::kMpr); }
int RunMip(const std::vector<std::string>& args) { return Run(args, VolumeView::kMip); }

}  // namespace velmo::cli
