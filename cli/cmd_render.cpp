// velmo-cli render FILE -o OUT [options]: one display conversion of a pane showing
// FILE, written as the display bitmap itself (.bmp), JPEG quality 80 (.jpg) or PNG.
#include <turbojpeg.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>

#include "cli_common.h"
#include "dicom/view_load.h"
#include "render/convert.h"
#include "render/geometry.h"
#include "base/install.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "shell/png_file.h"

namespace velmo::cli {

namespace {

constexpr const char* kRenderUsage =
    "usage: velmo-cli render FILE -o OUT [--frame N] [--canvas WxH] [--fit|--one-to-one|--actual|--zoom F]\n"
    "       [--level L --width W] [--rotate-left DEG|--rotate-right DEG] [--flip-h] [--flip-v]\n"
    "       [--negative] [--palette] [--denoise] [--sharpen] [--bicubic]\n"
    "  OUT ending in .bmp receives the display bitmap as it is, .jpg JPEG quality 80, .png PNG.\n";

bool EndsWith(const std::string& s, const char* suffix) {
  const std::string t(suffix);
  if (s.size() < t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - t.size() + i])) != t[i]) return false;
  return true;
}


// The visible picture top-down: one grey byte per pixel for 8-bit bitmaps (the
// colour table is a grey ramp), else red, green, blue.
struct Picture {
  int32_t width = 0, height = 0, channels = 1;
  std::vector<uint8_t> bytes;
};

Picture TopDown(const std::vector<uint8_t>& bmp) {
  Picture pic;
  pic.width = static_cast<int32_t>(BitmapU32(bmp, 18));
  pic.height = static_cast<int32_t>(BitmapU32(bmp, 22));
  const bool bits32 = BitmapU16(bmp, 28) == 32;
  const size_t off = BitmapU32(bmp, 10);
  pic.channels = bits32 ? 3 : 1;
  const size_t w = static_cast<size_t>(pic.width), h = static_cast<size_t>(pic.height);
  pic.bytes.resize(w * h * static_cast<size_t>(pic.channels));
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* row = bmp.data() + off + (h - 1 - y) * w * (bits32 ? 4 : 1);
    uint8_t* out = pic.bytes.data() + y * w * static_cast<size_t>(pic.channels);
    for (size_t x = 0; x < w; ++x) {
      if (bits32) {
        out[x * 3 + 0] = row[x * 4 + 2];
        out[x * 3 + 1] = row[x * 4 + 1];
        out[x * 3 + 2] = row[x * 4 + 0];
      } else {
        out[x] = bmp[54 + size_t{row[x]} * 4];  // blue of the colour table entry (B = G = R)
      }
    }
  }
  return pic;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return static_cast<bool>(out);
}

bool WriteJpeg(const std::string& path, const Picture& pic) {
  tjhandle handle = tjInitCompress();
  if (!handle) return false;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(handle, pic.bytes.data(), pic.width, 0, pic.height,
                             pic.channels == 1 ? TJPF_GRAY : TJPF_RGB, &jpeg, &size,
                             pic.channels == 1 ? TJSAMP_GRAY : TJSAMP_420, 80, 0);
  bool ok = rc == 0 && WriteFile(path, jpeg, size);
  if (jpeg) tjFree(jpeg);
  tjDestroy(handle);
  return ok;
}

bool WritePng(const std::string& path, const Picture& pic) {
  return WritePngFile(path, pic.bytes.data(), pic.width, pic.height, pic.channels,
                      static_cast<size_t>(pic.width) * static_cast<size_t>(pic.channels), 6);
}

}  // namespace

int ParseViewOption(const std::vector<std::string>& args, size_t& i, ViewOptions& o, std::string* why) {
  const std::string& a = args[i];
  auto value = [&](std::string* v) {
    if (i + 1 >= args.size()) return false;
    *v = args[++i];
    return true;
  };
  auto bad = [&](const std::string& text) {
    *why = text;
    return -1;
  };
  std::string v;
  if (a == "-o" || a == "--output") {
    if (!value(&o.out)) return bad("-o needs a file name");
  } else if (a == "--frame") {
    if (!value(&v) || !WholeNumber(v, &o.frame) || o.frame < 1) return bad("--frame needs a number from 1");
  } else if (a == "--canvas") {
    const size_t x = value(&v) ? v.find_first_of("xX") : std::string::npos;
    if (x == std::string::npos || !WholeNumber(v.substr(0, x), &o.canvasW) || !WholeNumber(v.substr(x + 1), &o.canvasH) ||
        o.canvasW < 4 || o.canvasH < 1 || o.canvasW > 65536 || o.canvasH > 65536)
      return bad("--canvas needs WxH (width 4..65536, height 1..65536)");
  } else if (a == "--fit") {
    o.mode = ViewOptions::kFit;
  } else if (a == "--one-to-one") {
    o.mode = ViewOptions::kOneToOne;
  } else if (a == "--actual") {
    o.mode = ViewOptions::kActual;
  } else if (a == "--zoom") {
    if (!value(&o.zoomText)) return bad("--zoom needs a factor");
    o.mode = ViewOptions::kZoom;
  } else if (a == "--level" || a == "--width") {
    int32_t n = 0;
    if (!value(&v) || !WholeNumber(v, &n)) return bad(a + " needs a whole number");
    (a == "--level" ? o.level : o.width) = n;
  } else if (a == "--rotate-left" || a == "--rotate-right") {
    if (!value(&v)) return bad(a + " needs an angle");
    int32_t n = 0;
    if (!WholeNumber(v, &n)) return bad(a + " needs a whole number of degrees");
    (a == "--rotate-left" ? o.rotateLeft : o.rotateRight) = v;
    (a == "--rotate-left" ? o.rotateRight : o.rotateLeft).reset();
  } else if (a == "--flip-h") {
    o.flipH = true;
  } else if (a == "--flip-v") {
    o.flipV = true;
  } else if (a == "--negative") {
    o.negative = true;
  } else if (a == "--palette") {
    o.palette = true;
  } else if (a == "--denoise") {
    o.denoise = true;
  } else if (a == "--sharpen") {
    o.sharpen = true;
  } else if (a == "--bicubic") {
    o.bicubic = true;
  } else {
    return 0;
  }
  return 1;
}

