// The list entry reader over a folder of 2,000 CT files of 512 x 512 pixels, page
// cache warm: files per second. The folder is made once per run under /tmp (the
// pixel data is a hole of a sparse file, so the folder costs little disk); set
// VELMO_BENCH_LIST_DIR to keep it at a fixed place, as bench/compare_list.sh does.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "browser/list_reader.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/text.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace {

constexpr int kFiles = 2000;
constexpr int kRows = 512, kColumns = 512;

// A CT header as scanners write it: some seventy elements, a referenced-image
// sequence, a private block, then 512 x 512 16-bit pixels.
velmo::test::Bytes CtHeader(int index) {
  using velmo::test::DicomWriter;
  const int patient = index / 500, study = index / 250, series = index / 125;
  const std::string pid = "PAT" + std::to_string(patient);
  const std::string studyUid = "1.2.392.200036.9116.2.6.1.48." + std::to_string(study);
  const std::string seriesUid = studyUid + "." + std::to_string(series);
  DicomWriter w(1);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  w.Text(0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
  w.Text(0x0008, 0x0012, "DA", "20240115");
  w.Text(0x0008, 0x0013, "TM", "101530.123");
  w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2");
  w.Text(0x0008, 0x0018, "UI", seriesUid + "." + std::to_string(index));
  w.Text(0x0008, 0x0020, "DA", "20240115");
  w.Text(0x0008, 0x0021, "DA", "20240115");
  w.Text(0x0008, 0x0022, "DA", "20240115");
  w.Text(0x0008, 0x0023, "DA", "20240115");
  w.Text(0x0008, 0x0030, "TM", "100000");
  w.Text(0x0008, 0x0031, "TM", "100500");
  w.Text(0x0008, 0x0032, "TM", "100501.5");
  w.Text(0x0008, 0x0033, "TM", "100502");
  w.Text(0x0008, 0x0050, "SH", "ACC" + std::to_string(study));
  w.Text(0x0008, 0x0060, "CS", "CT");
  w.Text(0x0008, 0x0070, "LO", "MAKER");
  w.Text(0x0008, 0x0080, "LO", "General Hospital");
  w.Text(0x0008, 0x0090, "PN", "Referring^Doctor");
  w.Text(0x0008, 0x1010, "SH", "CT01");
  w.Text(0x0008, 0x1030, "LO", "CHEST ROUTINE");
  w.Text(0x0008, 0x103E, "LO", "AXIAL 5mm");
  w.Text(0x0008, 0x1040, "LO", "Radiology");
  w.Text(0x0008, 0x1070, "PN", "Operator^One");
  w.Text(0x0008, 0x1090, "LO", "MODEL X");
  w.BeginSequence(0x0008, 0x1140, false).BeginItem(false);
  w.Text(0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.2");
  w.Text(0x0008, 0x1155, "UI", seriesUid + ".1");
  w.EndItem().EndSequence();
  w.Element(0x0009, 0x0010, "LO", std::string("PRIVATE CREATOR "));
  w.Element(0x0009, 0x1001, "OB", std::string(600, 'p'));
  w.Text(0x0010, 0x0010, "PN", "Patient^" + std::to_string(patient));
  w.Text(0x0010, 0x0020, "LO", pid);
  w.Text(0x0010, 0x0030, "DA", "19600101");
  w.Text(0x0010, 0x0040, "CS", "M");
  w.Text(0x0010, 0x1010, "AS", "064Y");
  w.Text(0x0018, 0x0015, "CS", "CHEST");
  w.Text(0x0018, 0x0050, "DS", "5.0");
  w.Text(0x0018, 0x0060, "DS", "120");
  w.Text(0x0018, 0x0090, "DS", "500");
  w.Text(0x0018, 0x1020, "LO", "V1.0");
  w.Text(0x0018, 0x1030, "LO", "CHEST");
  w.Text(0x0018, 0x1100, "DS", "350");
  w.Text(0x0018, 0x1120, "DS", "0");
  w.Text(0x0018, 0x1130, "DS", "150");
  w.Text(0x0018, 0x1150, "IS", "500");
  w.Text(0x0018, 0x1151, "IS", "200");
  w.Text(0x0018, 0x1152, "IS", "100");
  w.Text(0x0018, 0x1160, "SH", "BODY");
  w.Text(0x0018, 0x1210, "SH", "FC13");
  w.Text(0x0018, 0x5100, "CS", "HFS");
  w.Text(0x0020, 0x000D, "UI", studyUid);
  w.Text(0x0020, 0x000E, "UI", seriesUid);
  w.Text(0x0020, 0x0010, "SH", "1");
  w.Text(0x0020, 0x0011, "IS", std::to_string(series % 2 + 1));
  w.Text(0x0020, 0x0012, "IS", "1");
  w.Text(0x0020, 0x0013, "IS", std::to_string(index % 125 + 1));
  w.Text(0x0020, 0x0032, "DS", "-175\\-175\\" + std::to_string(-(index % 125) * 5));
  w.Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0");
  w.Text(0x0020, 0x0052, "UI", studyUid + ".9");
  w.Text(0x0020, 0x1040, "LO", "");
  w.Text(0x0020, 0x1041, "DS", std::to_string(-(index % 125) * 5));
  w.U16(0x0028, 0x0002, 1);
  w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
  w.U16(0x0028, 0x0010, kRows);
  w.U16(0x0028, 0x0011, kColumns);
  w.Text(0x0028, 0x0030, "DS", "0.683594\\0.683594");
  w.U16(0x0028, 0x0100, 16);
  w.U16(0x0028, 0x0101, 12);
  w.U16(0x0028, 0x0102, 11);
  w.U16(0x0028, 0x0103, 1);
  w.Text(0x0028, 0x1050, "DS", "40");
  w.Text(0x0028, 0x1051, "DS", "400");
  w.Text(0x0028, 0x1052, "DS", "-1024");
  w.Text(0x0028, 0x1053, "DS", "1");
  w.Text(0x0032, 0x1032, "PN", "Requesting^Doctor");
  w.Text(0x0032, 0x1033, "LO", "Internal Medicine");
  w.Header(0x7FE0, 0x0010, "OW", kRows * kColumns * 2);
  return velmo::test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
}

struct Folder {
  std::string path;
  std::vector<std::string> files;
  bool keep = false;
};

const Folder& CtFolder() {
  static Folder* folder = [] {
    auto* f = new Folder;
    const char* fixed = std::getenv("VELMO_BENCH_LIST_DIR");
    f->keep = fixed && *fixed;
    f->path = f->keep ? fixed : "/tmp/velmo-bench-list-" + std::to_string(::getpid());
    std::filesystem::create_directories(f->path);
    for (int i = 0; i < kFiles; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/CT%05d.dcm", i);
      const std::string p = f->path + name;
      f->files.push_back(p);
      struct stat st;
      if (::stat(p.c_str(), &st) == 0 && st.st_size > kRows * kColumns * 2) continue;  // made by an earlier run
      const velmo::test::Bytes header = CtHeader(i);
      const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) continue;
      const bool ok = ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size()) &&
                      ::ftruncate(fd, static_cast<off_t>(header.size()) + kRows * kColumns * 2) == 0;
      ::close(fd);
      if (!ok) ::unlink(p.c_str());
    }
    if (!f->keep) {
      std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(CtFolder().path, ec);
      });
    }
    return f;
  }();
  return *folder;
}

