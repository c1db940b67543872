#include "base/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace velmo {

namespace {

// Single-byte sets: the defined term, its ISO 2022 form, the final byte of the escape
// sequence (ESC - F) that puts it into G1, and iconv's name.
struct SingleByteSet {
  const char* term;
  const char* isoTerm;
  char final;
  const char* iconvName;
};
constexpr SingleByteSet kSingleByteSets[] = {
    {"ISO_IR 100", "ISO 2022 IR 100", 'A', "ISO-8859-1"}, {"ISO_IR 101", "ISO 2022 IR 101", 'B', "ISO-8859-2"},
    {"ISO_IR 109", "ISO 2022 IR 109", 'C', "ISO-8859-3"}, {"ISO_IR 110", "ISO 2022 IR 110", 'D', "ISO-8859-4"},
    {"ISO_IR 144", "ISO 2022 IR 144", 'L', "ISO-8859-5"}, {"ISO_IR 127", "ISO 2022 IR 127", 'G', "ISO-8859-6"},
    {"ISO_IR 126", "ISO 2022 IR 126", 'F', "ISO-8859-7"}, {"ISO_IR 138", "ISO 2022 IR 138", 'H', "ISO-8859-8"},
    {"ISO_IR 148", "ISO 2022 IR 148", 'M', "ISO-8859-9"}, {"ISO_IR 203", "ISO 2022 IR 203", 'b', "ISO-8859-15"},
    {"ISO_IR 166", "ISO 2022 IR 166", 'T', "TIS-620"},
};
// ISO 2022 two-byte sets put into G1 by ESC $ ) F, read as their EUC forms.
struct MultiByteSet {
  const char* isoTerm;
  char final;
  const char* iconvName;
};
constexpr MultiByteSet kMultiByteSets[] = {{"ISO 2022 IR 149", 'C', "EUC-KR"}, {"ISO 2022 IR 58", 'A', "EUC-CN"}};
// Sets that encode the whole text (no code extensions).
struct WholeTextSet {
  const char* term;
  const char* iconvName;
};
constexpr WholeTextSet kWholeTextSets[] = {{"ISO_IR 192", "UTF-8"}, {"GB18030", "GB18030"}, {"GBK", "GBK"}};

// A term without surrounding spaces or NULs; "ISO-IR" (a frequent misspelling) reads as
// "ISO_IR".
std::string Normalise(std::string_view term) {
  while (!term.empty() && (term.front() == ' ' || term.front() == '\0')) term.remove_prefix(1);
  while (!term.empty() && (term.back() == ' ' || term.back() == '\0')) term.remove_suffix(1);
  std::string t(term);
  if (t.compare(0, 7, "ISO-IR ") == 0) t[3] = '_';
  return t;
}

int SplitTerms(std::string_view value, std::string terms[5]) {
  int n = 0;
  size_t start = 0;
  while (n < 5) {
    const size_t bs = value.find('\\', start);
    terms[n++] = Normalise(value.substr(start, bs == std::string_view::npos ? std::string_view::npos : bs - start));
    if (bs == std::string_view::npos) break;
    start = bs + 1;
  }
  return n;
}

const SingleByteSet* FindSingle(const std::string& t) {
  for (const auto& s : kSingleByteSets)
    if (t == s.term || t == s.isoTerm) return &s;
  return nullptr;
}
const MultiByteSet* FindMulti(const std::string& t) {
  for (const auto& s : kMultiByteSets)
    if (t == s.isoTerm) return &s;
  return nullptr;
}
const WholeTextSet* FindWhole(const std::string& t) {
  for (const auto& s : kWholeTextSets)
    if (t == s.term) return &s;
  return nullptr;
}

// iconv descriptors per thread and source set (they carry state).
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() { return cd_; }

 private:
  iconv_t cd_;
};

Iconv& ToUtf32(const char* from) {
  thread_local std::map<std::string, std::unique_ptr<Iconv>> converters;
  auto& slot = converters[from];
  if (!slot) slot = std::make_unique<Iconv>("UTF-32LE", from);
  return *slot;
}

