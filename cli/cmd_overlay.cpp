// velmo-cli overlay FILE [--frame N] [--sjis]: the image-information lines of the four
// corners as the left pane draws them at overlay level 1, one "corner<TAB>line" per
// line, with the installation's settings and overlay configuration.
#include <iostream>

#include "base/install.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "cli_common.h"
#include "dicom/view_load.h"
#include "header/dictionary.h"
#include "render/geometry.h"
#include "render/overlay.h"

namespace velmo::cli {

int RunOverlay(const std::vector<std::string>& args) {
  std::string file;
  int frame = 1;
  bool bad = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--frame" && i + 1 < args.size()) {
      frame = ParseInt(args[++i]);
      if (frame < 1) bad = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      bad = true;
    } else if (file.empty()) {
      file = args[i];
    } else {
      bad = true;
    }
  }
  if (bad || file.empty()) {
    std::cerr << "usage: velmo-cli overlay FILE [--frame N] [--sjis]\n";
    return kExitUsage;
  }
  StderrNotifier notifier;
  Log log(InstallFolder());
  const Settings settings = Settings::Load();
  Dictionaries dict;
  if (!LoadDictionaries(InstallFolder(), dict, log, &notifier)) return kExitFailed;
  OverlayConfig config;
  LoadOverlayGroups(settings, InstallFolder(), config, log);
  const bool cornersRead = LoadCornerFiles(InstallFolder(), config, log, &notifier);

  LoadContext ctx;
  ctx.notifier = &notifier;
  ctx.log = &log;
  for (int i = 0; i < 3; ++i) ctx.nameKeywords[i] = std::string(Settings::CharsetKeyword(settings.NamePriority(i)));
  if (!LoadOneImage(ctx, file)) return kExitFailed;
  const DicomImage& im = ctx.records[0];
  if (frame > im.Frames()) {
    std::cerr << "velmo-cli overlay: the image has " << im.Frames() << " frame(s)\n";
    return kExitUsage;
  }
  FormatSettings format;
  format.japaneseEra = settings.JapaneseEra();
  for (int i = 0; i < 3; ++i) format.nameKeywords[i] = std::string(Settings::CharsetKeyword(settings.NamePriority(i)));
  OverlayInput in;
  in.image = &im;
  in.overlayLevel = 1;
  FixedText<7> h, v;
  ComputeOrientationLabels(im, false, false, h, v);
  in.orientationHorizontal = h.str();
  in.orientationVertical = v.str();
  const OverlayTexts t = LayOutOverlay(config, SelectOverlayGroup(config, im), in, dict, format, log);
  static const char* const kCorner[4] = {"UpLeft", "UpRight", "DownLeft", "DownRight"};
  std::string out;
  for (int c = 0; c < 4; ++c)
    for (const std::string& line : t.corners[c]) out += std::string(kCorner[c]) + "\t" + OutText(line) + "\n";
  for (const std::string& line : t.levelWidth) out += "LevelWidth\t" + OutText(line) + "\n";
  if (!t.orientationHorizontal.empty()) out += "Right\t" + t.orientationHorizontal + "\n";
  if (!t.orientationVertical.empty()) out += "Bottom\t" + t.orientationVertical + "\n";
  std::cout << out;
  return cornersRead ? kExitOk : kExitFailed;
}

}  // namespace velmo::cli
