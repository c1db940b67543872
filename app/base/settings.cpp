#include "base/settings.h"

#include <charconv>
#include <mutex>

#include "base/ini.h"
#include "base/install.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

constexpr int kMaxConfiguredGroups = 15;  // 16 groups in all, with "その他"

const char* const kPositions[5] = {"１位", "２位", "３位", "４位", "５位"};

// Colours are decimal text of a 32-bit value; values above INT32_MAX are kept.
uint32_t ParseColour(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
  }
  return negative ? static_cast<uint32_t>(0 - v) : static_cast<uint32_t>(v);
}

std::string ShortestDouble(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof(buf), v);
  return std::string(buf, r.ptr);
}

std::string Key(const char* utf8) { return SjisFromUtf8(utf8); }

struct Reader {
  const IniFile& ini;
  std::string section;
  std::string Str(const char* key) const { return ini.Get(section, Key(key)); }
  int32_t Int(const char* key) const { return ParseInt(Str(key)); }
  int32_t IntOr(const char* key, int32_t def) const { return ini.GetInt(section, Key(key), def); }
  uint32_t Colour(const char* key) const { return ParseColour(Str(key)); }
  std::string StrOr(const char* key, std::string_view defUtf8) const {
    return ini.Has(section, Key(key)) ? Str(key) : SjisFromUtf8(defUtf8);
  }
};

struct Writer {
  IniFile& ini;
  std::string section;
  void Str(const char* key, std::string_view value) const { ini.Set(section, Key(key), value); }
  void Int(const char* key, long long value) const { Str(key, Format("%d", value)); }
  void Colour(const char* key, uint32_t value) const { Str(key, Format("%u", value)); }
};

bool UpdateIni(const std::string& path, void (*fn)(IniFile&, const void*), const void* ctx) {
  return UpdateIniFile(path, [&](IniFile& ini) { fn(ini, ctx); });
}

}  // namespace

bool PrintSettings::Landscape() const { return orientation == SJ("横"); }

Settings Settings::FromIni(const IniFile& ini) {
  Settings s;
  {
    Reader r{ini, Key("色設定")};
    s.selectFrame1 = r.Colour("選択枠1");
    s.selectFrame2 = r.Colour("選択枠2");
    s.distanceColor = r.Colour("距離");
    s.ctrColor = r.Colour("心胸郭比");
    s.angleColor = r.Colour("角度");
    s.pixelValueColor = r.Colour("ピクセル値");
    s.roiCircleColor = r.Colour("ROI○");
    s.roiBoxColor = r.Colour("ROI□");
    s.sliceLineColor = r.Colour("スライスライン");
    s.mprActiveColor = r.Colour("MPR有効");
    s.mprColor = r.Colour("MPR");
  }
  {
    Reader r{ini, Key("画像情報")};
    s.overlayFontSize = r.Int("サイズ");
    s.overlayFont = r.Str("フォント");
    s.overlayColor = r.Colour("色");
    s.era = r.Str("年号");
  }
  {
    Reader r{ini, Key("外部ソフト")};
    for (int i = 0; i < 4; ++i) {
      s.programNames[i] = ini.Get(r.section, Format("%s%d", Key("ボタン名"), i + 1));
      s.programPaths[i] = ini.Get(r.section, Format("%s%d", Key("パス"), i + 1));
    }
  }
  {
    Reader sort{ini, Key("ソート")}, order{ini, Key("昇順降順")};
    for (int i = 0; i < 5; ++i) {
      s.sortKeys[i] = sort.Str(kPositions[i]);
      s.sortOrders[i] = order.Str(kPositions[i]);
    }
    Reader names{ini, Key("患者名")};
    for (int i = 0; i < 3; ++i) s.namePriorities[i] = names.Str(kPositions[i]);
  }
  s.zoomMethod = Reader{ini, Key("画像処理")}.Str("拡大方法");
  {
    Reader r{ini, Key("詳細")};
    s.logLevel = r.Int("LogLevel");
    s.logFileCount = r.Int("LogFileCount");
    s.dotPitchX = ParseDouble(r.Str("DotPitchX"));
    s.dotPitchY = ParseDouble(r.Str("DotPitchY"));
    s.window.left = r.IntOr("WndStartX", 0);
    s.window.top = r.IntOr("WndStartY", 0);
    s.window.right = r.IntOr("WndEndX", 0);
    s.window.bottom = r.IntOr("WndEndY", 0);
  }
  s.listCapacity = Reader{ini, Key("リスト")}.IntOr("最大数", kDefaultListCapacity);
  if (s.listCapacity <= 0) s.listCapacity = kDefaultListCapacity;
  {
    Reader r{ini, Key("グループ")};
    int n = r.Int("数");
    if (n < 0) n = 0;
    if (n > kMaxConfiguredGroups) n = kMaxConfiguredGroups;
    for (int i = 1; i <= n; ++i) s.groups.push_back(ini.Get(r.section, Format("%s%d", Key("グループ"), i)));
    s.otherGroup = r.Str("その他");
  }
  {
    Reader r{ini, Key("印刷")};
    s.print.orientation = r.StrOr("向き", "縦");
    s.print.paper = r.StrOr("用紙", "A4");
    s.print.marginTop = r.IntOr("マージン上", 2000);
    s.print.marginBottom = r.IntOr("マージン下", 2000);
    s.print.marginLeft = r.IntOr("マージン左", 2000);
    s.print.marginRight = r.IntOr("マージン右", 2000);
    s.print.header = r.Int("ヘッダー");
    s.print.footer = r.Int("フッター");
    s.print.blackBackground = r.Int("背景黒") == 1;
    s.print.layout = r.StrOr("コマ数", "1×1");
  }
  {
    Reader r{ini, Key("状態")};
    s.listLevel = r.Str("リスト");
    s.displayMode = r.Str("画像の表示方法");
  }
  return s;
}

