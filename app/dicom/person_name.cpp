#include "dicom/person_name.h"

namespace velmo {

std::string NamePriorityKeyword(std::string_view iniValueSjis) {
  if (iniValueSjis == SJ("ローマ字")) return "IR 6";
  if (iniValueSjis == SJ("漢字")) return "IR 87";
  if (iniValueSjis == SJ("カナ")) return "IR 13";
  return "";
}

int SplitBackslashValues(std::string_view value, std::string* out, int slots, size_t width) {
  for (int i = 0; i < slots; ++i) out[i].clear();
  if (slots <= 0) return 0;
  int slot = 0;
  for (char c : value) {
    if (c == '\\') {
      if (++slot == slots) return slots;
      continue;
    }
    if (out[slot].size() < width) out[slot] += c;
  }
  return slot + 1;
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

int ChooseDisplayGroup(const int16_t nameGroupIndex[3], const std::string groups[3]) {
  for (int k = 0; k < 3; ++k) {
    const int g = nameGroupIndex[k];
    if (g >= 0 && g <= 2 && !groups[g].empty()) return g;
  }
  return 0;
}

std::string CutSjis(std::string_view text, size_t width) {
  if (text.size() <= width) return std::string(text);
  size_t i = 0;
  while (i < width) {
    const size_t step = IsSjisLeadByte(static_cast<uint8_t>(text[i])) ? 2 : 1;
    if (i + step > width) break;
    i += step;
  }
  return std::string(text.substr(0, i));
}

}  // namespace velmo
