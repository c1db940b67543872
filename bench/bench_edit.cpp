// Tag editing over a series of 500 CT files of 512 x 512 pixels (about 0.5 MB each):
// the whole per-file writer (read, rewrite in memory, backup flushed to disk, new
// content flushed to a temporary file, rename, folder flushed) followed by the list
// entry reader's re-read, and its parts on their own, to show where the time goes.
// The series is made once per run under /tmp (VELMO_BENCH_EDIT_DIR to choose).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/log.h"
#include "browser/list_reader.h"
#include "browser/loading_job.h"
#include "header/tag_edit.h"
#include "rewrite/corvel.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace {

constexpr int kFiles = 500;

velmo::test::Bytes CtFile(int index) {
  using velmo::test::DicomWriter;
  DicomWriter w(1);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  w.Text(0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
  w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2");
  w.Text(0x0008, 0x0018, "UI", "1.2.392.200036.9116.2.6.1.48.1." + std::to_string(index));
  w.Text(0x0008, 0x0020, "DA", "20240115");
  w.Text(0x0008, 0x0060, "CS", "CT");
  w.Text(0x0008, 0x0080, "LO", "General Hospital");
  w.Text(0x0008, 0x103E, "LO", "AXIAL 5mm");
  w.Element(0x0009, 0x0010, "LO", std::string("PRIVATE CREATOR "));
  w.Element(0x0009, 0x1001, "OB", std::string(600, 'p'));
  w.Text(0x0010, 0x0010, "PN", "Patient^Zero");
  w.Text(0x0010, 0x0020, "LO", "PAT0");
  w.Text(0x0010, 0x0030, "DA", "19600101");
  w.Text(0x0020, 0x000D, "UI", "1.2.392.200036.9116.2.6.1.48");
  w.Text(0x0020, 0x000E, "UI", "1.2.392.200036.9116.2.6.1.48.1");
  w.Text(0x0020, 0x0011, "IS", "1");
  w.Text(0x0020, 0x0013, "IS", std::to_string(index + 1));
  w.Text(0x0020, 0x0032, "DS", "-250\\-250\\" + std::to_string(index * 5));
  w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
  w.U16(0x0028, 0x0002, 1);
  w.U16(0x0028, 0x0010, 512);
  w.U16(0x0028, 0x0011, 512);
  w.U16(0x0028, 0x0100, 16);
  w.U16(0x0028, 0x0101, 12);
  w.U16(0x0028, 0x0102, 11);
  w.U16(0x0028, 0x0103, 0);
  velmo::test::Bytes pixels(512 * 512 * 2);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + index);
  w.PixelData(pixels);
  return velmo::test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
}

struct Series {
  std::string folder, install;
  std::vector<std::string> files;
};

const Series& TheSeries() {
  static const Series s = [] {
    Series out;
    const char* fixed = std::getenv("VELMO_BENCH_EDIT_DIR");
    out.folder = fixed && *fixed ? fixed : "/tmp/velmo-bench-edit";
    out.install = out.folder + "/install/";
    std::filesystem::create_directories(out.folder + "/series");
    velmo::test::MakeInstallation(out.folder + "/install");
    for (int i = 0; i < kFiles; ++i) {
      out.files.push_back(out.folder + "/series/IM" + std::to_string(10000 + i));
      velmo::test::WriteBytes(out.files.back(), CtFile(i));
    }
    return out;
  }();
  return s;
}

void ClearBackups(const Series& s) { std::filesystem::remove_all(s.install + "VelmoImgBk"); }

