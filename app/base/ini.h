#pragma once
// Our own INI reader/writer for Velmo.ini. The file, section and key names and the
// values are Shift-JIS bytes. A section line starts with "[" and its last non-blank
// byte is "]"; a key is everything before the first "=" (trimmed); no escapes.
// Section and key names match exactly, except ASCII letters, which match
// case-insensitively (as the profile functions of the original platform did).
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"

namespace velmo {

class IniFile {
 public:
  IniFile() = default;
  // Reads the file; a missing or unreadable file gives an empty document (false).
  bool Load(const std::string& path);
  // Reads the file before changing it: true when it was read, or when it does not
  // exist (an empty document). False when it exists but cannot be read (no rights, a
  // read error, not a regular file); the document is empty then and must not be saved
  // over the file, which would replace every setting with the few being changed.
  bool LoadForUpdate(const std::string& path);
  void LoadFromBytes(std::string_view bytes);
  // The raw value (trimmed), or "" when the section or key is missing.
  std::string Get(std::string_view section, std::string_view key) const;
  bool Has(std::string_view section, std::string_view key) const;
  // atoi of the value; `def` when the key is missing.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t def) const;
  // Changes one value; every other line of the file is kept as it stands. Adds the
  // key at the end of its section, or the section at the end of the file.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes the key's line when present (used when a list of numbered keys shrinks).
  void Remove(std::string_view section, std::string_view key);
  std::string ToBytes() const;
  // Writes through a temporary file in the same folder and a rename.
  bool Save(const std::string& path) const;
  // All keys of a section, in file order.
  std::vector<std::pair<std::string, std::string>> Section(std::string_view section) const;

 private:
  FileReadStatus ReadFile(const std::string& path);
  std::vector<std::string> lines_;  // without line ends
  std::string eol_ = "\r\n";
};

// Profile access to the installation's Velmo.ini, as the system reads its settings:
// every call reads the file again (settings may change while the program runs).
std::string ProfileString(std::string_view sectionUtf8, std::string_view keyUtf8);
int32_t ProfileInt(std::string_view sectionUtf8, std::string_view keyUtf8, int32_t def);
// Changes one value of Velmo.ini (see UpdateIniFile).
bool WriteProfileString(std::string_view sectionUtf8, std::string_view keyUtf8, std::string_view valueSjis);
// Read-modify-write of an INI file under ProfileMutex(): reads it, applies `change`,
// writes it back atomically. A file that exists but cannot be read is left untouched
// (logged as an open failure, kind 異常, level 1) and false is returned; a missing file
// is created.
bool UpdateIniFile(const std::string& path, const std::function<void(IniFile&)>& change);
// Serialises read-modify-write updates of Velmo.ini within this process; hold it
// around IniFile::Load ... Save when changing several keys at once.
std::mutex& ProfileMutex();

}  // namespace velmo
