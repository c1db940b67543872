// velmo-cli measure FILE [view options] MEASUREMENT...: places measurements on a pane
// showing FILE as the mouse would (canvas pixel coordinates) and prints each label
// text as the pane draws it; ROIs add their statistics as name=value lines.
#include <iostream>
#include <optional>

#include "base/install.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "cli_common.h"
#include "dicom/view_load.h"
#include "measure/measurement.h"
#include "render/convert.h"
#include "render/geometry.h"

namespace velmo::cli {

namespace {

constexpr const char* kMeasureUsage =
    "usage: velmo-cli measure FILE [--frame N] [--canvas WxH] [--fit|--one-to-one|--actual|--zoom F]\n"
    "       [--rotate-left DEG|--rotate-right DEG] [--flip-h] [--flip-v] [render's other view options]\n"
    "       (--distance X1,Y1,X2,Y2 | --angle X1,Y1,X2,Y2,X3,Y3,X4,Y4 | --ctr [--drag X1,Y1,X2,Y2]... |\n"
    "        --pixel X,Y | --roi-ellipse X1,Y1,X2,Y2 | --roi-rect X1,Y1,X2,Y2)...\n"
    "  Coordinates are canvas pixels, as a mouse would give them.\n";


// "X1,Y1,..." with exactly `count` whole numbers.
bool NumberList(const std::string& text, size_t count, std::vector<int32_t>* out) {
  out->clear();
  size_t pos = 0;
  while (true) {
    const size_t comma = text.find(',', pos);
    int32_t n = 0;
    if (!WholeNumber(text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos), &n)) return false;
    out->push_back(n);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out->size() == count;
}

struct Step {
  std::string kind;  // distance, angle, ctr, drag, pixel, roi-ellipse, roi-rect
  std::vector<int32_t> v;
};

void PrintRoi(const char* kind, const RoiMeasurement& r) {
  for (const auto* t : {&r.texts.mean, &r.texts.maximum, &r.texts.minimum, &r.texts.deviation, &r.texts.area})
    std::cout << kind << '\t' << OutText(t->view()) << '\n';
  const RoiStatistics& s = r.stats;
  std::cout << "count=" << s.count << '\n'
            << "mean=" << Format("%.6f", s.mean) << '\n'
            << "maximum=" << s.maximum << '\n'
            << "minimum=" << s.minimum << '\n'
            << "deviation=" << Format("%.6f", s.deviation) << '\n'
            << "area=" << (s.hasSpacing ? Format("%.6f", s.areaMm2) : Format("%d", static_cast<long long>(s.count)))
            << '\n'
            << "areaUnit=" << (s.hasSpacing ? "mm2" : "pixel") << '\n';
}

}  // namespace

int RunMeasure(const std::vector<std::string>& args) {
  std::string file;
  ViewOptions o;  // render's view options: the pane the measurements are placed on
  std::vector<Step> steps;
  auto usage = [](const std::string& why) {
    std::cerr << "velmo-cli measure: " << why << "\n" << kMeasureUsage;
    return kExitUsage;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string why;
    const int taken = ParseViewOption(args, i, o, &why);
    if (taken < 0) return usage(why);
    if (taken > 0) continue;
    const std::string& a = args[i];
    std::string v;
    auto points = [&](size_t count) -> bool {
      Step s;
      s.kind = a.substr(2);
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      if (!NumberList(v, count, &s.v)) return false;
      steps.push_back(std::move(s));
      return true;
    };
    if (a == "--distance" || a == "--roi-ellipse" || a == "--roi-rect") {
      if (!points(4)) return usage(a + " needs X1,Y1,X2,Y2");
    } else if (a == "--angle") {
      if (!points(8)) return usage("--angle needs X1,Y1,X2,Y2,X3,Y3,X4,Y4");
    } else if (a == "--pixel") {
      if (!points(2)) return usage("--pixel needs X,Y");
    } else if (a == "--drag") {
      if (steps.empty() || (steps.back().kind != "ctr" && steps.back().kind != "drag"))
        return usage("--drag follows --ctr");
      if (!points(4)) return usage("--drag needs X1,Y1,X2,Y2");
    } else if (a == "--ctr") {
      steps.push_back({"ctr", {}});
    } else if (!a.empty() && a[0] == '-') {
      return usage("unknown option " + a);
    } else if (file.empty()) {
      file = a;
    } else {
      return usage("one FILE only");
    }
  }
  if (file.empty()) return usage("FILE is required");
  if (steps.empty()) return usage("no measurement given");

  StderrNotifier notifier;
  Log log(InstallFolder());
  LoadContext ctx;
  ctx.notifier = &notifier;
  ctx.log = &log;
  if (!LoadOneImage(ctx, file)) return kExitFailed;
  DicomImage& im = ctx.records[0];
  // The pane's geometry is that of its conversion.
  PaneDisplay pane;
  if (const int status = ConvertPane(im, o, 1, log, notifier, &pane); status != kExitOk) return status;
  pane.frame = std::clamp(o.frame, 1, im.Frames());
  const MeasureContext mc = MakeMeasureContext(pane, im, &notifier);

  PaneMeasurements m;
  bool failed = false;
  auto stroke = [&](MeasurementTool tool, MeasurePoint a, MeasurePoint b) {
    if (!m.Press(tool, a, mc)) return false;
    m.Move(b, mc);
    m.Release(b, mc);
    return true;
  };
  auto lastOf = [](auto& set) -> auto& {
    // The slot written last by a finished stroke is the highest existing one that
    // was free before: with strokes only, slots fill from 0 up.
    int i = kMeasureCapacity - 1;
    while (i > 0 && !set[i].exists) --i;
    return set[i];
  };
  for (const Step& s : steps) {
    const auto& v = s.v;
    if (s.kind == "distance") {
      if (!stroke(MeasurementTool::kDistance, {v[0], v[1]}, {v[2], v[3]})) { failed = true; continue; }
      std::cout << "distance\t" << OutText(lastOf(m.distances).text.view()) << '\n';
    } else if (s.kind == "angle") {
      if (!stroke(MeasurementTool::kAngle, {v[0], v[1]}, {v[2], v[3]}) ||
          !stroke(MeasurementTool::kAngle, {v[4], v[5]}, {v[6], v[7]})) { failed = true; continue; }
      std::cout << "angle\t" << OutText(lastOf(m.angles).text.view()) << '\n';
    } else if (s.kind == "pixel") {
      if (!stroke(MeasurementTool::kPixelValue, {v[0], v[1]}, {v[0], v[1]})) { failed = true; continue; }
      std::cout << "pixel\t" << OutText(lastOf(m.probes).text.view()) << '\n';
    } else if (s.kind == "roi-ellipse" || s.kind == "roi-rect") {
      const bool ellipse = s.kind == "roi-ellipse";
      if (!stroke(ellipse ? MeasurementTool::kRoiCircle : MeasurementTool::kRoiBox, {v[0], v[1]}, {v[2], v[3]})) {
        failed = true;
        continue;
      }
      PrintRoi(s.kind.c_str(), lastOf(ellipse ? m.circles : m.boxes));
    } else if (s.kind == "ctr" || s.kind == "drag") {
      if (s.kind == "ctr") {
        m.ratio = {};
        m.RatioToolOn(mc);
      } else {
        stroke(MeasurementTool::kRatio, {v[0], v[1]}, {v[2], v[3]});
      }
      // The texts are printed after the last drag of this ratio.
      const bool lastOfRatio = &s == &steps.back() || (&s + 1)->kind != "drag";
      if (lastOfRatio) {
        std::cout << "ctr\t" << OutText(m.ratio.ratioText.view()) << '\n';
        std::cout << "ctr\t" << OutText(m.ratio.sizeText.view()) << '\n';
      }
    }
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace velmo::cli
