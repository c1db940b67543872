#include "base/numbers.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <system_error>

namespace velmo {

namespace {
bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
}  // namespace

int32_t ParseInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;  // saturated
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

double ParseDouble(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  if (i < text.size() && text[i] == '+') {
    ++i;
    if (i < text.size() && text[i] == '-') return 0;  // "+-1" is no number
  }
  double value = 0;
  auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value,
                                   std::chars_format::general);
  (void)ptr;
  if (ec != std::errc() || !std::isfinite(value)) return 0;
  return value;
}

int32_t TruncToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

namespace {

struct Conversion {
  bool left = false, zero = false, space = false, plus = false;
  int width = 0;
  int precision = -1;
  char conv = 0;
};

void Pad(std::string& out, const Conversion& sp, std::string_view sign, std::string_view body) {
  const size_t len = sign.size() + body.size();
  const size_t fill = sp.width > 0 && static_cast<size_t>(sp.width) > len ? sp.width - len : 0;
  if (sp.left) {
    out += sign; out += body; out.append(fill, ' ');
  } else if (sp.zero) {
    out += sign; out.append(fill, '0'); out += body;
  } else {
    out.append(fill, ' '); out += sign; out += body;
  }
}

std::string_view SignOf(bool negative, const Conversion& sp) {
  if (negative) return "-";
  if (sp.plus) return "+";
  if (sp.space) return " ";
  return "";
}

long long AsSigned(const FormatArg& a) {
  switch (a.kind_) {
    case FormatArg::kInt: return a.i_;
    case FormatArg::kUInt: return static_cast<long long>(a.u_);
    case FormatArg::kDouble: return TruncToInt32(a.d_);
    case FormatArg::kStr: return ParseInt(a.s_);
  }
  return 0;
}

unsigned long long AsUnsigned(const FormatArg& a) {
  if (a.kind_ == FormatArg::kUInt) return a.u_;
  const long long v = AsSigned(a);
  // A negative int prints as its 32-bit two's complement, as printf does.
  if (v < 0 && v >= INT32_MIN) return static_cast<uint32_t>(static_cast<int32_t>(v));
  return static_cast<unsigned long long>(v);
}

double AsDouble(const FormatArg& a) {
  switch (a.kind_) {
    case FormatArg::kInt: return static_cast<double>(a.i_);
    case FormatArg::kUInt: return static_cast<double>(a.u_);
    case FormatArg::kDouble: return a.d_;
    case FormatArg::kStr: return ParseDouble(a.s_);
  }
  return 0;
}

void FormatInteger(std::string& out, const Conversion& sp, bool negative, unsigned long long magnitude, int base,
                   bool upper) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof(buf), magnitude, base);
  std::string digits(buf, r.ptr);
  if (upper) {
    for (char& c : digits) if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  Conversion s = sp;
  if (sp.precision >= 0) {
    s.zero = false;
    if (sp.precision == 0 && magnitude == 0) digits.clear();
    if (digits.size() < static_cast<size_t>(sp.precision)) digits.insert(0, sp.precision - digits.size(), '0');
  }
  Pad(out, s, base == 10 ? SignOf(negative, sp) : "", digits);
}


void FormatDouble(std::string& out, const Conversion& sp, double v) {
  const bool negative = std::signbit(v) && !std::isnan(v);
  const double mag = std::fabs(v);
  std::string body;
  Conversion s = sp;
  if (!std::isfinite(mag)) {
    body.assign(std::isnan(mag) ? std::string_view("nan") : std::string_view("inf"));
    s.zero = false;
  } else {
    char buf[400];
    std::chars_format fmt = std::chars_format::fixed;
    if (sp.conv == 'e' || sp.conv == 'E') fmt = std::chars_format::scientific;
    if (sp.conv == 'g' || sp.conv == 'G') fmt = std::chars_format::general;
    int precision = sp.precision < 0 ? 6 : sp.precision;
    if ((sp.conv == 'g' || sp.conv == 'G') && precision == 0) precision = 1;
    if (precision > 300) precision = 300;
    auto r = std::to_chars(buf, buf + sizeof(buf), mag, fmt, precision);
    if (r.ec != std::errc()) {
      body.assign(1, '0');
    } else {
      body.assign(buf, r.ptr);
    }
  }
  if (sp.conv == 'E' || sp.conv == 'G') {
    for (char& c : body) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  Pad(out, s, SignOf(negative, sp), body);
}

}  // namespace

