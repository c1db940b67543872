#pragma once
// Text helpers shared by the whole core. Core text is Shift-JIS (CP932) bytes.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmo {

// UTF-8 -> Shift-JIS. Characters CP932 cannot represent become '?'. When ok is
// given it is set to false if any character could not be represented.
std::string SjisFromUtf8(std::string_view utf8, bool* ok = nullptr);
// UTF-8 -> Shift-JIS for values remembered in Velmo.ini (paths): "" when any
// character cannot be represented, so nothing wrong is remembered.
std::string SjisOrEmpty(std::string_view utf8);
// Shift-JIS -> UTF-8. Each undecodable byte becomes U+FFFD and decoding carries on.
std::string Utf8FromSjis(std::string_view sjis);

// JIS X 0208 row/cell pair (both 0x21..0x7E) -> Shift-JIS pair, by the standard arithmetic.
void JisToSjis(uint8_t j1, uint8_t j2, uint8_t* s1, uint8_t* s2);
// Shift-JIS double-byte pair -> JIS X 0208 pair. Returns false when (s1, s2) is not a
// valid double-byte Shift-JIS code in the JIS X 0208 area.
bool SjisToJis(uint8_t s1, uint8_t s2, uint8_t* j1, uint8_t* j2);
// True for a Shift-JIS lead byte (81-9F, E0-FC).
inline bool IsSjisLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Options of the ISO 2022 reader: the file loader, the header list and the list
// entry reader each convert escaped DICOM text with small variations.
// - attribute extraction, person names and protocol name: the defaults;
// - overlay person names: the defaults; overlay LO/LT/SH/ST/UT and the header list:
//   caretToSpace = false;
// - list entry reader: text fields with caretToSpace = false; person-name groups
//   with caretToSpace = true and commaToSpace = true.
// Everywhere an unknown escape sequence loses only its ESC byte, and inside a
// two-byte run a pair whose first byte is not 21..7E (control bytes, 7F, 80 and
// above) is copied unchanged.
struct Iso2022Options {
  bool caretToSpace = true;     // outside a two-byte run "^" becomes a space
  bool commaToSpace = false;    // outside a two-byte run "," becomes a space
  bool jisX0212AsGeta = true;   // runs opened by ESC $ D give the geta mark per pair
};
// Converts one ISO 2022 JIS text (escape sequences ESC $ @, ESC $ B, ESC $ D open a
// two-byte run; ESC ( B, ESC ( J, ESC ( I, ESC ) I close it) to Shift-JIS: escapes are
// dropped, JIS X 0208 pairs become Shift-JIS pairs, other bytes are copied.
std::string Iso2022ToSjis(std::string_view text, const Iso2022Options& options = {});
// Splits a person name into at most three component groups at "=" signs outside
// two-byte runs. Escape sequences stay in the groups. Returns the number of groups
// found (0 for empty text, at most 3); text after a third "=" is dropped. Groups are
// not cut to any width here.
int SplitPersonNameGroups(std::string_view text, std::string groups[3]);

// `text` cut to at most `width` bytes without splitting a Shift-JIS double-byte
// character (a lead byte that would lose its trail byte is dropped). The result views
// `text`.
std::string_view CutSjis(std::string_view text, size_t width);

// Splits a multi-valued text at backslashes into up to `slots` values, each cut to
// `width` bytes (byte-wise, as fixed-width record fields cut). A backslash or the end
// of the value closes a value, so empty values leave empty slots; unused slots are
// emptied. Returns the number of values found (1 for any value, even an empty one; 0
// only when slots is 0). Text after the last slot is dropped. The views point into
// `value`.
int SplitBackslashValues(std::string_view value, std::string_view* out, int slots,
                         size_t width = std::string_view::npos);

namespace detail {
const std::string& InternSjis(const char* utf8);
}

}  // namespace velmo

// SJ("日本語"): the Shift-JIS bytes of a UTF-8 literal, converted once per call site.
#define SJ(utf8_literal) \
  ([]() -> const std::string& { static const std::string& s = ::velmo::detail::InternSjis(utf8_literal); return s; }())
