#pragma once
#include <string>

#include "dicom/load_context.h"

namespace velmo {

// Reads one DICOM file into ctx.fileBuffer, finds its data set and pixel data,
// decides its encoding and stores headerSize, preambleSize, datasetOffset,
// transferSyntaxUid, syntaxType and headerCopy in the record shown at viewPos.
// fullRead: the whole file at once; otherwise growing prefixes (8 KiB ... 1 MiB, then
// the whole file) in one reused 1 MiB buffer. On failure the record is unchanged.
bool ReadDicomFile(LoadContext& ctx, const std::string& path, int viewPos, bool fullRead);

// The largest file the loader handles: its offsets are 32-bit.
inline constexpr uint64_t kMaxLoadableFileSize = 0x7FFFFFFFull;

// A path as text for logs and messages (Shift-JIS).
std::string PathText(const std::string& path);

}  // namespace velmo
