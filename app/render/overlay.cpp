#include "render/overlay.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "base/file_io.h"
#include "base/numbers.h"
#include "base/text.h"
#include "dicom/person_name.h"

namespace velmo {

namespace {

// Splits a file image into lines at LF, dropping a CR before it.
std::vector<std::string_view> Lines(std::string_view bytes) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    if (nl == std::string_view::npos) nl = bytes.size();
    std::string_view line = bytes.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
    pos = nl + 1;
  }
  return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (true) {
    const size_t c = line.find(',', pos);
    out.push_back(line.substr(pos, c == std::string_view::npos ? std::string_view::npos : c - pos));
    if (c == std::string_view::npos) break;
    pos = c + 1;
  }
  return out;
}

bool ParseHex(std::string_view s, uint16_t* v) {
  if (s.empty() || s.size() > 4) return false;
  uint32_t r = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return false;
    r = (r << 4) | static_cast<uint32_t>(d);
  }
  *v = static_cast<uint16_t>(r);
  return true;
}

// Upper-case four-digit form of a tag text, as the value formatter expects it.
std::string TagText(std::string_view s) {
  uint16_t v = 0;
  if (!ParseHex(s, &v)) return std::string(s);
  return Format("%04X", static_cast<unsigned>(v));
}

}  // namespace

const char* CornerFileName(int corner) {
  static const char* const kNames[4] = {"InfoUpLeft.csv", "InfoUpRight.csv", "InfoDownLeft.csv", "InfoDownRight.csv"};
  return corner >= 0 && corner < 4 ? kNames[corner] : "";
}

