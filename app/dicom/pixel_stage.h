#pragma once
// The pixel stage of attribute extraction: allocation of pixelData, the native copy
// or JPEG baseline / RLE Lossless decoding, and the default window.
#include "dicom/load_context.h"

namespace velmo {

// Runs on `im` (the current record being extracted) with ctx.fileBuffer holding the
// whole file. Returns false on the failures it reports (allocation, native data
// shorter than the header promises, rows or columns of 0). Does not free the file
// buffer and does not set loaded/extracted: ExtractImageAttributes completes.
bool RunPixelStage(LoadContext& ctx, DicomImage& im, int viewPos);

}  // namespace velmo