std::string FormatV(std::string_view fmt, const FormatArg* args, size_t count) {
  std::string out;
  out.reserve(fmt.size() + 16);
  size_t next = 0;
  const FormatArg empty(std::string_view{});
  auto take = [&]() -> const FormatArg& { return next < count ? args[next++] : empty; };
  for (size_t i = 0; i < fmt.size(); ++i) {
    const char c = fmt[i];
    if (c != '%') { out += c; continue; }
    const size_t start = i++;
    if (i >= fmt.size()) { out += '%'; break; }
    if (fmt[i] == '%') { out += '%'; continue; }
    Conversion sp;
    for (; i < fmt.size(); ++i) {
      const char f = fmt[i];
      if (f == '-') sp.left = true;
      else if (f == '0') sp.zero = true;
      else if (f == ' ') sp.space = true;
      else if (f == '+') sp.plus = true;
      else if (f == '#') {}
      else break;
    }
    if (i < fmt.size() && fmt[i] == '*') {
      const long long w = AsSigned(take());
      if (w < 0) { sp.left = true; sp.width = static_cast<int>(w < -4096 ? 4096 : -w); }
      else sp.width = static_cast<int>(w > 4096 ? 4096 : w);
      ++i;
    }
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
      if (sp.width < 4096) sp.width = sp.width * 10 + (fmt[i] - '0');
      ++i;
    }
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      sp.precision = 0;
      if (i < fmt.size() && fmt[i] == '*') {
        const long long p = AsSigned(take());
        sp.precision = p < 0 ? -1 : static_cast<int>(p > 4096 ? 4096 : p);
        ++i;
      }
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        if (sp.precision < 4096) sp.precision = sp.precision * 10 + (fmt[i] - '0');
        ++i;
      }
    }
    while (i < fmt.size() && (fmt[i] == 'l' || fmt[i] == 'h' || fmt[i] == 'z' || fmt[i] == 'j' ||
                              fmt[i] == 't' || fmt[i] == 'L' || fmt[i] == 'q' || fmt[i] == 'I')) {
      ++i;
    }
    if (i >= fmt.size()) { out.append(fmt.substr(start)); break; }
    if (sp.left) sp.zero = false;
    sp.conv = fmt[i];
    switch (sp.conv) {
      case 'd': case 'i': {
        const long long v = AsSigned(take());
        const unsigned long long mag = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        FormatInteger(out, sp, v < 0, mag, 10, false);
        break;
      }
      case 'u': FormatInteger(out, sp, false, AsUnsigned(take()), 10, false); break;
      case 'x': FormatInteger(out, sp, false, AsUnsigned(take()), 16, false); break;
      case 'X': FormatInteger(out, sp, false, AsUnsigned(take()), 16, true); break;
      case 'o': FormatInteger(out, sp, false, AsUnsigned(take()), 8, false); break;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G':
        FormatDouble(out, sp, AsDouble(take()));
        break;
      case 'c': {
        const FormatArg& a = take();
        char ch = a.kind_ == FormatArg::kStr ? (a.s_.empty() ? '\0' : a.s_[0]) : static_cast<char>(AsSigned(a));
        Conversion s = sp; s.zero = false;
        Pad(out, s, "", std::string_view(&ch, 1));
        break;
      }
      case 's': {
        const FormatArg& a = take();
        std::string tmp;
        std::string_view text;
        if (a.kind_ == FormatArg::kStr) {
          text = a.s_;
        } else {
          const FormatArg one[] = {a};
          tmp = FormatV(a.kind_ == FormatArg::kDouble ? "%g" : (a.kind_ == FormatArg::kUInt ? "%u" : "%d"), one, 1);
          text = tmp;
        }
        if (sp.precision >= 0 && text.size() > static_cast<size_t>(sp.precision)) text = text.substr(0, sp.precision);
        Conversion s = sp; s.zero = false;
        Pad(out, s, "", text);
        break;
      }
      default:
        out.append(fmt.substr(start, i - start + 1));  // unknown conversion: kept as written
        break;
    }
  }
  return out;
}

}  // namespace velmo
