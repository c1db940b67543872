#include "base/ini.h"

#include "base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "base/install.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Name comparison: ASCII letters match without regard to case, but the two bytes
// of a Shift-JIS character always match exactly (their trail byte may look like an
// ASCII letter, e.g. "ア" is 83 41).
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const uint8_t x = static_cast<uint8_t>(a[i]);
    const uint8_t y = static_cast<uint8_t>(b[i]);
    if (IsSjisLeadByte(x)) {
      if (x != y || i + 1 >= a.size() || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    auto lower = [](uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + 32) : c; };
    if (lower(x) != lower(y)) return false;
  }
  return true;
}

// A section line: first non-blank byte "[", last non-blank byte "]". Sets `name`.
bool SectionLine(std::string_view line, std::string_view* name) {
  std::string_view t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *name = Trim(t.substr(1, t.size() - 2));
  return true;
}

// A key line: contains "=" and is not a comment. Splits at the first "=".
bool KeyLine(std::string_view line, std::string_view* key, std::string_view* value) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return false;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(line.substr(0, eq));
  *value = Trim(line.substr(eq + 1));
  return true;
}

}  // namespace

bool IniFile::Load(const std::string& path) { return ReadFile(path) == FileReadStatus::kOk; }

bool IniFile::LoadForUpdate(const std::string& path) {
  const FileReadStatus status = ReadFile(path);
  return status == FileReadStatus::kOk || status == FileReadStatus::kMissing;
}

FileReadStatus IniFile::ReadFile(const std::string& path) {
  lines_.clear();
  eol_ = "\r\n";
  std::string bytes;
  const FileReadStatus status = ReadWholeFile(path, &bytes).status;
  if (status == FileReadStatus::kOk) LoadFromBytes(bytes);
  return status;
}

bool UpdateIniFile(const std::string& path, const std::function<void(IniFile&)>& change) {
  std::lock_guard<std::mutex> lock(ProfileMutex());
  IniFile ini;
  if (!ini.LoadForUpdate(path)) {
    // Writing now would replace every setting the file holds with the few changed here.
    Log().Write(Format(SJ("設定ファイル(%s)のオープンに失敗しました"), SjisFromUtf8(path)), kLogError, 1);
    return false;
  }
  change(ini);
  return ini.Save(path);
}

void IniFile::LoadFromBytes(std::string_view bytes) {
  lines_.clear();
  eol_ = "\r\n";
  const size_t firstLf = bytes.find('\n');
  if (firstLf != std::string_view::npos && (firstLf == 0 || bytes[firstLf - 1] != '\r')) eol_.assign(1, '\n');
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t lf = bytes.find('\n', pos);
    std::string_view line = bytes.substr(pos, lf == std::string_view::npos ? std::string_view::npos : lf - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    if (lf == std::string_view::npos) break;
    pos = lf + 1;
  }
}

namespace {
// Calls fn(lineIndex, key, value) for each key line of every section named `section`
// until fn returns true. Returns that line index or -1.
template <typename Fn>
long FindInSection(const std::vector<std::string>& lines, std::string_view section, Fn fn) {
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionLine(lines[i], &name)) {
      inside = SameName(name, section);
      continue;
    }
    if (!inside) continue;
    std::string_view k, v;
    if (KeyLine(lines[i], &k, &v) && fn(k, v)) return static_cast<long>(i);
  }
  return -1;
}
}  // namespace

std::string IniFile::Get(std::string_view section, std::string_view key) const {
  std::string result;
  FindInSection(lines_, section, [&](std::string_view k, std::string_view v) {
    if (!SameName(k, key)) return false;
    result.assign(v);
    return true;
  });
  return result;
}

bool IniFile::Has(std::string_view section, std::string_view key) const {
  return FindInSection(lines_, section, [&](std::string_view k, std::string_view) { return SameName(k, key); }) >= 0;
}

int32_t IniFile::GetInt(std::string_view section, std::string_view key, int32_t def) const {
  if (!Has(section, key)) return def;
  return ParseInt(Get(section, key));
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string keyText(key);
  const long at = FindInSection(lines_, section, [&](std::string_view k, std::string_view) {
    if (!SameName(k, key)) return false;
    keyText.assign(k);  // keep the spelling found in the file
    return true;
  });
  std::string line = keyText + "=" + std::string(value);
  if (at >= 0) {
    lines_[static_cast<size_t>(at)] = std::move(line);
    return;
  }
  // Insert after the last non-blank line of the first section of that name.
  long last = -1;
  bool inside = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (SectionLine(lines_[i], &name)) {
      if (last >= 0) break;
      inside = SameName(name, section);
      if (inside) last = static_cast<long>(i);
      continue;
    }
    if (inside && !Trim(lines_[i]).empty()) last = static_cast<long>(i);
  }
  if (last >= 0) {
    lines_.insert(lines_.begin() + last + 1, std::move(line));
    return;
  }
  std::string header(1, '[');
  header.append(section);
  header.push_back(']');
  lines_.push_back(std::move(header));
  lines_.push_back(std::move(line));
}

void IniFile::Remove(std::string_view section, std::string_view key) {
  for (;;) {
    const long at = FindInSection(lines_, section, [&](std::string_view k, std::string_view) { return SameName(k, key); });
    if (at < 0) return;
    lines_.erase(lines_.begin() + at);
  }
}

std::string IniFile::ToBytes() const {
  std::string out;
  for (const std::string& l : lines_) {
    out += l;
    out += eol_;
  }
  return out;
}

bool IniFile::Save(const std::string& path) const { return WriteFileAtomically(path, ToBytes()); }

std::vector<std::pair<std::string, std::string>> IniFile::Section(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> out;
  FindInSection(lines_, section, [&](std::string_view k, std::string_view v) {
    out.emplace_back(std::string(k), std::string(v));
    return false;
  });
  return out;
}

std::mutex& ProfileMutex() {
  static std::mutex m;
  return m;
}

std::string ProfileString(std::string_view sectionUtf8, std::string_view keyUtf8) {
  IniFile ini;
  ini.Load(IniPath());
  return ini.Get(SjisFromUtf8(sectionUtf8), SjisFromUtf8(keyUtf8));
}

int32_t ProfileInt(std::string_view sectionUtf8, std::string_view keyUtf8, int32_t def) {
  IniFile ini;
  ini.Load(IniPath());
  return ini.GetInt(SjisFromUtf8(sectionUtf8), SjisFromUtf8(keyUtf8), def);
}

bool WriteProfileString(std::string_view sectionUtf8, std::string_view keyUtf8, std::string_view valueSjis) {
  return UpdateIniFile(IniPath(), [&](IniFile& ini) {
    ini.Set(SjisFromUtf8(sectionUtf8), SjisFromUtf8(keyUtf8), valueSjis);
  });
}

}  // namespace velmo
