// Volume tools: building the resampled volume of a 256-slice 512 x 512 16-bit series
// (slices already read) on one and two workers, reading a series' files for the
// volume against the loader's whole-file read, extracting both MPR lines (full and
// draft), and a MIP over the full slab.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <random>

#include "dicom/load_context.h"
#include "dicom/read_dicom.h"
#include "dicom/view_load.h"
#include "measure/mip.h"
#include "measure/mpr.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace {

using namespace velmo;

constexpr int kSlices = 256;
constexpr int kSide = 512;

// 256 slices 1 mm apart, 0.7 mm pixels: 364 planes.
MprState& Series256() {
  static MprState state = [] {
    MprState s;
    s.rows = s.columns = kSide;
    s.channels = 1;
    s.bytesPerSample = 2;
    s.isSigned = true;
    s.rowSpacing = 0.7f;
    const uint64_t slice = uint64_t(kSide) * kSide * 2;
    s.sliceBuffer.resize(slice * kSlices);
    std::mt19937 rng(5);
    for (size_t i = 0; i < s.sliceBuffer.size(); i += 2) {
      const int v = int(rng() % 3000) - 1000;
      s.sliceBuffer[i] = uint8_t(v);
      s.sliceBuffer[i + 1] = uint8_t(v >> 8);
    }
    s.slices.resize(kSlices);
    for (int i = 0; i < kSlices; ++i) {
      s.slices[size_t(i)].sliceLocation = kSlices - 1 - i;
      s.slices[size_t(i)].sliceSize = slice;
      s.slices[size_t(i)].pixelOffset = slice * uint64_t(i);
    }
    s.planes = PlaneCount(kSlices - 1, 0, 0.7);
    s.outputWidth = kSide;
    uint64_t bytes = 0;
    AllocateVolume(s, &bytes);
    return s;
  }();
  return state;
}

void BM_BuildVolume256(benchmark::State& state) {
  MprState& s = Series256();
  const int threads = int(state.range(0));
  for (auto _ : state) {
    MprProgress progress;
    BuildVolume(s, progress, threads);
    benchmark::DoNotOptimize(s.volume.data());
  }
  s.volumeValid = true;
  state.counters["planes"] = s.planes;
  state.counters["per_plane"] = benchmark::Counter(
      double(s.planes), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  // Memory the build holds: slices, volume, output and one plane accumulator per worker.
  const double mib = 1024.0 * 1024.0;
  state.counters["slices_MiB"] = double(s.sliceBuffer.size()) / mib;
  state.counters["volume_MiB"] = double(s.volume.size() * 2 + s.output.size()) / mib;
  state.counters["accumulators_MiB"] = double(threads) * double(s.PlaneSamples()) * 8.0 / mib;
  // The process's peak resident size so far (the build runs first in this file).
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["max_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_BuildVolume256)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void EnsureVolume() {
  MprState& s = Series256();
  if (!s.volumeValid) {
    MprProgress progress;
    BuildVolume(s, progress, 2);
    s.volumeValid = true;
  }
}

void BM_ExtractMpr(benchmark::State& state) {
  EnsureVolume();
  MprState& s = Series256();
  s.activeLine = int(state.range(0));
  s.lineX = s.lineY = 200;
  const bool draft = state.range(1) != 0;
  for (auto _ : state) {
    ExtractMpr(s, draft);
    benchmark::DoNotOptimize(s.output.data());
  }
  state.SetLabel(s.activeLine == 1 ? "horizontal" : (draft ? "vertical draft" : "vertical"));
}
BENCHMARK(BM_ExtractMpr)->Args({1, 0})->Args({2, 0})->Args({2, 1})->Unit(benchmark::kMillisecond);

void BM_MipFullSlab(benchmark::State& state) {
  EnsureVolume();
  MprState& s = Series256();
  s.mipX1 = 0;
  s.mipX2 = s.columns;
  s.mipY1 = 0;
  s.mipY2 = s.rows;
  s.mipDirection = int(state.range(0));
  for (auto _ : state) {
    ProjectMip(s, -65535, 65535, 0);
    benchmark::DoNotOptimize(s.output.data());
  }
}
BENCHMARK(BM_MipFullSlab)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// 64 slice files of 512 x 512 on disk (page cache warm after the first pass).
struct SeriesFiles {
  test::TempDir dir;
  std::vector<std::string> paths;
  DicomImage left;
  SeriesFiles() {
    std::vector<uint8_t> pixels(size_t(kSide) * kSide * 2, 7);
    for (int i = 0; i < 64; ++i) {
      test::DicomWriter w(1);
      w.Text(0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
      w.Text(0x0020, 0x0032, "DS", "0\\0\\" + std::to_string(i));
      w.Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0");
      w.Text(0x0020, 0x0052, "UI", "1.2.3");
      w.Text(0x0020, 0x1041, "DS", std::to_string(i));
      w.U16(0x0028, 0x0010, kSide);
      w.U16(0x0028, 0x0011, kSide);
      w.Text(0x0028, 0x0030, "DS", "0.7\\0.7");
      w.U16(0x0028, 0x0100, 16);
      w.U16(0x0028, 0x0101, 16);
      w.U16(0x0028, 0x0103, 1);
      w.PixelData(pixels);
      paths.push_back(dir.File("s" + std::to_string(i) + ".dcm"));
      test::WriteBytes(paths.back(), test::MakeFile("1.2.840.10008.1.2.1", w.bytes()));
    }
    LoadContext ctx;
    PrepareSingleFile(ctx, paths[0]);
    LoadImageAtViewPosition(ctx, 1);
    left = ctx.records[0];
  }
};

SeriesFiles& Files() {
  static SeriesFiles files;
  return files;
}

void BM_ReadSeriesForVolume(benchmark::State& state) {
  SeriesFiles& f = Files();
  MprState s;  // as the main window keeps it between builds
  for (auto _ : state) {
    std::string message;
    benchmark::DoNotOptimize(ReadSeriesForVolume(f.left, f.paths, VolumeView::kMpr, s, &message));
  }
  state.counters["files_per_s"] = benchmark::Counter(double(f.paths.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadSeriesForVolume)->Unit(benchmark::kMillisecond);

// The loader's whole-file read of the same files, for comparison.
void BM_LoaderWholeFileReads(benchmark::State& state) {
  SeriesFiles& f = Files();
  for (auto _ : state) {
    LoadContext ctx;
    ctx.records.assign(1, DicomImage{});
    ctx.viewIndex[1] = 0;
    for (const std::string& p : f.paths) benchmark::DoNotOptimize(ReadDicomFile(ctx, p, 1, true));
  }
  state.counters["files_per_s"] = benchmark::Counter(double(f.paths.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoaderWholeFileReads)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// The loader's whole view-position load (read, extract, copy the pixels) of the same
// files: what showing each slice in a pane costs.
void BM_LoaderViewLoads(benchmark::State& state) {
  SeriesFiles& f = Files();
  for (auto _ : state) {
    for (const std::string& p : f.paths) {
      LoadContext ctx;
      PrepareSingleFile(ctx, p);
      benchmark::DoNotOptimize(LoadImageAtViewPosition(ctx, 1));
    }
  }
  state.counters["files_per_s"] = benchmark::Counter(double(f.paths.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoaderViewLoads)->Unit(benchmark::kMillisecond);

}  // namespace
