#include "header/format_value.h"

#include <cstring>

#include "base/charset.h"
#include "base/numbers.h"
#include "base/text.h"
#include "dicom/element.h"
#include "dicom/person_name.h"

namespace velmo {

namespace {

// Byte dumps and texts of overlay values stop here, so a large binary element stays cheap.
constexpr size_t kMaxValueBytes = 1024;

bool ParseHex4(std::string_view text, uint16_t* v) {
  if (text.size() != 4) return false;
  uint16_t r = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return false;
    r = static_cast<uint16_t>((r << 4) | d);
  }
  *v = r;
  return true;
}

std::string_view UpToNul(std::string_view s) {
  const size_t n = s.find('\0');
  return n == std::string_view::npos ? s : s.substr(0, n);
}

void TrimTrailingSpaces(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

std::string HexBytes(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  const size_t n = bytes.size() < kMaxValueBytes ? bytes.size() : kMaxValueBytes;
  s.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = static_cast<uint8_t>(bytes[i]);
    s += kHex[b >> 4];
    s += kHex[b & 15];
    s += ' ';
  }
  return s;
}

// Cuts `out` at the last occurrence of `letter` and appends `word`.
void ReplaceLastLetter(std::string& out, char letter, std::string_view word) {
  const size_t p = out.rfind(letter);
  if (p != std::string::npos) out.resize(p);
  out += word;
}

}  // namespace

std::string FormatDecimalStrings(std::string_view raw) {
  std::string result;
  size_t start = 0;
  bool first = true;
  while (true) {
    const size_t bs = raw.find('\\', start);
    std::string_view v = raw.substr(start, bs == std::string_view::npos ? std::string_view::npos : bs - start);
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    std::string s(v);
    if (s.find('.') != std::string::npos && s.find_first_of("Ee") == std::string::npos) {
      while (!s.empty() && (s.back() == ' ' || s.back() == '0')) s.pop_back();
      if (!s.empty() && s.back() == '.') s.pop_back();
    } else {
      TrimTrailingSpaces(s);
    }
    if (!first) result += "  ";
    result += s;
    first = false;
    if (bs == std::string_view::npos) break;
    start = bs + 1;
  }
  return result;
}

std::string FormatAge(std::string_view raw) {
  if (raw.size() < 4) return std::string(raw);
  const int n = ParseInt(raw.substr(0, 3));
  switch (raw[3]) {
    case 'D': return Format(SJ("%d 日"), n);
    case 'W': return Format(SJ("%d 週"), n);
    case 'M': return Format(SJ("%d ヶ月"), n);
    case 'Y': return Format(SJ("%d 才"), n);
    default: return std::string(raw);
  }
}

bool FormatDate(std::string_view raw, bool japaneseEra, std::string* out) {
  std::string_view y, m, d;
  if (raw.size() == 10 && raw[4] == '.' && raw[7] == '.') {
    y = raw.substr(0, 4), m = raw.substr(5, 2), d = raw.substr(8, 2);
  } else if (raw.size() == 8 || raw.size() == 10) {
    y = raw.substr(0, 4), m = raw.substr(4, 2), d = raw.substr(6, 2);
  } else {
    return false;
  }
  const long long year = ParseInt(y), month = ParseInt(m), day = ParseInt(d);
  const long long D = year * 10000 + month * 100 + day;
  if (D == 0) return false;
  const char* era = nullptr;
  long long shown = year;
  if (japaneseEra) {
    if (D < 18680908) {
    } else if (D <= 19120730) {
      era = "明治", shown = year - 1867;
    } else if (D <= 19261225) {
      era = "大正", shown = year - 1911;
    } else if (D <= 19890107) {
      era = "昭和", shown = year - 1925;
    } else if (D <= 20190430) {
      era = "平成", shown = year - 1988;
    } else if (D >= 20190501) {
      era = "令和", shown = year - 2018;
    }
  }
  if (era)
    *out += SjisFromUtf8(era) + Format(SJ("%d年%d月%d日"), shown, month, day);
  else
    *out += Format(SJ("%d年%d月%d日"), shown, month, day);
  return true;
}