bool OutputNameAccepted(const std::string& out) {
  return EndsWith(out, ".bmp") || EndsWith(out, ".jpg") || EndsWith(out, ".jpeg") || EndsWith(out, ".png");
}

int ConvertPane(DicomImage& im, const ViewOptions& o, int paneNumber, const Log& log, Notifier& notifier,
                PaneDisplay* converted) {
  if (o.level) im.level = *o.level;
  if (o.width) im.width = *o.width;

  const Settings settings = Settings::Load();
  RenderContext rc;
  rc.log = &log;
  rc.notifier = &notifier;
  rc.pitch = DisplayPitch{settings.dotPitchX, settings.dotPitchY};
  if (BuildDisplayTables(rc.tables, InstallFolder(), log, &notifier) != TablesResult::kOk) return kExitFailed;

  PaneDisplay pane;
  pane.pane = paneNumber;
  pane.showsReformat = paneNumber == 2;
  pane.canvasWidth = o.canvasW;
  pane.canvasHeight = o.canvasH;
  pane.frame = o.frame;
  pane.interpolation = (o.bicubic || settings.Bicubic()) ? Interpolation::kBicubic : Interpolation::kBilinear;
  pane.negative = o.negative;
  pane.paletteColour = o.palette && !im.isColour;
  pane.noiseRemoval = o.denoise && !im.isColour;
  pane.sharpen = o.sharpen && !im.isColour;
  switch (o.mode) {
    case ViewOptions::kFit: SetScaleMode(pane, ScaleMode::kFit, im, rc.pitch); break;
    case ViewOptions::kOneToOne: SetScaleMode(pane, ScaleMode::kOneToOne, im, rc.pitch); break;
    case ViewOptions::kActual: SetScaleMode(pane, ScaleMode::kActualSize, im, rc.pitch); break;
    case ViewOptions::kZoom:
      if (!EditZoomText(pane, o.zoomText, im, rc.pitch)) {
        std::cerr << "velmo-cli: --zoom needs a factor of at least 0.05 whose bitmap stays within 1 GiB\n";
        return kExitUsage;
      }
      break;
  }
  if (o.rotateLeft) SetRotateLeft(pane, true, ParseRotationAngle(*o.rotateLeft));
  if (o.rotateRight) SetRotateRight(pane, true, ParseRotationAngle(*o.rotateRight));
  SetFlipHorizontal(pane, o.flipH);
  SetFlipVertical(pane, o.flipV);

  const ConvertResult result = ConvertToDisplay(rc, pane, im);
  if (result == ConvertResult::kFailed) return kExitFailed;
  if (result == ConvertResult::kBlank) {
    std::cerr << "velmo-cli: nothing to draw (no pixel data for this frame, or the image does not fit the canvas)\n";
    return kExitFailed;
  }
  *converted = std::move(pane);
  return kExitOk;
}

int RenderRecordToFile(DicomImage& im, const ViewOptions& o, int paneNumber, const Log& log, Notifier& notifier) {
  PaneDisplay pane;
  if (const int status = ConvertPane(im, o, paneNumber, log, notifier, &pane); status != kExitOk) return status;
  const size_t size = BitmapU32(im.displayBitmap, 2);
  bool ok;
  if (EndsWith(o.out, ".bmp"))
    ok = WriteFile(o.out, im.displayBitmap.data(), size);
  else if (EndsWith(o.out, ".png"))
    ok = WritePng(o.out, TopDown(im.displayBitmap));
  else
    ok = WriteJpeg(o.out, TopDown(im.displayBitmap));
  if (!ok) {
    std::cerr << "velmo-cli: cannot write " << o.out << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

int RunRender(const std::vector<std::string>& args) {
  std::string file;
  ViewOptions o;
  auto usage = [](const std::string& why) {
    std::cerr << "velmo-cli render: " << why << "\n" << kRenderUsage;
    return kExitUsage;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string why;
    const int taken = ParseViewOption(args, i, o, &why);
    if (taken < 0) return usage(why);
    if (taken > 0) continue;
    if (!a.empty() && a[0] == '-') {
      return usage("unknown option " + a);
    } else if (file.empty()) {
      file = a;
    } else {
      return usage("one FILE only");
    }
  }
  if (file.empty() || o.out.empty()) return usage("FILE and -o OUT are required");
  if (!OutputNameAccepted(o.out)) return usage("OUT must end in .bmp, .jpg or .png");

  StderrNotifier notifier;
  Log log(InstallFolder());
  LoadContext ctx;
  ctx.notifier = &notifier;
  ctx.log = &log;
  if (!LoadOneImage(ctx, file)) return kExitFailed;
  const int rc = RenderRecordToFile(ctx.records[0], o, 1, log, notifier);
  if (rc == kExitUsage) std::cerr << kRenderUsage;
  return rc;
}

}  // namespace velmo::cli