Settings Settings::LoadFrom(const std::string& iniPath) {
  IniFile ini;
  ini.Load(iniPath);
  return FromIni(ini);
}

Settings Settings::Load() { return LoadFrom(IniPath()); }

void Settings::ApplyDialogKeys(IniFile& ini) const {
  {
    Writer w{ini, Key("色設定")};
    w.Colour("選択枠1", selectFrame1);
    w.Colour("選択枠2", selectFrame2);
    w.Colour("距離", distanceColor);
    w.Colour("心胸郭比", ctrColor);
    w.Colour("角度", angleColor);
    w.Colour("ピクセル値", pixelValueColor);
    w.Colour("ROI○", roiCircleColor);
    w.Colour("ROI□", roiBoxColor);
    w.Colour("スライスライン", sliceLineColor);
    w.Colour("MPR有効", mprActiveColor);
    w.Colour("MPR", mprColor);
  }
  {
    Writer w{ini, Key("画像情報")};
    w.Int("サイズ", overlayFontSize);
    w.Str("フォント", overlayFont);
    w.Colour("色", overlayColor);
    w.Str("年号", era);
  }
  {
    Writer w{ini, Key("外部ソフト")};
    for (int i = 0; i < 4; ++i) {
      ini.Set(w.section, Format("%s%d", Key("ボタン名"), i + 1), programNames[i]);
      ini.Set(w.section, Format("%s%d", Key("パス"), i + 1), programPaths[i]);
    }
  }
  {
    Writer sort{ini, Key("ソート")}, order{ini, Key("昇順降順")}, names{ini, Key("患者名")};
    for (int i = 0; i < 5; ++i) sort.Str(kPositions[i], sortKeys[i]);
    for (int i = 0; i < 5; ++i) order.Str(kPositions[i], sortOrders[i]);
    for (int i = 0; i < 3; ++i) names.Str(kPositions[i], namePriorities[i]);
  }
  Writer{ini, Key("画像処理")}.Str("拡大方法", zoomMethod);
  {
    Writer w{ini, Key("詳細")};
    w.Int("LogLevel", logLevel);
    w.Int("LogFileCount", logFileCount);
    w.Str("DotPitchX", ShortestDouble(dotPitchX));
    w.Str("DotPitchY", ShortestDouble(dotPitchY));
  }
  Writer{ini, Key("リスト")}.Int("最大数", listCapacity);
}

bool Settings::SaveTo(const std::string& iniPath) const {
  return UpdateIni(iniPath, [](IniFile& ini, const void* self) {
    static_cast<const Settings*>(self)->ApplyDialogKeys(ini);
  }, this);
}

