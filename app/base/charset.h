#pragma once
// DICOM text in any Specific Character Set (0008,0005) converted to the internal
// Shift-JIS. The Japanese sets (and the default repertoire) keep Iso2022ToSjis exactly;
// the single-byte sets, UTF-8, GB18030, GBK and the ISO 2022 multi-byte sets of Korea
// and China go through iconv. Characters Shift-JIS has (Greek, Cyrillic, kanji, kana)
// stay as they are; accented Latin letters lose their accents ("Jérôme" -> "Jerome");
// anything else becomes "?". No character is ever cut in half.
#include <string>
#include <string_view>

#include "base/text.h"

namespace velmo {

// Whether text under this (0008,0005) value is converted exactly as Iso2022ToSjis does
// (absent or empty, the default repertoire, the Japanese sets, or terms Velmo does not
// know).
bool IsJapaneseOrDefaultCharacterSet(std::string_view specificCharacterSet);

// Converts a text value stored under `specificCharacterSet` (the raw (0008,0005) value,
// backslash-separated) to Shift-JIS. The options act on "^" and "," as in
// Iso2022ToSjis (outside two-byte runs).
std::string DicomTextToSjis(std::string_view text, std::string_view specificCharacterSet,
                            const Iso2022Options& options = {});

}  // namespace velmo
