// ReadDicomFile on a 50 MB file whose pixel data starts at about 2 KB: the header-only
// strategy reads one 8 KiB prefix; the whole-file strategy is shown for comparison.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "dicom/load_context.h"
#include "dicom/read_dicom.h"
#include "support/dicom_writer.h"

namespace {

constexpr uint64_t kFileSize = 50ull * 1024 * 1024;

// Written once per run under /tmp; the pixel bytes are a hole in a sparse file.
const std::string& LargeFile() {
  // Never destroyed, so the exit handler that removes the file can still use it.
  static const std::string& path = *new std::string([] {
    std::string p = "/tmp/velmo-bench-50mb-" + std::to_string(::getpid()) + ".dcm";
    velmo::test::DicomWriter ds(1);
    ds.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
    ds.Text(0x0008, 0x0018, "UI", "1.2.392.200036.9116.2.6.1.48.7");
    ds.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
    ds.U16(0x0028, 0x0010, 512);
    ds.U16(0x0028, 0x0011, 512);
    velmo::test::Bytes file = velmo::test::MakeFile("1.2.840.10008.1.2.1", ds.bytes());
    ds = velmo::test::DicomWriter(1);
    ds.Element(0x0009, 0x0010, "LO", std::string((2048 - file.size() - 20) & ~size_t{1}, ' '));
    const uint32_t pixelLength = static_cast<uint32_t>(kFileSize - file.size() - ds.bytes().size() - 12);
    ds.Header(0x7FE0, 0x0010, "OW", pixelLength);
    file.insert(file.end(), ds.bytes().begin(), ds.bytes().end());
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      if (::write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size()) ||
          ::ftruncate(fd, static_cast<off_t>(kFileSize)) != 0) {
        ::unlink(p.c_str());
      }
      ::close(fd);
    }
    std::atexit([] { ::unlink(LargeFile().c_str()); });
    return p;
  }());
  return path;
}

void LoadLarge(benchmark::State& state, bool fullRead) {
  const std::string& path = LargeFile();
  velmo::DiskFileSource& disk = velmo::DiskFileSource::Instance();
  velmo::LoadContext ctx;
  velmo::PrepareSingleFile(ctx, path);
  disk.bytesRead = 0;
  disk.readCalls = 0;
  for (auto _ : state) {
    if (!velmo::ReadDicomFile(ctx, path, 1, fullRead)) {
      state.SkipWithError("ReadDicomFile failed");
      break;
    }
    benchmark::DoNotOptimize(ctx.records[0].headerSize);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["headerSize"] = ctx.records[0].headerSize;
  state.counters["bytesRead/load"] = n ? static_cast<double>(disk.bytesRead.load()) / n : 0;
  state.counters["reads/load"] = n ? static_cast<double>(disk.readCalls.load()) / n : 0;
}

void BM_ReadDicomFileHeaderOnly50MB(benchmark::State& state) { LoadLarge(state, false); }
void BM_ReadDicomFileWhole50MB(benchmark::State& state) { LoadLarge(state, true); }
BENCHMARK(BM_ReadDicomFileHeaderOnly50MB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadDicomFileWhole50MB)->Unit(benchmark::kMillisecond);

}  // namespace
