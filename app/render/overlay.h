#pragma once
// The image-information overlay without the drawing: the device groups of Velmo.ini
// and their Key.csv, the four corner files of every group, the choice of a group for
// an image, and the texts of each corner line for an image at an overlay level.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/fixed_text.h"
#include "base/log.h"
#include "base/notifier.h"
#include "base/settings.h"
#include "dicom/dicom_image.h"
#include "header/dictionary.h"
#include "header/format_value.h"

namespace velmo {

enum OverlayCorner { kUpLeft = 0, kUpRight = 1, kDownLeft = 2, kDownRight = 3 };
inline constexpr int kCornerLines = 12;      // lines per corner and group
inline constexpr int kMaxKeyLines = 10;      // Key.csv lines per group
inline constexpr int kMaxOverlayGroups = 16;  // "その他" and 15 configured groups

// "InfoUpLeft.csv", "InfoUpRight.csv", "InfoDownLeft.csv", "InfoDownRight.csv".
const char* CornerFileName(int corner);

struct OverlayItem {
  int16_t enabled = 0;
  int16_t level = 0;
  FixedText<4> group, element;
  FixedText<31> label;
  FixedText<7> unit;
};
struct CornerTable {
  int lineCount = 0;
  OverlayItem lines[kCornerLines][3];  // [line][priority]
};

struct KeyLine {
  std::string displayName;  // at most 64 bytes
  std::string group, element;
  std::string field4;       // at most 2 bytes, kept only
  std::vector<std::string> values;  // match values, at most 127 bytes each
};

struct OverlayGroup {
  std::string name;  // Shift-JIS group name = folder name under Config
  bool usable = true;  // false for a name that would leave Config (never read)
  std::vector<KeyLine> keys;
  int alternatives = 0;
  CornerTable corners[4];
};

// Group 0 is "その他"; 1..n the configured groups in key order.
struct OverlayConfig {
  std::vector<OverlayGroup> groups;
};

// A group name usable as a folder under Config: not empty after trimming, not "." or
// "..", no "/", "\" or NUL. (Shift-JIS bytes.)
bool IsSafeGroupName(std::string_view name);
// Config/<name>/ of the installation for a Shift-JIS group name (UTF-8 path).
std::string GroupFolder(const std::string& installFolder, std::string_view name);

// Reads the group list from the settings and every configured group's Key.csv.
void LoadOverlayGroups(const Settings& settings, const std::string& installFolder, OverlayConfig& config,
                       const Log& log);
// Reads the four corner files of every group. False when a file is missing (shown
// in a message box) or cannot be read; the tables read so far are kept.
bool LoadCornerFiles(const std::string& installFolder, OverlayConfig& config, const Log& log, Notifier* notifier);
// Parses one Key.csv or corner file image.
void ParseKeyFile(std::string_view bytes, OverlayGroup& group);
void ParseCornerFile(std::string_view bytes, CornerTable& table);

// The group whose Key.csv claims the image, or 0.
int SelectOverlayGroup(const OverlayConfig& config, const DicomImage& image);

// Everything the overlay writes on one pane (Shift-JIS texts).
struct OverlayTexts {
  std::vector<std::string> corners[4];   // lines in order; empty strings keep their place
  std::vector<std::string> levelWidth;   // "L:%5d", "W:%5d" or "明度:%4d", "彩度:%4d"
  std::string orientationHorizontal, orientationVertical;
  std::string selectionCaption, selectionValue;
};

struct OverlayInput {
  const DicomImage* image = nullptr;
  bool blocked = false;        // the right pane shows MPR or MIP
  int overlayLevel = 1;        // 1, 0 or -1
  bool rotated = false;        // the pane shows a rotation
  std::string orientationHorizontal, orientationVertical;
  std::string selectionCaption, selectionValue;  // the header list's selection, if any
};

// ---- editing the configuration (the two settings dialogs) ----

// One line of a corner file as text fields, as the image-information dialog edits it.
struct CornerFileRow {
  std::string line, priority, level, enabled, group, element, name, label, unit;
};
std::vector<CornerFileRow> ParseCornerRows(std::string_view bytes);
// The file text of rows (Shift-JIS, CR LF).
std::string CornerRowsText(const std::vector<CornerFileRow>& rows);
// The file text of a group's Key.csv lines.
std::string KeyFileText(const std::vector<KeyLine>& keys);

enum class GroupEditResult { kOk, kRefusedName, kFailed };
// Creates Config/<name>/ and copies Master/Key.csv and the four Master corner files
// into it (existing files are kept), then appends the name to `groups`. A name that
// is not a safe folder name, already names a group, or is the "その他" folder, is
// refused; so is a sixteenth group.
GroupEditResult CreateOverlayGroup(const std::string& installFolder, std::vector<std::string>& groups,
                                   std::string_view otherGroup, const std::string& name);
// Renames the folder of groups[index]; an existing folder is never replaced.
GroupEditResult RenameOverlayGroup(const std::string& installFolder, std::vector<std::string>& groups,
                                   std::string_view otherGroup, size_t index, const std::string& name);
// Removes Config/<groups[index]> with everything in it (after checking that it is a
// real folder directly inside Config, not a link) and the list entry.
bool DeleteOverlayGroup(const std::string& installFolder, std::vector<std::string>& groups, size_t index);

OverlayTexts LayOutOverlay(const OverlayConfig& config, int group, const OverlayInput& input,
                           const Dictionaries& dict, const FormatSettings& format, const Log& log = Log::Null());

}  // namespace velmo
