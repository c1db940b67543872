// Dll_SendPtrFind on arbitrary streams: no read outside the buffer; a non-zero result
// is the offset of an element outside group 0002 inside a stream that starts with it.
#include <cstring>
#include <memory>

#include "scanner/sifton.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int32_t third = static_cast<int8_t>(data[0]);
  const size_t n = size - 1;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[n ? n : 1]);
  if (n) std::memcpy(buffer.get(), data + 1, n);
  const uint8_t* b = buffer.get();
  const int32_t r = Dll_SendPtrFind(b, static_cast<int32_t>(n), third);
  if (r < 0 || (r > 0 && static_cast<size_t>(r) >= n)) __builtin_trap();
  if (r > 0) {
    if (b[0] != 0x02 || b[1] != 0x00) __builtin_trap();
    if (static_cast<size_t>(r) + 2 <= n && b[r] == 0x02 && b[r + 1] == 0x00) __builtin_trap();
  }
  return 0;
}