// Reads every file of the folder with one reader, as one loading job does.
void ReadFolder(benchmark::State& state, const velmo::Log& log) {
  const Folder& folder = CtFolder();
  const velmo::LogBatch batch(log);  // as the loading job reads
  velmo::ListEntryReader reader(log);
  velmo::ListRecord record;
  for (const std::string& p : folder.files) reader.Read(p, record);  // warm the page cache
  int64_t files = 0;
  for (auto _ : state) {
    for (const std::string& p : folder.files) {
      record.filePath = p;
      if (!reader.Read(p, record)) {
        state.SkipWithError("a generated file was rejected");
        return;
      }
      benchmark::DoNotOptimize(record.patientId.c_str());
    }
    files += static_cast<int64_t>(folder.files.size());
  }
  state.SetItemsProcessed(files);
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(files), benchmark::Counter::kIsRate);
}

void BM_ListEntryReader_CtFolder(benchmark::State& state) { ReadFolder(state, velmo::Log::Null()); }
BENCHMARK(BM_ListEntryReader_CtFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with an operation log at level 1, where each file writes two lines.
void BM_ListEntryReader_CtFolderLogged(benchmark::State& state) {
  static velmo::test::TempDir install;
  velmo::test::MakeInstallation(install.path(), "[詳細]\nLogLevel=1\nLogFileCount=1\n");
  velmo::RotateLogs(install.path() + "/");
  const velmo::Log log(install.path() + "/");
  ReadFolder(state, log);
}
BENCHMARK(BM_ListEntryReader_CtFolderLogged)->Unit(benchmark::kMillisecond)->UseRealTime();

// One log line as the list reader writes it (level 1, a path in the message).
void BM_LogWriteLine(benchmark::State& state) {
  static velmo::test::TempDir install;
  velmo::test::MakeInstallation(install.path(), "[詳細]\nLogLevel=1\nLogFileCount=1\n");
  velmo::RotateLogs(install.path() + "/");
  const velmo::Log log(install.path() + "/");
  const std::string message = velmo::Format(SJ("画像ファイル（%s）を読み出しました。"), "/data/study/CT00001.dcm");
  for (auto _ : state) log.Write(message, velmo::kLogNormal, 1);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogWriteLine);

}  // namespace