bool FormatTagValue(const DicomImage* image, bool blocked, const Dictionaries& dict, const FormatSettings& settings,
                    std::string_view group, std::string_view element, std::string* out, const Log& log) {
  TagEntry entry;
  LookupTag(dict, group, element, &entry);
  std::string code, flag;
  if (!entry.vr.empty()) LookupVrFlag(dict, entry.vr, &code, &flag);

  if (image == nullptr || !image->loaded || blocked) return false;
  const size_t size = image->headerCopy.size();
  const size_t endOffset = image->headerSize < 0 ? 0 : std::min<size_t>(size, static_cast<size_t>(image->headerSize));
  const size_t beginOffset = image->datasetOffset < 0 ? 0 : static_cast<size_t>(image->datasetOffset);
  if (beginOffset >= endOffset) return false;
  const uint8_t* begin = image->headerCopy.data() + beginOffset;
  const uint8_t* end = image->headerCopy.data() + endOffset;
  const int syntax = image->syntaxType;
  const bool big = syntax == kExplicitBig;

  // Character sets of the data set (top level only).
  std::string_view charsets[5];
  const ElementView cs = FindElement(begin, end, syntax, 0, 0x0008, 0x0005);
  if (!cs.found()) log.Write(SJ("特定文字集合(0008,0005)が無いデータです"), kLogNormal, 2);
  const std::string_view characterSet = cs.found() ? UpToNul(cs.text()) : std::string_view();
  CharacterSetValues(characterSet, charsets);
  const std::string_view firstThree[3] = {charsets[0], charsets[1], charsets[2]};
  int16_t priority[3] = {-1, -1, -1};
  FindNameGroupIndices(firstThree, settings.nameKeywords, priority);

  uint16_t g = 0, e = 0;
  if (!ParseHex4(group, &g) || !ParseHex4(element, &e)) return false;
  const ElementView v = FindElement(begin, end, syntax, 1, g, e);
  if (!v.found()) return false;
  const std::string_view value = v.text();
  const std::string_view rawText = UpToNul(value);

  std::string text;
  if (!flag.empty() && flag != "N") {
    if (code == "PN") {
      std::string groups[3];
      ConvertPersonNameGroups(rawText, characterSet, groups);
      for (std::string& s : groups) s.resize(CutSjis(s, 255).size());
      if (priority[0] == -1 && priority[1] == -1 && priority[2] == -1) {
        text = groups[0];
      } else {
        for (int k = 0; k < 3; ++k) {
          const int p = priority[k];
          if (p >= 0 && p <= 2 && !groups[p].empty()) {
            text = groups[p];
            break;
          }
        }
      }
    } else if (code == "LO" || code == "LT" || code == "SH" || code == "ST" || code == "UT" || code == "UC") {
      Iso2022Options o;
      o.caretToSpace = false;
      text = DicomTextToSjis(rawText.substr(0, std::min(rawText.size(), kMaxValueBytes)), characterSet, o);
      TrimTrailingSpaces(text);
    } else if (code == "DS") {
      text = FormatDecimalStrings(rawText);
    } else if (code == "AS") {
      text = FormatAge(rawText);
    } else if (code == "DA") {
      if (!FormatDate(rawText, settings.japaneseEra, &text)) return false;
    } else {
      text.assign(rawText.substr(0, std::min(rawText.size(), kMaxValueBytes)));
      TrimTrailingSpaces(text);
    }
  } else if (flag == "N") {
    const uint8_t* p = v.value;
    const size_t n = v.available;
    if (code == "AT" || code == "OB" || code == "OW") {
      text = HexBytes(value);
    } else if (code == "UL") {
      if (n >= 4) text = Format("%u", static_cast<unsigned>(Get32(p, big)));
    } else if (code == "FL") {
      if (n >= 4) {
        const uint32_t bits = Get32(p, big);
        float f;
        std::memcpy(&f, &bits, 4);
        text = Format("%.8f", static_cast<double>(f));
      }
    } else if (code == "FD") {
      if (n >= 8) {
        const uint64_t lo = Get32(p, big), hi = Get32(p + 4, big);
        const uint64_t bits = big ? (lo << 32) | hi : (hi << 32) | lo;
        double d;
        std::memcpy(&d, &bits, 8);
        text = Format("%.8f", d);
      }
    } else if (code == "SL") {
      if (n >= 4) text = Format("%d", static_cast<int>(static_cast<int32_t>(Get32(p, big))));
    } else if (code == "SS") {
      for (size_t i = 0; i + 2 <= n; i += 2) text += Format("%d", static_cast<int>(static_cast<int16_t>(Get16(p + i, big))));
    } else if (code == "US") {
      for (size_t i = 0; i + 2 <= n; i += 2) text += Format("%u", static_cast<unsigned>(Get16(p + i, big)));
    }
  } else {
    text = HexBytes(value);
  }

  // Coded values, judged on the raw value.
  if (g == 0x0010 && e == 0x0040) {
    if (rawText.find('M') != std::string_view::npos) ReplaceLastLetter(text, 'M', SJ("男"));
    else if (rawText.find('F') != std::string_view::npos) ReplaceLastLetter(text, 'F', SJ("女"));
    else if (rawText.find('O') != std::string_view::npos) ReplaceLastLetter(text, 'O', SJ("その他"));
  } else if (g == 0x0020 && (e == 0x0060 || e == 0x0062)) {
    if (rawText.find('L') != std::string_view::npos) ReplaceLastLetter(text, 'L', SJ("左"));
    else if (rawText.find('R') != std::string_view::npos) ReplaceLastLetter(text, 'R', SJ("右"));
    else if (rawText.find('B') != std::string_view::npos) ReplaceLastLetter(text, 'B', SJ("左右両方"));
    else if (rawText.find('U') != std::string_view::npos) ReplaceLastLetter(text, 'U', SJ("対でない"));
  } else if (g == 0x0018 && e == 0x1063) {
    const double x = ParseDouble(text);
    if (x > 0) text = Format("%d", static_cast<int>(TruncToInt32(1000.0 / x + 0.5)));
  }
  *out += text;
  return true;
}

}  // namespace velmo
