#pragma once
// Shared pieces of velmo-cli: the stderr notifier, output text conversion and
// the exit codes (0 done, 1 the operation failed, 2 bad usage).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/notifier.h"

namespace velmo {
struct DicomImage;
struct LoadContext;
struct PaneDisplay;
class Log;
}  // namespace velmo

namespace velmo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Prints messages to stderr in UTF-8 and answers questions with "no".
class StderrNotifier final : public Notifier {
 public:
  void Show(std::string_view caption, std::string_view message, NoticeIcon icon) override;
  bool AskYesNo(std::string_view caption, std::string_view message, NoticeIcon icon) override;
};

// Core text (Shift-JIS) as output text: UTF-8, or the bytes as they are with --sjis.
std::string OutText(std::string_view sjis);
void SetSjisOutput(bool on);
bool SjisOutput();
// Trailing spaces and NULs removed, then OutText.
std::string CleanText(std::string_view sjis);

// Prints "velmo-cli: <message>" (message in Shift-JIS) to stderr.
void PrintError(std::string_view sjisMessage);

// A whole decimal number (optional sign) that fits 32 bits, nothing else.
bool WholeNumber(const std::string& text, int32_t* out);

// Loads `file` as the only image of `ctx` (set up by the caller), as a pane shows it
// (ctx.records[0]); on failure prints the loader's message and returns false.
bool LoadOneImage(LoadContext& ctx, const std::string& file);

// The view and output options of `render` (shared by the commands that write a pane's
// picture).
struct ViewOptions {
  std::string out;
  int32_t frame = 1, canvasW = 512, canvasH = 512;
  enum Mode { kFit, kOneToOne, kActual, kZoom } mode = kFit;
  std::string zoomText;
  std::optional<int32_t> level, width;
  std::optional<std::string> rotateLeft, rotateRight;
  bool flipH = false, flipV = false, negative = false, palette = false, denoise = false, sharpen = false,
       bicubic = false;
};
// Takes the option at args[i] (and its value, advancing i): 1 taken, 0 not a view
// option, -1 bad usage (*why says what is wrong).
int ParseViewOption(const std::vector<std::string>& args, size_t& i, ViewOptions& o, std::string* why);
// OUT ends in .bmp, .jpg, .jpeg or .png.
bool OutputNameAccepted(const std::string& out);
// One display conversion of `im` in pane `paneNumber` (2: the right pane showing a
// reformatted image) with the view options (o.out is not used); *converted receives
// the pane as it was converted. Returns the exit status.
int ConvertPane(DicomImage& im, const ViewOptions& o, int paneNumber, const Log& log, Notifier& notifier,
                PaneDisplay* converted);
// ConvertPane, then the picture written to o.out. Returns the exit status.
int RenderRecordToFile(DicomImage& im, const ViewOptions& o, int paneNumber, const Log& log, Notifier& notifier);

int RunInfo(const std::vector<std::string>& args);
int RunRender(const std::vector<std::string>& args);
int RunList(const std::vector<std::string>& args);
int RunMeasure(const std::vector<std::string>& args);
// edit, add or delete (the command name decides).
int RunEdit(const std::string& command, const std::vector<std::string>& args);
int RunDump(const std::vector<std::string>& args);
int RunOverlay(const std::vector<std::string>& args);
int RunMpr(const std::vector<std::string>& args);
int RunMip(const std::vector<std::string>& args);
// Archive query (C-FIND, answers as TSV) and retrieve (C-GET, one line per file).
int RunQuery(const std::vector<std::string>& args);
int RunRetrieve(const std::vector<std::string>& args);

}  // namespace velmo::cli
