// Dll_DcmTagPosition on arbitrary streams: no read outside the buffer, and a result
// is an element whose tag sorts at or after the target.
#include "fuzz_input.h"
#include "scanner/sifton.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmo::fuzz::ScanInput in;
  if (!velmo::fuzz::SplitScanInput(data, size, in)) return 0;
  const uint8_t* b = in.buffer.get();
  const int32_t n = static_cast<int32_t>(in.size);
  const unsigned char* p = Dll_DcmTagPosition(b, n, in.syntax, in.mode, in.tag[0], in.tag[1], in.tag[2], in.tag[3]);
  if (p == nullptr) return 0;
  if (p < b || p + 4 > b + n) __builtin_trap();
  uint16_t group, element;
  velmo::fuzz::TagAt(p, in.syntax, group, element);
  const uint16_t targetGroup = static_cast<uint16_t>(in.tag[0] << 8 | in.tag[1]);
  const uint16_t targetElement = static_cast<uint16_t>(in.tag[2] << 8 | in.tag[3]);
  const bool atOrAfter =
      (group == targetGroup && element >= targetElement) || (group != 0xFFFE && group > targetGroup);
  if (!atOrAfter) __builtin_trap();
  return 0;
}
