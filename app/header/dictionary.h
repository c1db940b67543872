#pragma once
// The tag dictionary (Config/Tag.csv) and the VR table (Config/VR.csv): raw byte
// images of the two files read once at start-up, and the lookups every header
// consumer uses. Lines end at CR LF only; fields are split at every comma with no
// quoting; the columns are positional (the element text starts at byte 5 of a line).
// An index built at load time answers each lookup exactly as a scan of the file
// from its start would (first matching line wins).
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/log.h"
#include "base/notifier.h"

namespace velmo {

struct TagDictionary {
  std::string bytes;  // the file image; empty when missing or unreadable
  // First line offset for each 8-byte key (4 bytes at the line start, 4 at +5).
  std::unordered_map<uint64_t, uint32_t> firstLine;
};

struct VrTable {
  std::string bytes;
  struct Line {
    char code[2];
    std::string flag;  // column 3, at most 15 bytes
  };
  std::vector<Line> lines;  // every line in file order
};

struct Dictionaries {
  TagDictionary tags;
  VrTable vrs;
};

// Loads Config/Tag.csv then Config/VR.csv of `installFolder` (ending in "/").
// Missing files are logged and shown ("エラー"), open failures only logged; either
// leaves that image empty. Returns false only when a buffer could not be allocated
// (reported as a warning): the caller skips the rest of its start-up then.
bool LoadDictionaries(const std::string& installFolder, Dictionaries& dict, const Log& log, Notifier* notifier);
// Builds the lookup indexes of images already in dict.tags.bytes / dict.vrs.bytes.
void IndexDictionaries(Dictionaries& dict);
void FreeDictionaries(Dictionaries& dict);

struct TagEntry {
  std::string japaneseName;  // column 2, at most 511 bytes
  std::string englishName;   // column 3, at most 511 bytes
  std::string vr;            // column 4, at most 15 bytes
  std::string vm;            // column 5, at most 15 bytes
};
// Group and element texts are four upper-case hexadecimal digits ("0010"). Returns
// false (entry empty) when no line matches.
bool LookupTag(const Dictionaries& dict, std::string_view group, std::string_view element, TagEntry* entry);
// The code and flag of the first VR.csv line whose two-letter code occurs inside
// `vrField`; both empty (false) when none does.
bool LookupVrFlag(const Dictionaries& dict, std::string_view vrField, std::string* code, std::string* flag);

// One row of the built-in VR descriptions (Shift-JIS texts).
struct VrDescription {
  std::string code, name, definition, repertoire, length;
};
// The 26 built-in rows in their order (AE ... UT).
const std::vector<VrDescription>& VrDescriptions();
// The row whose code equals the first two characters of `code`; all texts empty
// when there is none (an empty code included).
VrDescription DescribeVr(std::string_view code);

}  // namespace velmo
