// The export readers of BMP file images on arbitrary bytes: no read outside the
// buffer, and every result stays within what the bytes describe.
#include <cstdint>
#include <vector>

#include "shell/export.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  const std::vector<uint8_t> file = velmo::DisplayBitmapFileImage(bytes);
  if (file.size() > bytes.size()) __builtin_trap();
  velmo::RgbPicture pic;
  if (velmo::DecodeBmpFileImage(bytes, &pic)) {
    if (file.empty()) __builtin_trap();  // both accept the same layouts
    if (pic.rgb.size() != size_t(pic.width) * size_t(pic.height) * 3) __builtin_trap();
  }
  const std::vector<uint8_t> snapshot = velmo::SnapshotFileImage(bytes);
  if (!snapshot.empty() && snapshot.size() > bytes.size() + 14) __builtin_trap();
  return 0;
}
