#pragma once
// Window/level interaction without widgets: the ranges of the level and width
// controls, the mouse drag rule, the labels of grey and colour images, the preset
// table and its file Config/Preset.csv, and the entries of the preset list.
//
// For colour images the level and width act as brightness and saturation; the same
// rules apply with the signs of the drag reversed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/fixed_text.h"

namespace velmo {

struct DicomImage;
class Log;
class Notifier;

struct WindowRange {
  int32_t min = 0, max = 0;
  int32_t Clamp(int32_t v) const { return v < min ? min : (v > max ? max : v); }
};
struct LevelWidth {
  int32_t level = 0, width = 0;
  bool operator==(const LevelWidth&) const = default;
};

// levelMin … levelMax and widthMin … widthMax of the image (set when it was loaded).
WindowRange LevelRange(const DicomImage& im);
WindowRange WidthRange(const DicomImage& im);

// One mouse move of a window/level drag. `levelBox` and `widthBox` are the values the
// edit boxes show; dx and dy are the movement since the last event (right and down
// positive). Grey images: level + dy, width + dx; MONOCHROME1 images: level − dy;
// colour images: level − dy and width − dx. Both are clamped to the image's ranges.
LevelWidth DragWindow(const DicomImage& im, int32_t levelBox, int32_t widthBox, int dx, int dy);

// The value an edit box's text stands for (atoi semantics, locale-free).
int32_t WindowBoxValue(std::string_view text);
// The text an edit box shows for a value ("%d").
std::string WindowBoxText(int32_t value);

// Captions of the two labels (Shift-JIS): "Level"/"Width" for grey images,
// "明度"/"彩度" while a colour image is shown.
const std::string& LevelLabel(const DicomImage* im);
const std::string& WidthLabel(const DicomImage* im);

// ---- presets ----

inline constexpr int kMaxPresets = 30;

// One line of Preset.csv as text: the three fields as stored (the dialog keeps what the
// user typed; at most 63, 15 and 15 bytes when written from the dialog).
struct PresetRow {
  std::string name, level, width;
  bool operator==(const PresetRow&) const = default;
};
inline constexpr size_t kPresetNameBytes = 63;
inline constexpr size_t kPresetNumberBytes = 15;

// One entry of the preset table.
struct Preset {
  FixedText<kPresetNameBytes> name;
  int32_t level = 0, width = 0;
};

// Splits the file's bytes into rows: lines end with CR LF (a lone LF or CR also ends a
// line); text up to the first "," is the name, the second field the level, the third
// the width; further fields are ignored. Empty lines yield nothing. The separators are
// ASCII bytes that never occur inside a Shift-JIS character, so names with any
// double-byte characters come through unchanged.
std::vector<PresetRow> ParsePresetRows(std::string_view bytes);
// The file's bytes for `rows`: "name,level,width" CR LF per row.
std::string SerializePresetRows(const std::vector<PresetRow>& rows);
// The table of the main window: at most kMaxPresets rows, names cut at 63 bytes (never
// inside a double-byte character), numbers read like atoi.
std::vector<Preset> PresetsFromRows(const std::vector<PresetRow>& rows);

// A row as the preset dialog stores what was typed: the name cut at 63 bytes and the
// level and width at 15, never inside a double-byte character.
PresetRow PresetRowFromTyped(std::string_view name, std::string_view level, std::string_view width);

// InstallFolder() + "Config/Preset.csv".
std::string PresetFilePath();

enum class PresetFileStatus { kRead, kCreated, kCreateFailed, kOpenFailed, kAllocationFailed };
// Reads the preset file whole. A file that is there is read and "設定ファイル(Preset.csv)の
// 読み出し" is logged at level 2; a missing file is created empty and "設定ファイル(%s)を
// 新たに作成しました" logged with the path at level 2 (when it cannot be created, the
// write-failure message "設定ファイル(%s)への書き込みに失敗しました" is logged, kind 異常,
// level 1, and shown with caption "エラー"); a file that cannot be opened logs
// "設定ファイル(Preset.csv)のオープンに失敗しました" (kind 異常, level 1) and gives no
// rows. When the buffer cannot be had, the allocation message (with the file size; with
// "\r\n" before its second sentence when `mainWindowText`) is logged (kind 警告, level 1)
// and shown with caption "警告".
PresetFileStatus ReadPresetFile(const std::string& path, std::vector<PresetRow>* rows, const Log& log,
                                Notifier* notifier, bool mainWindowText);
// Replaces the file with `rows`: written to a temporary file in the same folder and
// renamed over the original, so a failed write never leaves a cut file. Logs
// "設定ファイル(%s)へ書き込み" with the path at level 2 on success. A file that exists
// but cannot be read is not replaced (false).
bool WritePresetFile(const std::string& path, const std::vector<PresetRow>& rows, const Log& log);

// ---- the preset list of the main window ----

struct PresetListItem {
  enum Kind { kInitial, kPreset, kSetUp } kind = kInitial;
  int index = 0;     // kInitial: 0..2 (the file's window 1..3); kPreset: index into the table
  std::string text;  // Shift-JIS: "初期値 1", a preset name, "　設定する"
};
// "初期値 1"; "初期値 2" and "初期値 3" when the image's second and third window widths
// are positive; every preset in table order; "　設定する". Without an image only the
// presets and "　設定する".
std::vector<PresetListItem> BuildPresetList(const DicomImage* im, const std::vector<Preset>& presets);
// The window an item gives the image: the file's window 1..3 or the preset's values.
// False for "　設定する" and for items out of range.
bool WindowOfPresetItem(const DicomImage& im, const PresetListItem& item, const std::vector<Preset>& presets,
                        LevelWidth* out);

}  // namespace velmo
