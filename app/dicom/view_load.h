#pragma once
// The view-position load: what showing an image at a view position runs.
#include "dicom/load_context.h"

namespace velmo {

// Fills the record from the file buffer that ReadDicomFile (fullRead) left: every
// attribute, then the pixel stage (allocation, native copy or JPEG/RLE decoding,
// default window). Frees the file buffer. False on the failures it reports.
bool ExtractImageAttributes(LoadContext& ctx, int viewPos);
// Window limits and the window in use, then the pane reset hook.
bool FinishImageLoad(LoadContext& ctx, int viewPos);

// Read whole, refresh the header view, extract, finish; stops at the first step that
// returns false. A record already loaded only refreshes its header view and finishes.
bool LoadImageAtViewPosition(LoadContext& ctx, int viewPos);

}  // namespace velmo