// The figure of the issue: every file of the series edited and re-read.
void BM_EditSeries(benchmark::State& state) {
  const Series& s = TheSeries();
  velmo::TagWriteEnv env;
  env.installFolder = s.install;
  velmo::ListEntryReader reader(velmo::Log::Null());
  velmo::ListRecord record;
  velmo::FileTable table;
  for (const std::string& f : s.files) {
    velmo::FileTableEntry entry;
    entry.record.filePath = f;
    table.entries.push_back(entry);
  }
  table.validCount = table.pendingStart = table.pendingEnd = static_cast<int32_t>(s.files.size());
  int round = 0;
  for (auto _ : state) {
    velmo::TagChange change;
    change.SetTag(0x0010, 0x0010);
    const std::string boxes[3] = {round++ % 2 ? "SATO JIRO" : "YAMADA TAROU", "", ""};
    velmo::EncodeTagValue("PN", boxes, &change);
    if (state.range(0) == 0) {
      for (const std::string& f : s.files)
        if (!velmo::EditElementInFile(f, change, env)) state.SkipWithError("edit failed");
    } else {  // 1 and 2
      for (const velmo::TagWriteReport& r : velmo::ApplyTagChange(velmo::TagOperation::kEdit, s.files, change, env))
        if (!r.changed) state.SkipWithError("edit failed");
    }
    if (state.range(0) == 2) {
      // As the main window does it: each rewritten record re-read in place by the
      // loading worker in single-record mode, one worker start per file.
      for (int32_t i = 0; i < static_cast<int32_t>(s.files.size()); ++i) {
        velmo::LoadingJob job;
        if (job.Start(table, std::make_unique<velmo::Log>(), nullptr, velmo::LoadingJob::kModeSingle, i)) job.Finish();
      }
    } else {
      for (const std::string& f : s.files) {
        record.filePath = f;
        reader.Read(f, record);
      }
    }
    state.PauseTiming();
    ClearBackups(s);
    state.ResumeTiming();
  }
  state.counters["files/s"] = benchmark::Counter(kFiles, benchmark::Counter::kIsIterationInvariantRate);
}
// Arg 0: the single-file writer file by file (four flushes each); 1: the batch
// (one flush per round); 2: the batch with the re-read of the main window (the
// loading worker in single-record mode, one start per file).
BENCHMARK(BM_EditSeries)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

// The rewrite alone: read each file and run the rewrite library in memory.
void BM_RewriteInMemory(benchmark::State& state) {
  const Series& s = TheSeries();
  std::vector<std::string> images;
  for (const std::string& f : s.files) {
    std::string bytes;
    velmo::ReadWholeFile(f, &bytes);
    images.push_back(std::move(bytes));
  }
  for (auto _ : state) {
    for (const std::string& image : images) {
      uint32_t length = static_cast<uint32_t>(image.size());
      auto* b = static_cast<unsigned char*>(std::malloc(length));
      std::memcpy(b, image.data(), length);
      b = Dll_Corvel(b, &length, 0x00, 0x10, 0x00, 0x10, "PN", 10, "SATO^JIRO ");
      benchmark::DoNotOptimize(b);
      std::free(b);
    }
  }
}
BENCHMARK(BM_RewriteInMemory)->Unit(benchmark::kMillisecond);

// The safe write alone for 500 files: 1, temporary file, flush, rename and folder
// flush per file; 2, all temporary files, one flush of the file system, all renames,
// one folder flush; 0, the same bytes written and renamed without any flush.
void BM_WriteSeries(benchmark::State& state) {
  const Series& s = TheSeries();
  const bool synced = state.range(0) != 0;
  std::string bytes;
  velmo::ReadWholeFile(s.files[0], &bytes);
  const std::string folder = s.folder + "/scratch";
  std::filesystem::create_directories(folder);
  for (auto _ : state) {
    for (int i = 0; i < kFiles; ++i) {
      const std::string path = folder + "/f" + std::to_string(i);
      if (synced && state.range(0) == 1) {
        std::string error;
        if (!velmo::ReplaceFileContents(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &error)) {
          // the first round creates the files
          velmo::test::WriteBytes(path, {});
          velmo::ReplaceFileContents(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &error);
        }
      } else if (state.range(0) == 2) {
        const std::string temp = path + ".tmp";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (write(fd, bytes.data(), bytes.size()) < 0) state.SkipWithError("write failed");
        close(fd);
      } else {
        const std::string temp = path + ".tmp";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (write(fd, bytes.data(), bytes.size()) < 0) state.SkipWithError("write failed");
        close(fd);
        rename(temp.c_str(), path.c_str());
      }
    }
    if (state.range(0) == 2) {
      const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
      syncfs(dir);
      for (int i = 0; i < kFiles; ++i) {
        const std::string path = folder + "/f" + std::to_string(i);
        rename((path + ".tmp").c_str(), path.c_str());
      }
      fsync(dir);
      close(dir);
    }
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WriteSeries)->Arg(1)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The re-read alone.
void BM_RereadSeries(benchmark::State& state) {
  const Series& s = TheSeries();
  velmo::ListEntryReader reader(velmo::Log::Null());
  velmo::ListRecord record;
  for (auto _ : state) {
    for (const std::string& f : s.files) {
      record.filePath = f;
      reader.Read(f, record);
    }
  }
}
BENCHMARK(BM_RereadSeries)->Unit(benchmark::kMillisecond);

}  // namespace