bool IsSafeGroupName(std::string_view name) {
  std::string_view t = name;
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  if (t.empty() || t == "." || t == "..") return false;
  // Byte-wise over Shift-JIS: trail bytes may be 0x5C, so walk characters.
  for (size_t i = 0; i < name.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(name[i]);
    if (IsSjisLeadByte(b) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (b == '/' || b == '\\' || b == 0) return false;
  }
  return true;
}

std::string GroupFolder(const std::string& installFolder, std::string_view name) {
  return installFolder + "Config/" + Utf8FromSjis(name) + "/";
}

void ParseKeyFile(std::string_view bytes, OverlayGroup& group) {
  group.keys.clear();
  group.alternatives = 0;
  for (std::string_view line : Lines(bytes)) {
    if (static_cast<int>(group.keys.size()) >= kMaxKeyLines) break;
    if (line.empty()) continue;
    const std::vector<std::string_view> f = Fields(line);
    KeyLine k;
    k.displayName = CutSjis(f[0], 64);
    if (f.size() > 1) k.group = CutSjis(f[1], 4);
    if (f.size() > 2) k.element = CutSjis(f[2], 4);
    if (f.size() > 3) k.field4 = CutSjis(f[3], 2);
    for (size_t i = 4; i < f.size(); ++i) k.values.emplace_back(CutSjis(f[i], 127));
    group.alternatives = std::max(group.alternatives, static_cast<int>(k.values.size()));
    group.keys.push_back(std::move(k));
  }
}

void ParseCornerFile(std::string_view bytes, CornerTable& table) {
  table = CornerTable{};
  int largest = -1;
  for (std::string_view line : Lines(bytes)) {
    const std::vector<std::string_view> f = Fields(line);
    if (f.size() < 6) continue;
    const int n = ParseInt(f[0]), priority = ParseInt(f[1]);
    if (n < 0 || n >= kCornerLines || priority < 0 || priority > 2) continue;
    OverlayItem& item = table.lines[n][priority];
    item.level = static_cast<int16_t>(ParseInt(f[2]));
    item.enabled = static_cast<int16_t>(ParseInt(f[3]));
    item.group = TagText(f[4]);
    item.element = TagText(f[5]);
    item.label = f.size() > 7 ? std::string(CutSjis(f[7], 31)) : std::string();
    item.unit = f.size() > 8 ? CutSjis(f[8], 7) : std::string();
    if (item.enabled == 1 && n > largest) largest = n;
  }
  table.lineCount = largest + 1;
}

void LoadOverlayGroups(const Settings& settings, const std::string& installFolder, OverlayConfig& config,
                       const Log& log) {
  config.groups.clear();
  OverlayGroup other;
  other.name = settings.otherGroup;
  other.usable = IsSafeGroupName(other.name);
  if (!other.usable)
    log.Write(Format(SJ("グループ(%s)のフォルダ名は使えません"), other.name), kLogWarning, 1);
  config.groups.push_back(std::move(other));
  int count = 0;
  for (const std::string& name : settings.groups) {
    if (count == kMaxOverlayGroups - 1) {
      log.Write(Format(SJ("グループ(%s)は無視しました"), name), kLogWarning, 1);
      continue;
    }
    ++count;
    OverlayGroup g;
    g.name = name;
    g.usable = IsSafeGroupName(name);
    if (!g.usable) {
      log.Write(Format(SJ("グループ(%s)のフォルダ名は使えません"), name), kLogWarning, 1);
    } else {
      std::string bytes;
      if (ReadWholeFile(GroupFolder(installFolder, name) + "Key.csv", &bytes).status == FileReadStatus::kOk)
        ParseKeyFile(bytes, g);
    }
    config.groups.push_back(std::move(g));
  }
}

bool LoadCornerFiles(const std::string& installFolder, OverlayConfig& config, const Log& log, Notifier* notifier) {
  for (OverlayGroup& g : config.groups) {
    for (int c = 0; c < 4; ++c) g.corners[c] = CornerTable{};
  }
  for (OverlayGroup& g : config.groups) {
    if (!g.usable) continue;  // never a path outside Config
    for (int c = 0; c < 4; ++c) {
      const std::string path = GroupFolder(installFolder, g.name) + CornerFileName(c);
      const std::string pathText = SjisFromUtf8(path);
      std::string bytes;
      const FileReadResult r = ReadWholeFile(path, &bytes);
      if (r.status == FileReadStatus::kMissing) {
        const std::string msg = Format(SJ("設定ファイル(%s)が見つかりませんでした"), pathText);
        log.Write(msg, kLogError, 1);
        if (notifier) notifier->Show(SJ("エラー"), msg, NoticeIcon::Error);
        return false;
      }
      if (r.status == FileReadStatus::kOpenFailed) {
        log.Write(Format(SJ("設定ファイル(%s)のオープンに失敗しました"), pathText), kLogError, 1);
        return false;
      }
      if (r.status == FileReadStatus::kOutOfMemory) {
        const std::string msg =
            Format(c == 0 ? SJ("%s用のメモリの確保に失敗しました。(%d Byte)メモリ不足の可能性があります。")
                          : SJ("%s用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
                   pathText, static_cast<long long>(r.size));
        log.Write(msg, kLogWarning, 1);
        if (notifier) notifier->Show(SJ("警告"), msg, NoticeIcon::Warning);
        return false;
      }
      log.Write(Format(SJ("設定ファイル(%s)の読み込み"), pathText), kLogNormal, 2);
      ParseCornerFile(bytes, g.corners[c]);
    }
  }
  return true;
}

int SelectOverlayGroup(const OverlayConfig& config, const DicomImage& im) {
  auto imageValue = [&](uint16_t g, uint16_t e, std::string_view* out) {
    if (g != 0x0008) return false;
    switch (e) {
      case 0x0060: *out = im.modality.view(); return true;
      case 0x0070: *out = im.manufacturer.view(); return true;
      case 0x0080: *out = im.institutionName.view(); return true;
      case 0x1010: *out = im.stationName.view(); return true;
      case 0x1090: *out = im.modelName.view(); return true;
      default: return false;
    }
  };
  for (size_t gi = 1; gi < config.groups.size(); ++gi) {
    const OverlayGroup& group = config.groups[gi];
    for (int j = 0; j < group.alternatives; ++j) {
      bool all = true;
      for (const KeyLine& k : group.keys) {
        if (static_cast<size_t>(j) >= k.values.size() || k.values[static_cast<size_t>(j)].empty()) continue;
        const std::string& want = k.values[static_cast<size_t>(j)];
        uint16_t g = 0, e = 0;
        std::string_view have;
        if (!ParseHex(k.group, &g) || !ParseHex(k.element, &e) || !imageValue(g, e, &have)) continue;  // other tags
        if (have.substr(0, want.size()) != want) {
          all = false;
          break;
        }
      }
      if (all) return static_cast<int>(gi);
    }
  }
  return 0;
}

OverlayTexts LayOutOverlay(const OverlayConfig& config, int group, const OverlayInput& in, const Dictionaries& dict,
                           const FormatSettings& format, const Log& log) {
  OverlayTexts t;
  if (in.overlayLevel < 0 || in.overlayLevel > 1) return t;
  if (group < 0 || static_cast<size_t>(group) >= config.groups.size()) group = 0;
  if (!config.groups.empty()) {
    const OverlayGroup& g = config.groups[static_cast<size_t>(group)];
    for (int c = 0; c < 4; ++c) {
      const CornerTable& table = g.corners[c];
      for (int n = 0; n < table.lineCount && n < kCornerLines; ++n) {
        std::string line;
        for (int p = 0; p < 3; ++p) {
          const OverlayItem& item = table.lines[n][p];
          if (item.enabled != 1 || item.level > in.overlayLevel) continue;
          std::string value;
          if (FormatTagValue(in.image, in.blocked, dict, format, item.group.view(), item.element.view(), &value, log)) {
            line = std::string(item.label.view()) + value + std::string(item.unit.view());
            break;
          }
        }
        t.corners[c].push_back(std::move(line));
      }
    }
  }
  if (in.overlayLevel == 1 && in.image != nullptr) {
    if (in.image->isColour) {
      t.levelWidth = {Format(SJ("明度:%4d"), in.image->level), Format(SJ("彩度:%4d"), in.image->width)};
    } else {
      t.levelWidth = {Format("L:%5d", in.image->level), Format("W:%5d", in.image->width)};
    }
    if (!in.rotated) {
      t.orientationHorizontal = in.orientationHorizontal;
      t.orientationVertical = in.orientationVertical;
    }
  }
  t.selectionCaption = in.selectionCaption;
  t.selectionValue = CutSjis(in.selectionValue, 193);
  return t;
}

std::vector<CornerFileRow> ParseCornerRows(std::string_view bytes) {
  std::vector<CornerFileRow> rows;
  for (std::string_view line : Lines(bytes)) {
    if (line.empty()) continue;
    const std::vector<std::string_view> f = Fields(line);
    CornerFileRow r;
    std::string* cells[9] = {&r.line, &r.priority, &r.level, &r.enabled, &r.group, &r.element, &r.name, &r.label, &r.unit};
    for (size_t i = 0; i < 9 && i < f.size(); ++i) cells[i]->assign(f[i]);
    rows.push_back(std::move(r));
  }
  return rows;
}

std::string CornerRowsText(const std::vector<CornerFileRow>& rows) {
  std::string s;
  for (const CornerFileRow& r : rows)
    s += r.line + "," + r.priority + "," + r.level + "," + r.enabled + "," + r.group + "," + r.element + "," + r.name +
         "," + r.label + "," + r.unit + "\r\n";
  return s;
}

std::string KeyFileText(const std::vector<KeyLine>& keys) {
  std::string s;
  for (const KeyLine& k : keys) {
    s += k.displayName + "," + k.group + "," + k.element + "," + k.field4;
    for (const std::string& v : k.values) s += "," + v;
    s += "\r\n";
  }
  return s;
}

namespace {

bool NameTaken(const std::vector<std::string>& groups, std::string_view other, std::string_view name) {
  if (name == other) return true;
  for (const std::string& g : groups)
    if (g == name) return true;
  return false;
}

// True when `folder` is a real folder (not a link) whose parent is the Config folder.
bool IsGroupFolderInsideConfig(const std::string& installFolder, const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path config = fs::weakly_canonical(fs::path(installFolder + "Config"), ec);
  if (ec) return false;
  const fs::path p = fs::path(folder).parent_path();  // folder ends in "/"
  struct stat st;
  if (lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  const fs::path parent = fs::weakly_canonical(p.parent_path(), ec);
  return !ec && parent == config;
}

}  // namespace

GroupEditResult CreateOverlayGroup(const std::string& installFolder, std::vector<std::string>& groups,
                                   std::string_view otherGroup, const std::string& name) {
  namespace fs = std::filesystem;
  if (!IsSafeGroupName(name) || NameTaken(groups, otherGroup, name)) return GroupEditResult::kRefusedName;
  if (groups.size() >= static_cast<size_t>(kMaxOverlayGroups - 1)) return GroupEditResult::kFailed;
  const std::string folder = GroupFolder(installFolder, name);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return GroupEditResult::kFailed;
  const char* files[5] = {"Key.csv", CornerFileName(0), CornerFileName(1), CornerFileName(2), CornerFileName(3)};
  for (const char* f : files) {
    const std::string to = folder + f;
    if (fs::exists(to, ec)) continue;
    fs::copy_file(installFolder + "Master/" + f, to, ec);  // a missing template leaves the file missing
  }
  groups.push_back(name);
  return GroupEditResult::kOk;
}

GroupEditResult RenameOverlayGroup(const std::string& installFolder, std::vector<std::string>& groups,
                                   std::string_view otherGroup, size_t index, const std::string& name) {
  namespace fs = std::filesystem;
  if (index >= groups.size()) return GroupEditResult::kFailed;
  if (!IsSafeGroupName(name) || NameTaken(groups, otherGroup, name)) return GroupEditResult::kRefusedName;
  if (!IsSafeGroupName(groups[index])) return GroupEditResult::kFailed;
  const std::string from = GroupFolder(installFolder, groups[index]), to = GroupFolder(installFolder, name);
  std::error_code ec;
  if (fs::exists(fs::path(to).parent_path(), ec)) return GroupEditResult::kFailed;  // never replace a folder
  fs::rename(fs::path(from).parent_path(), fs::path(to).parent_path(), ec);
  if (ec) return GroupEditResult::kFailed;
  groups[index] = name;
  return GroupEditResult::kOk;
}

bool DeleteOverlayGroup(const std::string& installFolder, std::vector<std::string>& groups, size_t index) {
  namespace fs = std::filesystem;
  if (index >= groups.size()) return false;
  if (IsSafeGroupName(groups[index])) {
    const std::string folder = GroupFolder(installFolder, groups[index]);
    std::error_code ec;
    if (fs::exists(fs::path(folder).parent_path(), ec)) {
      if (!IsGroupFolderInsideConfig(installFolder, folder)) return false;
      fs::remove_all(fs::path(folder).parent_path(), ec);  // remove_all does not follow links inside
      if (ec) return false;
    }
  }
  groups.erase(groups.begin() + static_cast<long>(index));
  return true;
}

}  // namespace velmo
