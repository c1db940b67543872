// The element removal of the delete writer on arbitrary file images and tags: no
// read or write outside the image, nested undefined-length sequences walked without
// running away, and a success always removes at least a whole element header. The
// last 4 input bytes are the tag; the bytes before them are the file.
#include <cstdint>
#include <string>
#include <vector>

#include "header/tag_edit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t n = size - 4;
  const uint8_t* t = data + n;
  std::vector<uint8_t> image(data, data + n);
  velmo::TagWriteEnv env;  // no log, no notifier
  std::string failure;
  const uint16_t group = static_cast<uint16_t>(t[0] << 8 | t[1]);
  const uint16_t element = static_cast<uint16_t>(t[2] << 8 | t[3]);
  if (velmo::RemoveElementFromImage(image, group, element, env, &failure)) {
    if (image.size() + 8 > n) __builtin_trap();
  } else if (image.size() != n || failure.empty()) {
    __builtin_trap();
  }
  return 0;
}
