#pragma once
// The three display lookup tables shared by both panes: the two grey ramps copied
// into the colour table of 8-bit display bitmaps, and the colour palette read from
// Config/a-LUT.csv that grey images are shown through in palette-colour mode.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmo {

class Log;
class Notifier;

struct DisplayTables {
  // 256 entries of blue, green, red, reserved.
  std::array<uint8_t, 1024> boneWhite{};  // "骨白": entry i = (i, i, i, 0)
  std::array<uint8_t, 1024> boneBlack{};  // "骨黒": entry i = (255-i, 255-i, 255-i, 0)
  // 256 rows of red, green, blue; row k is the colour of display value k.
  std::array<uint8_t, 768> colourPalette{};  // "カラーパレット"

  DisplayTables();  // fills the ramps; the palette starts black
};

// Fills `palette` (256 rows of red, green, blue) from the text of a-LUT.csv: line k
// is row k, three fields "red,green,blue" converted like atoi from at most their
// first 3 characters and stored as the low 8 bits. Rows the text does not give stay
// as they are; lines past 256 and fields past 3 are ignored. Lines end with LF or
// CR LF; a last line without an end counts.
void ParseColourPalette(std::string_view text, std::array<uint8_t, 768>& palette);

enum class TablesResult {
  kOk,          // tables ready (the palette may be black when a-LUT.csv was missing)
  kOutOfMemory  // reported; the caller abandons its initialisation
};

// Builds the tables and reads `installFolder` + "Config/a-LUT.csv". A missing file
// is logged and shown ("エラー"); a file that cannot be opened is logged only; in both
// cases the palette stays black and the result is kOk.
TablesResult BuildDisplayTables(DisplayTables& tables, const std::string& installFolder, const Log& log,
                                Notifier* notifier);

}  // namespace velmo
