#include "dicom/view_load.h"

#include "dicom/read_dicom.h"

namespace velmo {

bool LoadImageAtViewPosition(LoadContext& ctx, int viewPos) {
  DicomImage* slot = ctx.Slot(viewPos);
  if (slot == nullptr) return false;
  ctx.failureMessage.clear();
  if (slot->loaded) {
    if (ctx.headerViewRefresh) ctx.headerViewRefresh(viewPos);
    return FinishImageLoad(ctx, viewPos);
  }
  slot->FreeBuffers();
  const std::string path = slot->filePath;
  if (!ReadDicomFile(ctx, path, viewPos, true)) return false;
  if (ctx.headerViewRefresh && !ctx.headerViewRefresh(viewPos)) {
    ctx.FreeFileBuffer();
    return false;
  }
  if (!ExtractImageAttributes(ctx, viewPos)) return false;
  return FinishImageLoad(ctx, viewPos);
}

}  // namespace velmo
