#pragma once
// Person names and character sets: which component group of a person name to show
// (alphabetic, ideographic or phonetic) following the configured name priorities,
// and the conversion of each group from ISO 2022 JIS to Shift-JIS. Shared by
// attribute extraction and the list entry reader.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"

namespace velmo {

// The keyword that a "患者名" priority value of Velmo.ini stands for: "ローマ字" ->
// "IR 6", "漢字" -> "IR 87", "カナ" -> "IR 13"; "なし" and anything else -> "" (none).
// The value is Shift-JIS, as read from Velmo.ini.
std::string NamePriorityKeyword(std::string_view iniValueSjis);

// Splits a Specific Character Set value at backslashes into up to `slots` values,
// each cut to `width` bytes. A backslash or the end of the value closes a slot, so
// empty values leave empty slots. Returns the number of slots filled (at least 1 for
// any value, 0 for slots == 0). Text after the last slot is dropped.
int SplitBackslashValues(std::string_view value, std::string* out, int slots, size_t width);

// For each of the three keywords (empty ones skipped: their entry stays -1), the
// index (0..2) of the last of the first three character sets that contains the
// keyword, or -1.
void FindNameGroupIndices(const std::string_view characterSets[3], const std::string keywords[3],
                          int16_t out[3]);

// Splits a person name value into its three component groups at "=" outside two-byte
// runs and converts each group to Shift-JIS (escapes dropped, JIS X 0208 pairs mapped,
// "^" to a space with the default options).
void ConvertPersonNameGroups(std::string_view value, std::string groups[3], const Iso2022Options& options = {});

// Which group to show: the group named by the first priority entry that is not -1
// and names a non-empty group; when none does, group 0.
int ChooseDisplayGroup(const int16_t nameGroupIndex[3], const std::string groups[3]);

// `text` cut to at most `width` bytes without splitting a Shift-JIS double-byte
// character (a lead byte that would lose its trail byte is dropped).
std::string CutSjis(std::string_view text, size_t width);

}  // namespace velmo
