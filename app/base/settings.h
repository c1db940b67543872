#pragma once
// Typed access to every setting of Velmo.ini. Text values stay Shift-JIS bytes as
// stored; numbers are parsed locale-free; colours are 0x00BBGGRR.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

class IniFile;

struct WindowRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;  // "WndStartX", "WndStartY", "WndEndX", "WndEndY"
};

struct PrintSettings {                 // section "印刷"
  std::string orientation;             // "向き": "縦" or "横" (default "縦")
  std::string paper;                   // "用紙": "A3", "A4", "A5", "B4", "B5", "はがき" (default "A4")
  int32_t marginTop = 2000, marginBottom = 2000, marginLeft = 2000, marginRight = 2000;  // 1/100 mm
  int32_t header = 0, footer = 0;      // "ヘッダー", "フッター" in mm
  bool blackBackground = false;        // "背景黒" 1/0
  std::string layout;                  // "コマ数", e.g. "2×2" (default "1×1")
  bool Landscape() const;
};

enum class SortKey { None, PatientId, PatientName, StudyDate, StudyTime, Modality };
enum class NamePart { None, Alphabetic, Ideographic, Phonetic };  // "ローマ字", "漢字", "カナ", "なし"

struct Settings {
  // "色設定"
  uint32_t selectFrame1 = 0, selectFrame2 = 0;                       // "選択枠1", "選択枠2"
  uint32_t distanceColor = 0, ctrColor = 0, angleColor = 0;          // "距離", "心胸郭比", "角度"
  uint32_t pixelValueColor = 0, roiCircleColor = 0, roiBoxColor = 0;  // "ピクセル値", "ROI○", "ROI□"
  uint32_t sliceLineColor = 0;                                       // "スライスライン"
  uint32_t mprActiveColor = 0, mprColor = 0;                         // "MPR有効", "MPR"
  // "画像情報"
  int32_t overlayFontSize = 0;   // "サイズ" in points
  std::string overlayFont;       // "フォント"
  uint32_t overlayColor = 0;     // "色"
  std::string era;               // "年号": "西暦" or "和暦"
  // "外部ソフト"
  std::array<std::string, 4> programNames;  // "ボタン名1".."ボタン名4"
  std::array<std::string, 4> programPaths;  // "パス1".."パス4" (Shift-JIS as stored)
  // "ソート" and "昇順降順", positions "１位".."５位"
  std::array<std::string, 5> sortKeys;      // "", "患者ID", "患者名", "検査日", "検査時刻", "モダリティ"
  std::array<std::string, 5> sortOrders;    // "昇順" or "降順"
  // "患者名" "１位".."３位"
  std::array<std::string, 3> namePriorities;  // "ローマ字", "漢字", "カナ", "なし"
  // "画像処理"
  std::string zoomMethod;  // "拡大方法": "バイリニア" or "バイキュービック"
  // "詳細"
  int32_t logLevel = 0;
  int32_t logFileCount = 0;
  double dotPitchX = 0, dotPitchY = 0;
  WindowRect window;
  // "リスト" "最大数": file-table capacity; missing or <= 0 gives 5000
  int32_t listCapacity = 5000;
  // "グループ"
  std::vector<std::string> groups;  // "グループ1".."グループ<数>"
  std::string otherGroup;           // "その他"
  // "印刷"
  PrintSettings print;
  // "状態"
  std::string listLevel;    // "リスト": "患者", "検査", "シリーズ", "画像"
  std::string displayMode;  // "画像の表示方法": "結合表示" or "分離表示"

  static constexpr int32_t kDefaultListCapacity = 5000;

  // Reads the installation's Velmo.ini (a missing file gives the defaults).
  static Settings Load();
  static Settings LoadFrom(const std::string& iniPath);
  static Settings FromIni(const IniFile& ini);

  // Writes every key of the settings dialog ("色設定", "画像情報", "外部ソフト",
  // "ソート", "昇順降順", "患者名", "画像処理", "詳細" LogLevel/LogFileCount/DotPitch,
  // "リスト" "最大数"); every other line of the file is kept.
  bool Save() const;
  bool SaveTo(const std::string& iniPath) const;
  void ApplyDialogKeys(IniFile& ini) const;

  // Written by the main window when it closes: "状態" keys and the window rectangle.
  static bool SaveWindowState(std::string_view listLevelSjis, std::string_view displayModeSjis, const WindowRect& rect);
  // Rewrites the section "グループ": "数", "グループ%d" in order (stale higher
  // numbers removed), "その他".
  static bool SaveGroups(const std::vector<std::string>& groups, std::string_view otherGroupSjis);
  static bool SavePrint(const PrintSettings& print);

  // Meanings.
  bool Bicubic() const;          // "拡大方法" is "バイキュービック"
  bool JapaneseEra() const;      // "年号" is "和暦"
  SortKey SortKeyAt(int position) const;      // position 0..4
  bool Descending(int position) const;        // "降順"
  NamePart NamePriority(int position) const;  // position 0..2
  // The character-set keyword a name priority stands for: "IR 6", "IR 87", "IR 13",
  // or "" for "なし"/unknown.
  static std::string_view CharsetKeyword(NamePart part);
};

}  // namespace velmo
