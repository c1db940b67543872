#pragma once
// Locale-free number parsing and formatting. Every decimal conversion of the core
// goes through here, so a user locale with a decimal comma never changes a value.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmo {

// atoi semantics: skip leading white space, optional sign, leading digits; 0 when
// none. Saturates to the 32-bit range.
int32_t ParseInt(std::string_view text);
// atof semantics: leading decimal number (fraction, exponent), rest ignored; 0 when
// none, for "nan"/"inf" and for values out of double range.
double ParseDouble(std::string_view text);
// Truncation toward zero that saturates to the 32-bit range (NaN gives 0).
int32_t TruncToInt32(double v);

// printf-style formatting in the C locale. Supports %s %d %i %u %x %X %o %c %f %e %g %%,
// flags '-', '0', ' ', '+', width and precision (%.1f, %02d, %-8s, %3d ...).
// Length modifiers (l, ll, h, z) are accepted and ignored; %f defaults to 6 digits.
// Arguments are taken by type, so there is no varargs undefined behaviour.
class FormatArg {
 public:
  FormatArg(int v) : kind_(kInt), i_(v) {}
  FormatArg(long v) : kind_(kInt), i_(v) {}
  FormatArg(long long v) : kind_(kInt), i_(v) {}
  FormatArg(unsigned v) : kind_(kUInt), u_(v) {}
  FormatArg(unsigned long v) : kind_(kUInt), u_(v) {}
  FormatArg(unsigned long long v) : kind_(kUInt), u_(v) {}
  FormatArg(double v) : kind_(kDouble), d_(v) {}
  FormatArg(const char* s) : kind_(kStr), s_(s ? std::string_view(s) : std::string_view("(null)")) {}
  FormatArg(std::string_view s) : kind_(kStr), s_(s) {}
  FormatArg(const std::string& s) : kind_(kStr), s_(s) {}
  enum Kind { kInt, kUInt, kDouble, kStr };
  Kind kind_;
  long long i_ = 0;
  unsigned long long u_ = 0;
  double d_ = 0;
  std::string_view s_;
};
std::string FormatV(std::string_view fmt, const FormatArg* args, size_t count);
template <typename... Args>
std::string Format(std::string_view fmt, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return FormatV(fmt, list, sizeof...(Args));
}

}  // namespace velmo
