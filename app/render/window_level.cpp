// Window/level rules, the preset file and the preset list.
#include "render/window_level.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#include "dicom/dicom_image.h"
#include "base/file_io.h"
#include "base/install.h"
#include "base/log.h"
#include "base/notifier.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

int32_t SatAdd(int32_t a, int64_t b) {
  const int64_t v = static_cast<int64_t>(a) + b;
  return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
}

}  // namespace

WindowRange LevelRange(const DicomImage& im) { return {im.levelMin, im.levelMax < im.levelMin ? im.levelMin : im.levelMax}; }
WindowRange WidthRange(const DicomImage& im) { return {im.widthMin, im.widthMax < im.widthMin ? im.widthMin : im.widthMax}; }

LevelWidth DragWindow(const DicomImage& im, int32_t levelBox, int32_t widthBox, int dx, int dy) {
  const bool colour = im.isColour != 0;
  const bool levelFalls = colour || im.isMonochrome1 != 0;
  LevelWidth w;
  w.level = LevelRange(im).Clamp(SatAdd(levelBox, levelFalls ? -static_cast<int64_t>(dy) : dy));
  w.width = WidthRange(im).Clamp(SatAdd(widthBox, colour ? -static_cast<int64_t>(dx) : dx));
  return w;
}

int32_t WindowBoxValue(std::string_view text) { return ParseInt(text); }
std::string WindowBoxText(int32_t value) { return Format("%d", value); }

const std::string& LevelLabel(const DicomImage* im) {
  static const std::string grey = "Level";
  return im != nullptr && im->isColour ? SJ("明度") : grey;
}
const std::string& WidthLabel(const DicomImage* im) {
  static const std::string grey = "Width";
  return im != nullptr && im->isColour ? SJ("彩度") : grey;
}

// ---- presets ----

std::vector<PresetRow> ParsePresetRows(std::string_view bytes) {
  std::vector<PresetRow> rows;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(at, end - at);
    // CR LF counts as one line end.
    at = end + ((end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n') ? 2 : 1);
    if (line.empty()) continue;
    PresetRow row;
    std::string* fields[3] = {&row.name, &row.level, &row.width};
    size_t start = 0;
    for (int f = 0; f < 3; ++f) {
      const size_t comma = line.find(',', start);
      fields[f]->assign(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string SerializePresetRows(const std::vector<PresetRow>& rows) {
  std::string out;
  for (const PresetRow& r : rows) {
    out += r.name;
    out += ',';
    out += r.level;
    out += ',';
    out += r.width;
    out += "\r\n";
  }
  return out;
}

std::vector<Preset> PresetsFromRows(const std::vector<PresetRow>& rows) {
  std::vector<Preset> presets;
  for (const PresetRow& r : rows) {
    if (presets.size() >= static_cast<size_t>(kMaxPresets)) break;
    Preset p;
    p.name = CutSjis(r.name, kPresetNameBytes);
    p.level = ParseInt(r.level);
    p.width = ParseInt(r.width);
    presets.push_back(p);
  }
  return presets;
}

PresetRow PresetRowFromTyped(std::string_view name, std::string_view level, std::string_view width) {
  return {std::string(CutSjis(name, kPresetNameBytes)), std::string(CutSjis(level, kPresetNumberBytes)),
          std::string(CutSjis(width, kPresetNumberBytes))};
}

std::string PresetFilePath() { return InstallFolder() + "Config/Preset.csv"; }

PresetFileStatus ReadPresetFile(const std::string& path, std::vector<PresetRow>* rows, const Log& log,
                                Notifier* notifier, bool mainWindowText) {
  rows->clear();
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
    // Created empty so that the dialog and the next start find it.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      const std::string msg = Format(SJ("設定ファイル(%s)への書き込みに失敗しました"), SjisFromUtf8(path));
      log.Write(msg, kLogError, 1);
      if (notifier) notifier->Show(SJ("エラー"), msg, NoticeIcon::Error);
      return PresetFileStatus::kCreateFailed;
    }
    close(fd);
    log.Write(Format(SJ("設定ファイル(%s)を新たに作成しました"), SjisFromUtf8(path)), kLogNormal, 2);
    return PresetFileStatus::kCreated;
  }
  std::string text;
  const FileReadResult read = ReadWholeFile(path, &text);
  if (read.status == FileReadStatus::kOutOfMemory) {
    const std::string msg =
        Format(mainWindowText ? SJ("Preset.csv用のメモリの確保に失敗しました。(%d)\r\nメモリ不足の可能性があります。")
                              : SJ("Preset.csv用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
               static_cast<long long>(read.size));
    log.Write(msg, kLogWarning, 1);
    if (notifier) notifier->Show(SJ("警告"), msg, NoticeIcon::Warning);
    return PresetFileStatus::kAllocationFailed;
  }
  if (read.status != FileReadStatus::kOk) {
    log.Write(SJ("設定ファイル(Preset.csv)のオープンに失敗しました"), kLogError, 1);
    return PresetFileStatus::kOpenFailed;
  }
  log.Write(SJ("設定ファイル(Preset.csv)の読み出し"), kLogNormal, 2);
  *rows = ParsePresetRows(text);
  return PresetFileStatus::kRead;
}

bool WritePresetFile(const std::string& path, const std::vector<PresetRow>& rows, const Log& log) {
  // A file that is there but cannot be read keeps its presets: the rows being written
  // were not read from it.
  if (!MayReplaceFile(path)) return false;
  if (!WriteFileAtomically(path, SerializePresetRows(rows))) return false;
  log.Write(Format(SJ("設定ファイル(%s)へ書き込み"), SjisFromUtf8(path)), kLogNormal, 2);
  return true;
}

// ---- the preset list ----

std::vector<PresetListItem> BuildPresetList(const DicomImage* im, const std::vector<Preset>& presets) {
  std::vector<PresetListItem> items;
  if (im != nullptr) {
    items.push_back({PresetListItem::kInitial, 0, SJ("初期値 1")});
    if (im->fileWindowWidth[1] > 0) items.push_back({PresetListItem::kInitial, 1, SJ("初期値 2")});
    if (im->fileWindowWidth[2] > 0) items.push_back({PresetListItem::kInitial, 2, SJ("初期値 3")});
  }
  for (size_t i = 0; i < presets.size(); ++i)
    items.push_back({PresetListItem::kPreset, static_cast<int>(i), presets[i].name.str()});
  items.push_back({PresetListItem::kSetUp, 0, SJ("　設定する")});
  return items;
}

bool WindowOfPresetItem(const DicomImage& im, const PresetListItem& item, const std::vector<Preset>& presets,
                        LevelWidth* out) {
  switch (item.kind) {
    case PresetListItem::kInitial:
      if (item.index < 0 || item.index > 2) return false;
      *out = {im.fileWindowCenter[item.index], im.fileWindowWidth[item.index]};
      return true;
    case PresetListItem::kPreset:
      if (item.index < 0 || static_cast<size_t>(item.index) >= presets.size()) return false;
      *out = {presets[static_cast<size_t>(item.index)].level, presets[static_cast<size_t>(item.index)].width};
      return true;
    case PresetListItem::kSetUp:
      return false;
  }
  return false;
}

}  // namespace velmo
