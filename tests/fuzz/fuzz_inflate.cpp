// Inflation of a deflated data set on arbitrary bytes: byte 0 picks how many of the
// following bytes stand before the data set; the buffer holds exactly the input.
#include <cstdint>
#include <vector>

#include "dicom/deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::vector<uint8_t> buffer(data + 1, data + size);
  const size_t offset = data[0] % 8;
  uint64_t length = buffer.size();
  if (velmo::InflateDataset(buffer, offset, &length) == velmo::InflateResult::kOk) {
    if (length > buffer.size()) __builtin_trap();
  } else if (length != size - 1) {
    __builtin_trap();
  }
  return 0;
}