// Decodes [p, p + n) from `charset` into code points; an undecodable byte becomes
// U+FFFD and decoding goes on with the next byte.
std::u32string Decode(const char* charset, const uint8_t* p, size_t n) {
  std::u32string out;
  Iconv& c = ToUtf32(charset);
  if (!c.ok()) return std::u32string(n, U'\uFFFD');
  iconv(c.get(), nullptr, nullptr, nullptr, nullptr);
  char* src = const_cast<char*>(reinterpret_cast<const char*>(p));
  size_t left = n;
  char32_t buffer[256];
  while (left > 0) {
    char* dst = reinterpret_cast<char*>(buffer);
    size_t room = sizeof buffer;
    const size_t r = iconv(c.get(), &src, &left, &dst, &room);
    const size_t produced = (sizeof buffer - room) / sizeof(char32_t);
    out.append(buffer, produced);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // An invalid or cut-off sequence: one replacement, skip one byte, start afresh.
      out.push_back(U'\uFFFD');
      ++src;
      --left;
      iconv(c.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

// Accented Latin letters (U+00C0 .. U+017F) without their accents; "" for others.
std::string FoldLatin(char32_t cp) {
  static const char* const kLatin1[64] = {
      "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I",   // C0
      "D", "N", "O", "O", "O", "O", "O", "x", "O", "U", "U", "U", "U", "Y", "TH", "ss",  // D0
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",   // E0
      "d", "n", "o", "o", "o", "o", "o", "/", "o", "u", "u", "u", "u", "y", "th", "y",   // F0
  };
  // Latin Extended-A: the base letter of each code point from U+0100.
  static const char kExtendedA[] =
      "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi"  // 0100 .. 0131
      "??JjKkkLlLlLlLlLlNnNnNnnNnOoOoOo??RrRrRrSsSsSsSsTt"  // 0132 .. 0163
      "TtTtUuUuUuUuUuUuWwYyYZzZzZzs";                       // 0164 .. 017F
  static_assert(sizeof kExtendedA == 0x80 + 1);
  if (cp >= 0xC0 && cp <= 0xFF) return kLatin1[cp - 0xC0];
  if (cp == 0x132) return "IJ";
  if (cp == 0x133) return "ij";
  if (cp == 0x152) return "OE";
  if (cp == 0x153) return "oe";
  if (cp >= 0x100 && cp <= 0x17F) return std::string(1, kExtendedA[cp - 0x100]);
  return "";
}

// Appends one code point in Shift-JIS: ASCII as it is ("^" and "," as the options
// say), what code page 932 has in its form, accented Latin letters without accents,
// anything else as "?".
void AppendCodePoint(std::string& out, char32_t cp, const Iso2022Options& options) {
  if (cp < 0x80) {
    char c = static_cast<char>(cp);
    if ((c == '^' && options.caretToSpace) || (c == ',' && options.commaToSpace)) c = ' ';
    out += c;
    return;
  }
  thread_local Iconv toSjis("CP932", "UTF-32LE");
  if (toSjis.ok() && cp != 0xFFFD) {
    char32_t in = cp;
    char bytes[8];
    char* src = reinterpret_cast<char*>(&in);
    size_t left = sizeof in;
    char* dst = bytes;
    size_t room = sizeof bytes;
    iconv(toSjis.get(), nullptr, nullptr, nullptr, nullptr);
    if (iconv(toSjis.get(), &src, &left, &dst, &room) != static_cast<size_t>(-1) && left == 0) {
      out.append(bytes, dst);
      return;
    }
  }
  if (const std::string folded = FoldLatin(cp); !folded.empty()) {
    out += folded;
    return;
  }
  out += '?';
}

void AppendDecoded(std::string& out, const char* charset, const uint8_t* p, size_t n, const Iso2022Options& options) {
  for (char32_t cp : Decode(charset, p, n)) AppendCodePoint(out, cp, options);
}

// What G1 (the bytes from 0x80) holds in an ISO 2022 text.
struct G1 {
  enum Kind { kNone, kSingle, kMulti, kKatakana } kind = kNone;
  const char* iconvName = nullptr;
};

G1 InitialG1(const std::string& first) {
  if (const SingleByteSet* s = FindSingle(first)) return {G1::kSingle, s->iconvName};
  if (const MultiByteSet* m = FindMulti(first)) return {G1::kMulti, m->iconvName};
  if (first == "ISO_IR 13" || first == "ISO 2022 IR 13") return {G1::kKatakana, nullptr};
  return {};
}

// Text with ISO 2022 code extensions that mixes the Japanese sets with others:
// Japanese runs (ESC $ B, ESC $ @, ESC $ ( D up to the next escape) are converted by
// Iso2022ToSjis, the rest byte by byte through the set in G1.
std::string ConvertSegments(std::string_view text, const std::string& first, const Iso2022Options& options) {
  std::string out;
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  G1 g1 = InitialG1(first);
  size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    if (b == 0x1B) {
      const std::string_view rest = text.substr(i + 1);
      if (rest.substr(0, 2) == "$B" || rest.substr(0, 2) == "$@" || rest.substr(0, 3) == "$(D") {
        size_t end = text.find('\x1B', i + 1);
        if (end == std::string_view::npos) end = n;
        out += Iso2022ToSjis(text.substr(i, end - i), options);
        i = end;
        continue;
      }
      if (rest.substr(0, 2) == "(B" || rest.substr(0, 2) == "(J") {
        i += 3;
      } else if (rest.substr(0, 2) == ")I") {
        g1 = {G1::kKatakana, nullptr};
        i += 3;
      } else if (rest.size() >= 2 && rest[0] == '-') {
        g1 = {};
        for (const auto& s : kSingleByteSets)
          if (s.final == rest[1]) g1 = {G1::kSingle, s.iconvName};
        i += 3;
      } else if (rest.size() >= 3 && rest[0] == '$' && rest[1] == ')') {
        g1 = {};
        for (const auto& m : kMultiByteSets)
          if (m.final == rest[2]) g1 = {G1::kMulti, m.iconvName};
        i += 4;
      } else {
        ++i;  // an escape Velmo does not know: dropped
      }
      continue;
    }
    if (b < 0x80) {
      AppendCodePoint(out, b, options);
      ++i;
    } else if (g1.kind == G1::kSingle) {
      AppendDecoded(out, g1.iconvName, p + i, 1, options);
      ++i;
    } else if (g1.kind == G1::kMulti && i + 1 < n && p[i + 1] >= 0xA1) {
      AppendDecoded(out, g1.iconvName, p + i, 2, options);
      i += 2;
    } else if (g1.kind == G1::kKatakana && b >= 0xA1 && b <= 0xDF) {
      out += static_cast<char>(b);  // half-width katakana: the same byte in Shift-JIS
      ++i;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

}  // namespace

bool IsJapaneseOrDefaultCharacterSet(std::string_view value) {
  std::string terms[5];
  const int n = SplitTerms(value, terms);
  for (int k = 0; k < n; ++k)
    if (FindSingle(terms[k]) || FindMulti(terms[k]) || FindWhole(terms[k])) return false;
  return true;
}

std::string DicomTextToSjis(std::string_view text, std::string_view specificCharacterSet,
                            const Iso2022Options& options) {
  std::string terms[5];
  const int n = SplitTerms(specificCharacterSet, terms);
  for (int k = 0; k < n; ++k) {
    if (const WholeTextSet* w = FindWhole(terms[k])) {
      std::string out;
      AppendDecoded(out, w->iconvName, reinterpret_cast<const uint8_t*>(text.data()), text.size(), options);
      return out;
    }
  }
  if (IsJapaneseOrDefaultCharacterSet(specificCharacterSet)) return Iso2022ToSjis(text, options);
  return ConvertSegments(text, terms[0], options);
}

}  // namespace velmo
