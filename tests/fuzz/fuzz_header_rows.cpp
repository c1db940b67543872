// The header-row builder and the overlay value formatter on arbitrary bytes, in the
// three encodings, with a small dictionary: no read outside the buffer (the input is
// copied into an exactly sized allocation), and every row holds only bounded texts.
#include <cstdlib>
#include <string>
#include <vector>

#include "header/dictionary.h"
#include "header/format_value.h"
#include "header/header_rows.h"

namespace {

const velmo::Dictionaries& Dictionary() {
  static const velmo::Dictionaries d = [] {
    velmo::Dictionaries x;
    x.tags.bytes =
        "0008,0005,cs,Specific Character Set,CS,1-n\r\n0008,1140,seq,Referenced Image Sequence,SQ,1\r\n"
        "0010,0010,pn,Patient's Name,PN,1\r\n0010,1010,as,Age,AS,1\r\n0008,0020,da,Date,DA,1\r\n"
        "0018,0050,ds,Thickness,DS,1\r\n0028,0010,us,Rows,US,1\r\n0018,9306,fd,Width,FD,1\r\n"
        "0028,1201,lut,LUT,US or OW,1\r\n0020,0032,ds,Position,DS,3\r\n";
    x.vrs.bytes = "CS,,,A\r\nSQ,,,N\r\nPN,,,A\r\nAS,,,A\r\nDA,,,A\r\nDS,,,A\r\nUS,,,N\r\nFD,,,N\r\nOW,,,N\r\n";
    velmo::IndexDictionaries(x);
    return x;
  }();
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int syntax = data[0] % 3;
  const bool flags = data[1] & 1;
  std::vector<uint8_t> bytes(data + 2, data + size);
  bytes.shrink_to_fit();
  velmo::HeaderOptions o;
  o.english = flags;
  o.binary = (data[1] & 2) != 0;
  const auto rows = velmo::BuildHeaderRows(bytes.data(), bytes.size(), 0, static_cast<int64_t>(bytes.size()) + (data[1] >> 4),
                                           syntax, Dictionary(), o);
  for (const auto& r : rows)
    if (r.group.size() != 4 || r.element.size() != 4 || r.value.size() > 70000) abort();

  velmo::DicomImage im;
  im.headerCopy = bytes;
  im.headerCopy.shrink_to_fit();
  im.headerSize = static_cast<int32_t>(bytes.size());
  im.syntaxType = static_cast<int16_t>(syntax);
  im.loaded = 1;
  velmo::FormatSettings s;
  s.japaneseEra = flags;
  s.nameKeywords[0] = "IR 87";
  static const char* const kTags[][2] = {{"0010", "0010"}, {"0010", "1010"}, {"0008", "0020"}, {"0018", "0050"},
                                         {"0028", "0010"}, {"0018", "9306"}, {"0028", "1201"}, {"0010", "0040"},
                                         {"0018", "1063"}, {"0020", "0032"}};
  for (const auto& t : kTags) {
    std::string out;
    velmo::FormatTagValue(&im, false, Dictionary(), s, t[0], t[1], &out);
  }
  velmo::HeaderText(rows, flags);
  return 0;
}
