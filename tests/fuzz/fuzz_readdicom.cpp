// ReadDicomFile on an in-memory file, with both reading strategies. A successful load
// must describe bytes that are really in the file.
#include <cstring>
#include <vector>

#include "dicom/load_context.h"
#include "dicom/read_dicom.h"

namespace {

void LoadOnce(const std::vector<uint8_t>& file, bool fullRead) {
  velmo::MemoryFileSource source;
  source.Add("/fuzz/image.dcm", file);
  velmo::SilentNotifier notifier;
  velmo::LoadContext ctx;
  ctx.files = &source;
  ctx.notifier = &notifier;
  velmo::PrepareSingleFile(ctx, "/fuzz/image.dcm");
  if (!velmo::ReadDicomFile(ctx, "/fuzz/image.dcm", 1, fullRead)) return;
  const velmo::DicomImage& r = ctx.records[0];
  if (r.headerSize <= 0 || static_cast<size_t>(r.headerSize) > file.size()) __builtin_trap();
  if (r.preambleSize != 0 && r.preambleSize != 132) __builtin_trap();
  if (r.datasetOffset < r.preambleSize || r.datasetOffset >= r.headerSize) __builtin_trap();
  if (r.syntaxType < 0 || r.syntaxType > 2) __builtin_trap();
  if (r.headerCopy.size() != static_cast<size_t>(r.headerSize)) __builtin_trap();
  if (std::memcmp(r.headerCopy.data(), file.data(), r.headerCopy.size()) != 0) __builtin_trap();
  if (ctx.readSize > file.size() || ctx.readSize < static_cast<uint64_t>(r.headerSize)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> file(data, data + size);
  LoadOnce(file, true);
  LoadOnce(file, false);
  return 0;
}
