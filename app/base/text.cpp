#include "base/text.h"

#include <errno.h>
#include <iconv.h>

#include <memory>
#include <mutex>
#include <unordered_map>

namespace velmo {

namespace {

// One converter per thread and direction: iconv descriptors carry state and are
// not safe to share, and opening one per call is needlessly slow.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }
  // Converts as much of [in, in+len) as possible, appending to out. Returns the
  // number of input bytes consumed; stops at the first byte it cannot convert.
  size_t Convert(const char* in, size_t len, std::string& out) {
    char* src = const_cast<char*>(in);
    size_t left = len;
    char buf[1024];
    while (left > 0) {
      char* dst = buf;
      size_t room = sizeof(buf);
      size_t r = iconv(cd_, &src, &left, &dst, &room);
      out.append(buf, static_cast<size_t>(dst - buf));
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        break;  // EILSEQ or EINVAL: the caller handles the offending byte(s)
      }
    }
    // Flush any shift state.
    char* dst = buf;
    size_t room = sizeof(buf);
    iconv(cd_, nullptr, nullptr, &dst, &room);
    out.append(buf, static_cast<size_t>(dst - buf));
    return len - left;
  }

 private:
  iconv_t cd_;
};

Converter& ToSjis() {
  thread_local Converter c("CP932", "UTF-8");
  return c;
}
Converter& FromSjis() {
  thread_local Converter c("UTF-8", "CP932");
  return c;
}

// Length of the UTF-8 sequence that starts with b (1 for a stray byte).
size_t Utf8SequenceLength(const char* p, size_t left) {
  const uint8_t b = static_cast<uint8_t>(p[0]);
  size_t n = 1;
  if (b >= 0xF0 && b <= 0xF4) n = 4;
  else if (b >= 0xE0) n = 3;
  else if (b >= 0xC2 && b <= 0xDF) n = 2;
  if (n > left) return 1;
  for (size_t i = 1; i < n; ++i) {
    if ((static_cast<uint8_t>(p[i]) & 0xC0) != 0x80) return 1;
  }
  return n;
}

}  // namespace

std::string SjisFromUtf8(std::string_view utf8, bool* ok) {
  if (ok) *ok = true;
  std::string out;
  out.reserve(utf8.size());
  Converter& c = ToSjis();
  if (!c.ok()) {  // no CP932 converter: keep ASCII, replace the rest
    for (size_t i = 0; i < utf8.size();) {
      if (static_cast<uint8_t>(utf8[i]) < 0x80) { out += utf8[i++]; continue; }
      i += Utf8SequenceLength(utf8.data() + i, utf8.size() - i);
      out += '?';
      if (ok) *ok = false;
    }
    return out;
  }
  c.Reset();
  size_t pos = 0;
  while (pos < utf8.size()) {
    pos += c.Convert(utf8.data() + pos, utf8.size() - pos, out);
    if (pos >= utf8.size()) break;
    // A character CP932 cannot represent, or malformed UTF-8: one '?' per character.
    pos += Utf8SequenceLength(utf8.data() + pos, utf8.size() - pos);
    out += '?';
    if (ok) *ok = false;
    c.Reset();
  }
  return out;
}

std::string SjisOrEmpty(std::string_view utf8) {
  bool ok = true;
  std::string sjis = SjisFromUtf8(utf8, &ok);
  return ok ? sjis : std::string();
}

std::string Utf8FromSjis(std::string_view sjis) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
  std::string out;
  out.reserve(sjis.size() * 3 / 2);
  Converter& c = FromSjis();
  if (!c.ok()) {
    for (char ch : sjis) {
      if (static_cast<uint8_t>(ch) < 0x80) out += ch; else out += kReplacement;
    }
    return out;
  }
  c.Reset();
  size_t pos = 0;
  while (pos < sjis.size()) {
    pos += c.Convert(sjis.data() + pos, sjis.size() - pos, out);
    if (pos >= sjis.size()) break;
    // Undecodable byte (or a lead byte cut off at the end): replace that one byte
    // and carry on with the next.
    out += kReplacement;
    ++pos;
    c.Reset();
  }
  return out;
}

void JisToSjis(uint8_t j1, uint8_t j2, uint8_t* s1, uint8_t* s2) {
  *s1 = static_cast<uint8_t>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
  if (j1 & 1) {
    *s2 = static_cast<uint8_t>(j2 + (j2 >= 0x60 ? 0x20 : 0x1F));
  } else {
    *s2 = static_cast<uint8_t>(j2 + 0x7E);
  }
}

