#include "jis_text.h"

#include <cstdint>
#include <stdexcept>

namespace velmo_sample {
namespace {

// JIS X 0208 codes (row and cell each plus 0x20) of the characters the sample
// study uses. Checked against iconv's ISO-2022-JP output by the sample test.
struct JisChar {
  std::string_view utf8;
  uint16_t jis;
};
constexpr JisChar kTable[] = {
    {"佐", 0x3A34}, {"藤", 0x4623}, {"花", 0x3256}, {"子", 0x3B52}, {"さ", 0x2435},
    {"と", 0x2448}, {"う", 0x2426}, {"は", 0x244F}, {"な", 0x244A}, {"こ", 0x2433},
    {"体", 0x424E}, {"幹", 0x3434}, {"部", 0x4974}, {"フ", 0x2555}, {"ァ", 0x2521},
    {"ン", 0x2573}, {"ト", 0x2548}, {"ム", 0x2560}, {"胸", 0x363B}, {"腹", 0x4A22},
    {"動", 0x4630}, {"画", 0x3268}, {"カ", 0x252B}, {"ラ", 0x2569}, {"ー", 0x213C},
    {"円", 0x315F}, {"板", 0x4844}, {"色", 0x3F27}, {"相", 0x416A}, {"環", 0x3444},
    {"山", 0x3B33}, {"田", 0x4544}, {"病", 0x4942}, {"院", 0x3121},
};

size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

}  // namespace

std::string ToIso2022Jp(std::string_view utf8) {
  std::string out;
  bool kanji = false;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t n = Utf8Length(static_cast<unsigned char>(utf8[i]));
    if (n == 0 || i + n > utf8.size()) throw std::invalid_argument("bad UTF-8 in sample text");
    std::string_view ch = utf8.substr(i, n);
    i += n;
    if (n == 1) {
      if (kanji) out += "\x1B(B";
      kanji = false;
      out += ch;
      continue;
    }
    const JisChar* found = nullptr;
    for (const auto& c : kTable)
      if (c.utf8 == ch) found = &c;
    if (!found) throw std::invalid_argument("character missing from the sample's JIS table");
    if (!kanji) out += "\x1B$B";
    kanji = true;
    out += static_cast<char>(found->jis >> 8);
    out += static_cast<char>(found->jis & 0xFF);
  }
  if (kanji) out += "\x1B(B";
  return out;
}

}  // namespace velmo_sample
