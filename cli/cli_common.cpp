#include "cli_common.h"

#include <cstdint>
#include <cstdio>
#include <iostream>

#include "base/numbers.h"
#include "base/text.h"
#include "dicom/load_context.h"
#include "dicom/view_load.h"

namespace velmo::cli {

namespace {
bool g_sjis = false;
}

bool WholeNumber(const std::string& text, int32_t* out) {
  if (text.empty()) return false;
  const size_t first = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (first == text.size() || text.size() - first > 10) return false;
  int64_t value = 0;
  for (size_t k = first; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    value = value * 10 + (text[k] - '0');
  }
  if (text[0] == '-') value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

bool LoadOneImage(LoadContext& ctx, const std::string& file) {
  PrepareSingleFile(ctx, file);
  if (LoadImageAtViewPosition(ctx, 1)) return true;
  PrintError(ctx.failureMessage.empty() ? std::string_view("load failed") : std::string_view(ctx.failureMessage));
  return false;
}

void SetSjisOutput(bool on) { g_sjis = on; }
bool SjisOutput() { return g_sjis; }
std::string OutText(std::string_view sjis) { return g_sjis ? std::string(sjis) : Utf8FromSjis(sjis); }
std::string CleanText(std::string_view sjis) {
  while (!sjis.empty() && (sjis.back() == ' ' || sjis.back() == '\0')) sjis.remove_suffix(1);
  return OutText(sjis);
}

void StderrNotifier::Show(std::string_view caption, std::string_view message, NoticeIcon) {
  std::cerr << Utf8FromSjis(caption) << ": " << Utf8FromSjis(message) << "\n";
}
bool StderrNotifier::AskYesNo(std::string_view caption, std::string_view message, NoticeIcon) {
  std::cerr << Utf8FromSjis(caption) << ": " << Utf8FromSjis(message) << " -> no\n";
  return false;
}

void PrintError(std::string_view sjisMessage) { std::cerr << "velmo-cli: " << Utf8FromSjis(sjisMessage) << "\n"; }

}  // namespace velmo::cli
