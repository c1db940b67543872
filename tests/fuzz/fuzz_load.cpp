// The whole view-position load (read, extract, decode, finish) of an in-memory file.
// A successful load must hold exactly the frames its record describes, with sane
// window limits; a failed one must leave the record unloaded.
#include <vector>

#include "dicom/load_context.h"
#include "dicom/view_load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmo::MemoryFileSource source;
  source.Add("/fuzz/image.dcm", std::vector<uint8_t>(data, data + size));
  velmo::SilentNotifier notifier;
  velmo::LoadContext ctx;
  ctx.files = &source;
  ctx.notifier = &notifier;
  velmo::PrepareSingleFile(ctx, "/fuzz/image.dcm");
  const bool ok = velmo::LoadImageAtViewPosition(ctx, 1);
  const velmo::DicomImage& r = ctx.records[0];
  if (!ctx.fileBuffer.empty()) __builtin_trap();  // freed on every path
  if (!ok) {
    if (r.loaded) __builtin_trap();
    return 0;
  }
  if (!r.loaded || !r.extracted || !ctx.panes[1].loaded) __builtin_trap();
  if (r.rows <= 0 || r.columns <= 0) __builtin_trap();
  if (r.pixelData.size() != r.FrameBytes() * static_cast<uint64_t>(r.Frames())) __builtin_trap();
  if (r.levelMax < r.levelMin || r.widthMax < r.widthMin || r.widthMin != 2) __builtin_trap();
  if (ctx.panes[1].multiFrame != (r.frameCount > 1)) __builtin_trap();
  // A second load of the same record only finishes.
  if (!velmo::LoadImageAtViewPosition(ctx, 1)) __builtin_trap();
  return 0;
}
