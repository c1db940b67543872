// Query keys, answer text and the small checks of the archive module that need no
// network.
#include <cstdlib>

#include "base/text.h"
#include "pacs/pacs.h"

namespace velmo::pacs {

const char* LevelKeyword(Level level) {
  switch (level) {
    case Level::kStudy: return "STUDY";
    case Level::kSeries: return "SERIES";
    case Level::kImage: return "IMAGE";
  }
  return "STUDY";
}

std::string NameSearchValue(std::string_view typed) {
  while (!typed.empty() && typed.back() == ' ') typed.remove_suffix(1);
  while (!typed.empty() && typed.front() == ' ') typed.remove_prefix(1);
  if (typed.empty()) return {};
  if (typed.find_first_of("*?") != std::string_view::npos) return std::string(typed);
  return "*" + std::string(typed) + "*";
}

std::string ValueOf(const Answer& answer, uint16_t group, uint16_t element) {
  for (const AnswerValue& v : answer)
    if (v.group == group && v.element == element) return v.text;
  return {};
}

std::string DecodeValue(std::string_view raw, std::string_view charset) {
  while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.remove_suffix(1);
  if (charset.find("ISO_IR 192") != std::string_view::npos) return SjisFromUtf8(raw);
  // Default repertoire, ISO 2022 JIS and the single-byte katakana of IR 13 (whose
  // bytes are the half-width katakana of Shift-JIS): escapes dropped, JIS X 0208
  // pairs mapped, '^' and '=' kept so a name keeps its groups.
  Iso2022Options o;
  o.caretToSpace = false;
  return Iso2022ToSjis(raw, o);
}

bool SafeUid(std::string_view uid) {
  if (uid.empty() || uid.size() > 64) return false;
  for (char c : uid)
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
  return uid != "." && uid != "..";
}

void EnableNoDelay() { setenv("TCP_NODELAY", "1", 1); }

bool NoDelayEnabled() {
  const char* v = std::getenv("TCP_NODELAY");
  return v && std::string_view(v) == "1";
}

}  // namespace velmo::pacs
