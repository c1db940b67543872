#include "cli_common.h"

#include <cstdio>
#include <iostream>

#include "base/text.h"

namespace velmo::cli {

namespace {
bool g_sjis = false;
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
