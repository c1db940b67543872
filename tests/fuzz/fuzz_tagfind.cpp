// Dll_DcmTagFind on arbitrary streams: no read outside the buffer, and a result is
// always a tag inside it that equals the one asked for.
#include "fuzz_input.h"
#include "scanner/sifton.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmo::fuzz::ScanInput in;
  if (!velmo::fuzz::SplitScanInput(data, size, in)) return 0;
  const uint8_t* b = in.buffer.get();
  const uint32_t n = static_cast<uint32_t>(in.size);
  const unsigned char* p = Dll_DcmTagFind(b, n, in.syntax, in.mode, in.tag[0], in.tag[1], in.tag[2], in.tag[3]);
  if (p == nullptr) return 0;
  if (in.mode > 1 || p < b || p + 4 > b + n) __builtin_trap();
  uint16_t group, element;
  velmo::fuzz::TagAt(p, in.syntax, group, element);
  if (group != (in.tag[0] << 8 | in.tag[1]) || element != (in.tag[2] << 8 | in.tag[3])) __builtin_trap();
  // The walk up to a match reads nothing past the matched tag, so the same search
  // over the buffer cut just after that tag gives the same element.
  const uint32_t cut = static_cast<uint32_t>(p - b) + 4;
  if (Dll_DcmTagFind(b, cut, in.syntax, in.mode, in.tag[0], in.tag[1], in.tag[2], in.tag[3]) != p) {
    __builtin_trap();
  }
  return 0;
}