bool SjisToJis(uint8_t s1, uint8_t s2, uint8_t* j1, uint8_t* j2) {
  const bool leadOk = (s1 >= 0x81 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xEF);
  const bool trailOk = (s2 >= 0x40 && s2 <= 0x7E) || (s2 >= 0x80 && s2 <= 0xFC);
  if (!leadOk || !trailOk) return false;
  int row = (s1 - (s1 <= 0x9F ? 0x70 : 0xB0)) * 2;
  int cell;
  if (s2 < 0x9F) {
    row -= 1;
    cell = s2 - (s2 >= 0x80 ? 0x20 : 0x1F);
  } else {
    cell = s2 - 0x7E;
  }
  *j1 = static_cast<uint8_t>(row);
  *j2 = static_cast<uint8_t>(cell);
  return true;
}

namespace {

enum class Escape { None, Unknown, OpenJis0208, OpenJis0212, Close };

// Classifies the escape sequence at text[i] (text[i] is ESC).
Escape ClassifyEscape(std::string_view text, size_t i) {
  if (i + 2 >= text.size()) return Escape::Unknown;
  const uint8_t a = static_cast<uint8_t>(text[i + 1]);
  const uint8_t b = static_cast<uint8_t>(text[i + 2]);
  if (a == 0x24 && (b == 0x40 || b == 0x42)) return Escape::OpenJis0208;
  if (a == 0x24 && b == 0x44) return Escape::OpenJis0212;
  if (a == 0x28 && (b == 0x42 || b == 0x4A || b == 0x49)) return Escape::Close;
  if (a == 0x29 && b == 0x49) return Escape::Close;
  return Escape::Unknown;
}

}  // namespace

std::string Iso2022ToSjis(std::string_view text, const Iso2022Options& options) {
  std::string out;
  out.reserve(text.size());
  enum { kSingle, kJis0208, kJis0212 } mode = kSingle;
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (b == 0x1B) {
      switch (ClassifyEscape(text, i)) {
        case Escape::OpenJis0208: mode = kJis0208; i += 3; continue;
        case Escape::OpenJis0212: mode = options.jisX0212AsGeta ? kJis0212 : kJis0208; i += 3; continue;
        case Escape::Close: mode = kSingle; i += 3; continue;
        default: ++i; continue;  // an unknown sequence: only the ESC byte is dropped
      }
    }
    if (mode == kSingle) {
      if (b == '^' && options.caretToSpace) out += ' ';
      else if (b == ',' && options.commaToSpace) out += ' ';
      else out += static_cast<char>(b);
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) {  // a lone last byte is copied
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    const uint8_t b2 = static_cast<uint8_t>(text[i + 1]);
    if (b >= 0x21 && b <= 0x7E) {
      if (mode == kJis0212) {
        out += "\x81\xAC";  // geta mark: JIS X 0212 has no Shift-JIS form
      } else {
        uint8_t s1, s2;
        JisToSjis(b, b2, &s1, &s2);
        out += static_cast<char>(s1);
        out += static_cast<char>(s2);
      }
    } else {
      out += static_cast<char>(b);
      out += static_cast<char>(b2);
    }
    i += 2;
  }
  return out;
}

int SplitPersonNameGroups(std::string_view text, std::string groups[3]) {
  for (int g = 0; g < 3; ++g) groups[g].clear();
  if (text.empty()) return 0;
  int g = 0;
  bool twoByte = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (b == 0x1B) {
      const Escape e = ClassifyEscape(text, i);
      if (e == Escape::OpenJis0208 || e == Escape::OpenJis0212) twoByte = true;
      else if (e == Escape::Close) twoByte = false;
    } else if (b == '=' && !twoByte) {
      if (++g == 3) return 3;  // a fourth group is not kept
      continue;
    }
    groups[g] += static_cast<char>(b);
  }
  return g + 1;
}

namespace detail {
const std::string& InternSjis(const char* utf8) {
  static std::mutex mu;
  static std::unordered_map<const char*, std::unique_ptr<std::string>> cache;
  std::lock_guard<std::mutex> lock(mu);
  auto& slot = cache[utf8];
  if (!slot) slot = std::make_unique<std::string>(SjisFromUtf8(utf8));
  return *slot;
}
}  // namespace detail

std::string_view CutSjis(std::string_view text, size_t width) {
  if (text.size() <= width) return text;
  size_t i = 0;
  while (i < width) {
    const size_t step = IsSjisLeadByte(static_cast<uint8_t>(text[i])) ? 2 : 1;
    if (i + step > width) break;
    i += step;
  }
  return text.substr(0, i);
}

int SplitBackslashValues(std::string_view value, std::string_view* out, int slots, size_t width) {
  for (int i = 0; i < slots; ++i) out[i] = {};
  int n = 0;
  size_t start = 0;
  while (n < slots) {
    const size_t slash = value.find('\\', start);
    const std::string_view v = value.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    out[n++] = v.substr(0, width);
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return n;
}

}  // namespace velmo
