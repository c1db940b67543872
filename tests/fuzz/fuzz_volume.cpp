// Reading a series for the volume tools from two in-memory slice files (the input
// split at a point its first two bytes choose), then building a small volume and
// taking both MPR lines and a MIP from it. Every buffer must keep its size.
#include <vector>

#include "dicom/load_context.h"
#include "dicom/view_load.h"
#include "measure/mip.h"
#include "measure/mpr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t split = 2 + (size_t(data[0]) | size_t(data[1]) << 8) % (size - 1);
  velmo::MemoryFileSource source;
  source.Add("/fuzz/a.dcm", std::vector<uint8_t>(data + 2, data + split));
  source.Add("/fuzz/b.dcm", std::vector<uint8_t>(data + split, data + size));
  velmo::SilentNotifier notifier;
  velmo::LoadContext ctx;
  ctx.files = &source;
  ctx.notifier = &notifier;
  velmo::PrepareSingleFile(ctx, "/fuzz/a.dcm");
  if (!velmo::LoadImageAtViewPosition(ctx, 1)) return 0;
  velmo::MprState state;
  std::string message;
  const velmo::MprReadResult r = velmo::ReadSeriesForVolume(ctx.records[0], {"/fuzz/a.dcm", "/fuzz/b.dcm"},
                                                            velmo::VolumeView::kMpr, state, &message, nullptr, &source);
  if (r == velmo::MprReadResult::kFailed && message.empty()) __builtin_trap();
  if (r != velmo::MprReadResult::kOk) return 0;
  if (state.planes <= 0 || state.slices.empty()) __builtin_trap();
  for (const velmo::MprSlice& s : state.slices)
    if (s.pixelOffset + s.sliceSize > state.sliceBuffer.size()) __builtin_trap();
  // Keep the volume small.
  if (state.PlaneSamples() * uint64_t(state.planes) > (uint64_t{1} << 24)) return 0;
  uint64_t bytes = 0;
  if (!velmo::AllocateVolume(state, &bytes)) return 0;
  velmo::MprProgress progress;
  velmo::BuildVolume(state, progress, 1);
  const size_t outBytes = size_t(state.outputWidth) * size_t(state.planes) * size_t(state.BytesPerPixel());
  for (int line = 1; line <= 2; ++line) {
    state.activeLine = line;
    state.lineX = state.columns - 1;
    state.lineY = state.rows - 1;
    velmo::ExtractMpr(state, false);
    velmo::ExtractMpr(state, true);
    if (state.output.size() != outBytes) __builtin_trap();
  }
  velmo::ResetMipSlab(state);
  velmo::ProjectMip(state, -65535, 65535, data[0] % 360);
  if (state.output.size() != outBytes) __builtin_trap();
  return 0;
}
