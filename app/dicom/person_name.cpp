#include "dicom/person_name.h"

#include "base/charset.h"

namespace velmo {

std::string NamePriorityKeyword(std::string_view iniValueSjis) {
  if (iniValueSjis == SJ("ローマ字")) return "IR 6";
  if (iniValueSjis == SJ("漢字")) return "IR 87";
  if (iniValueSjis == SJ("カナ")) return "IR 13";
  return "";
}

void CharacterSetValues(std::string_view value, std::string_view out[5]) {
  SplitBackslashValues(value, out, 5, 16);
  if (out[0].empty()) out[0] = "ISO 2022 IR 6";
}

void FindNameGroupIndices(const std::string_view characterSets[3], const std::string keywords[3],
                          int16_t out[3]) {
  for (int k = 0; k < 3; ++k) {
    out[k] = -1;
    if (keywords[k].empty()) continue;
    for (int s = 0; s < 3; ++s) {
      if (characterSets[s].find(keywords[k]) != std::string_view::npos) out[k] = static_cast<int16_t>(s);
    }
  }
}

void ConvertPersonNameGroups(std::string_view value, std::string groups[3], const Iso2022Options& options) {
  std::string raw[3];
  SplitPersonNameGroups(value, raw);
  for (int g = 0; g < 3; ++g) groups[g] = raw[g].empty() ? std::string() : Iso2022ToSjis(raw[g], options);
}

void ConvertPersonNameGroups(std::string_view value, std::string_view characterSet, std::string groups[3],
                             const Iso2022Options& options) {
  std::string raw[3];
  SplitPersonNameGroups(value, raw);
  for (int g = 0; g < 3; ++g)
    groups[g] = raw[g].empty() ? std::string() : DicomTextToSjis(raw[g], characterSet, options);
}


}  // namespace velmo
