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

// The first five values of a Specific Character Set (0008,0005) value, each cut to 16
// bytes; an empty or absent first value is the default repertoire "ISO 2022 IR 6".
// The image record, the list entry reader and the DICOMDIR reader keep them alike.
void CharacterSetValues(std::string_view value, std::string_view out[5]);

// For each of the three keywords (empty ones skipped: their entry stays -1), the
// index (0..2) of the last of the first three character sets that contains the
// keyword, or -1.
void FindNameGroupIndices(const std::string_view characterSets[3], const std::string keywords[3],
                          int16_t out[3]);

// Splits a person name value into its three component groups at "=" outside two-byte
// runs and converts each group to Shift-JIS (escapes dropped, JIS X 0208 pairs mapped,
// "^" to a space with the default options).
void ConvertPersonNameGroups(std::string_view value, std::string groups[3], const Iso2022Options& options = {});
// The same for a value stored under `characterSet` (the raw (0008,0005) value): each
// group converted by DicomTextToSjis, so names in any character set read right.
void ConvertPersonNameGroups(std::string_view value, std::string_view characterSet, std::string groups[3],
                             const Iso2022Options& options = {});

// What a display name falls back to when no priority entry names a non-empty group.
enum class NameFallback {
  kFirstGroup,     // the panes: group 0
  kNoneWhenFound,  // the lists: group 0 only when no keyword found a character set at
                   // all; when one did (and its group is empty), no name (-1)
};

// Which name group to show: the group named by the first priority entry that is not
// -1 and names a non-empty group; otherwise as `fallback` says. `groups` holds the
// three groups (anything with empty()).
template <class Text>
int ChooseDisplayGroup(const int16_t nameGroupIndex[3], const Text groups[3],
                       NameFallback fallback = NameFallback::kFirstGroup) {
  bool found = false;
  for (int k = 0; k < 3; ++k) {
    const int g = nameGroupIndex[k];
    if (g < 0 || g > 2) continue;
    found = true;
    if (!groups[g].empty()) return g;
  }
  return fallback == NameFallback::kNoneWhenFound && found ? -1 : 0;
}

}  // namespace velmo
