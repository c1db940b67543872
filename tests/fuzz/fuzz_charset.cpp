// Text conversion under arbitrary Specific Character Set values: byte 0 picks one of
// the known values (or, above their count, takes the next bytes up to a NUL as the
// value); the rest is the text. Every input must convert without a crash or a read
// outside the text.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/charset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kSets[] = {
      "",           "ISO_IR 100", "ISO_IR 144",      "ISO_IR 126", "ISO_IR 192",       "GB18030", "GBK",
      "ISO_IR 13",  "\\ISO 2022 IR 87", "\\ISO 2022 IR 149", "\\ISO 2022 IR 58",
      "ISO 2022 IR 100\\ISO 2022 IR 87", "ISO 2022 IR 13\\ISO 2022 IR 87\\ISO 2022 IR 149"};
  constexpr size_t kCount = sizeof kSets / sizeof kSets[0];
  if (size < 1) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view sets, text = rest;
  if (data[0] < kCount) {
    sets = kSets[data[0]];
  } else {
    const size_t nul = rest.find('\0');
    sets = rest.substr(0, nul);
    text = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
  }
  velmo::Iso2022Options options;
  options.caretToSpace = data[0] & 1;
  const std::string out = velmo::DicomTextToSjis(text, sets, options);
  (void)velmo::CutSjis(out, out.size() / 2);
  return 0;
}