bool Settings::Save() const { return SaveTo(IniPath()); }

bool Settings::SaveWindowState(std::string_view listLevelSjis, std::string_view displayModeSjis,
                               const WindowRect& rect) {
  struct Ctx { std::string_view level, mode; const WindowRect& rect; } ctx{listLevelSjis, displayModeSjis, rect};
  return UpdateIni(IniPath(), [](IniFile& ini, const void* p) {
    const Ctx& c = *static_cast<const Ctx*>(p);
    Writer state{ini, Key("状態")};
    state.Str("リスト", c.level);
    state.Str("画像の表示方法", c.mode);
    Writer w{ini, Key("詳細")};
    w.Int("WndStartX", c.rect.left);
    w.Int("WndStartY", c.rect.top);
    w.Int("WndEndX", c.rect.right);
    w.Int("WndEndY", c.rect.bottom);
  }, &ctx);
}

bool Settings::SaveGroups(const std::vector<std::string>& groups, std::string_view otherGroupSjis) {
  struct Ctx { const std::vector<std::string>& groups; std::string_view other; } ctx{groups, otherGroupSjis};
  return UpdateIni(IniPath(), [](IniFile& ini, const void* p) {
    const Ctx& c = *static_cast<const Ctx*>(p);
    Writer w{ini, Key("グループ")};
    const int old = ParseInt(ini.Get(w.section, Key("数")));
    w.Int("数", static_cast<long long>(c.groups.size()));
    for (size_t i = 0; i < c.groups.size(); ++i) {
      ini.Set(w.section, Format("%s%d", Key("グループ"), static_cast<int>(i + 1)), c.groups[i]);
    }
    for (int i = static_cast<int>(c.groups.size()) + 1; i <= std::max(old, kMaxConfiguredGroups); ++i) {
      ini.Remove(w.section, Format("%s%d", Key("グループ"), i));
    }
    w.Str("その他", c.other);
  }, &ctx);
}

bool Settings::SavePrint(const PrintSettings& print) {
  return UpdateIni(IniPath(), [](IniFile& ini, const void* p) {
    const PrintSettings& s = *static_cast<const PrintSettings*>(p);
    Writer w{ini, Key("印刷")};
    w.Str("向き", s.orientation);
    w.Str("用紙", s.paper);
    w.Int("マージン上", s.marginTop);
    w.Int("マージン下", s.marginBottom);
    w.Int("マージン左", s.marginLeft);
    w.Int("マージン右", s.marginRight);
    w.Int("ヘッダー", s.header);
    w.Int("フッター", s.footer);
    w.Int("背景黒", s.blackBackground ? 1 : 0);
    w.Str("コマ数", s.layout);
  }, &print);
}

bool Settings::Bicubic() const { return zoomMethod == SJ("バイキュービック"); }
bool Settings::JapaneseEra() const { return era == SJ("和暦"); }

SortKey Settings::SortKeyAt(int position) const {
  if (position < 0 || position >= 5) return SortKey::None;
  const std::string& k = sortKeys[position];
  if (k == SJ("患者ID")) return SortKey::PatientId;
  if (k == SJ("患者名")) return SortKey::PatientName;
  if (k == SJ("検査日")) return SortKey::StudyDate;
  if (k == SJ("検査時刻")) return SortKey::StudyTime;
  if (k == SJ("モダリティ")) return SortKey::Modality;
  return SortKey::None;
}

bool Settings::Descending(int position) const {
  return position >= 0 && position < 5 && sortOrders[position] == SJ("降順");
}

NamePart Settings::NamePriority(int position) const {
  if (position < 0 || position >= 3) return NamePart::None;
  const std::string& p = namePriorities[position];
  if (p == SJ("ローマ字")) return NamePart::Alphabetic;
  if (p == SJ("漢字")) return NamePart::Ideographic;
  if (p == SJ("カナ")) return NamePart::Phonetic;
  return NamePart::None;
}

std::string_view Settings::CharsetKeyword(NamePart part) {
  switch (part) {
    case NamePart::Alphabetic: return "IR 6";
    case NamePart::Ideographic: return "IR 87";
    case NamePart::Phonetic: return "IR 13";
    default: return "";
  }
}

}  // namespace velmo
