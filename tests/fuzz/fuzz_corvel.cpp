// Dll_Corvel on arbitrary file images with arbitrary tags, VRs and values: no read
// or write outside the buffers, no leak, and a refusal gives back the same buffer
// with the same bytes. The last 8 input bytes are the arguments (so whole-file seeds
// work unchanged); the bytes before them are the file.
#include <cstdlib>
#include <cstring>
#include <string>

#include "rewrite/corvel.h"

namespace {
const char* const kVrs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO", "LT", "OB",
                            "OD", "OF", "OL", "OV", "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "SV", "TM",
                            "UC", "UI", "UL", "UN", "UR", "US", "UT", "UV", "xx", "A"};
const char* const kNumbers[] = {"0", "512", "-1", "4294967295", "1e308", "1e39", "nan", "0.5", " +7", "",
                                "99999999999999999999999", "-2147483649"};
uint32_t NumericSize(const char* vr) {
  const std::string v(vr);
  if (v == "US" || v == "SS") return 2;
  if (v == "UL" || v == "SL" || v == "FL") return 4;
  if (v == "FD") return 8;
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > 0x7FFFFFF) return 0;
  const size_t n = size - 8;
  const uint8_t* args = data + n;
  const char* vr = kVrs[args[4] % (sizeof kVrs / sizeof kVrs[0])];
  // Tags near those a user edits, or anything.
  int32_t gh = args[0], gl = args[1], eh = args[2], el = args[3];
  if (args[5] & 0x80) { gh = 0; gl = args[1] % 2 ? 0x10 : 0x08; }
  if (args[5] & 0x40) { gh = 0; gl = 2; }

  std::string value;
  uint32_t valueLength = 0;
  const uint32_t numeric = NumericSize(vr);
  if (numeric != 0) {
    value = kNumbers[args[6] % (sizeof kNumbers / sizeof kNumbers[0])];
    valueLength = (args[5] & 0x20) ? args[7] % 10 : numeric;
  } else {
    valueLength = (args[5] & 0x1F) * 2u + (args[6] & 1);
    value.assign(valueLength, static_cast<char>(args[7]));
  }

  auto* buffer = static_cast<unsigned char*>(std::malloc(n ? n : 1));
  if (!buffer) return 0;
  if (n) std::memcpy(buffer, data, n);
  uint32_t length = static_cast<uint32_t>(n);
  unsigned char* out = Dll_Corvel(buffer, &length, gh, gl, eh, el, vr, valueLength, value.data());
  if (out == nullptr) __builtin_trap();
  if (length > n + 12 + valueLength) __builtin_trap();
  // Touch every byte so the sanitizer checks the reported length.
  volatile uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + out[i]);
  std::free(out);
  return 0;
}
