#include "study.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "dicom_writer.h"
#include "jis_text.h"

namespace velmo_sample {
namespace {

// UIDs live under a root derived from a UUID generated once for this tool, so
// every run writes the same identifiers and the files replace earlier ones.
constexpr std::string_view kRoot = "2.25.219077404518642712117644046251518254946";

std::string Uid(std::string_view suffix) { return std::string(kRoot) + "." + std::string(suffix); }

const std::string kStudyUid = Uid("1");
const std::string kFrameOfReferenceUid = Uid("2");
const std::string kCtSeriesUid = Uid("3.1");
const std::string kColourSeriesUid = Uid("3.2");
const std::string kCineSeriesUid = Uid("3.3");

constexpr const char* kCtImageStorage = "1.2.840.10008.5.1.4.1.1.2";
constexpr const char* kSecondaryCapture = "1.2.840.10008.5.1.4.1.1.7";
constexpr const char* kMultiFrameGreyByteSc = "1.2.840.10008.5.1.4.1.1.7.2";

constexpr double kPixelSpacing = 0.7;     // mm, so 512 pixels cover 358.4 mm
constexpr double kSliceThickness = 5.0;   // mm, slices are contiguous
constexpr double kTopSliceZ = 100.0;      // mm, slices step towards the feet

// Formats a decimal string value; the tool never changes the C locale.
std::string Ds(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", std::abs(v) < 5e-11 ? 0.0 : v);
  return buf;
}

std::string Is(int v) { return std::to_string(v); }

// Patient, study and equipment attributes shared by every file.
void PutCommon(DicomWriter& w, const char* sopClass, const std::string& sopInstance,
               const char* modality) {
  w.Text(0x0008, 0x0005, "CS", "\\ISO 2022 IR 87");
  w.Text(0x0008, 0x0012, "DA", "20240115");
  w.Text(0x0008, 0x0013, "TM", "093000");
  w.Text(0x0008, 0x0016, "UI", sopClass);
  w.Text(0x0008, 0x0018, "UI", sopInstance);
  w.Text(0x0008, 0x0020, "DA", "20240115");
  w.Text(0x0008, 0x0030, "TM", "091500");
  w.Text(0x0008, 0x0050, "SH", "VS0001");
  w.Text(0x0008, 0x0060, "CS", modality);
  w.Text(0x0008, 0x0070, "LO", "Velmo");
  w.Text(0x0008, 0x0080, "LO", ToIso2022Jp("山田病院"));
  w.Text(0x0008, 0x0090, "PN", "");
  w.Text(0x0008, 0x1030, "LO", ToIso2022Jp("体幹部ファントム"));
  w.Text(0x0008, 0x1090, "LO", "velmo-sample");
  w.Text(0x0010, 0x0010, "PN", ToIso2022Jp("Sato^Hanako=佐藤^花子=さとう^はなこ"));
  w.Text(0x0010, 0x0020, "LO", "VELMO-0001");
  w.Text(0x0010, 0x0030, "DA", "19650412");
  w.Text(0x0010, 0x0040, "CS", "F");
  w.Text(0x0010, 0x1010, "AS", "058Y");
  w.Text(0x0018, 0x1020, "LO", "velmo-sample 1");
  w.Text(0x0020, 0x000D, "UI", kStudyUid);
  w.Text(0x0020, 0x0010, "SH", "1");
}

// ---------------------------------------------------------------------------
// CT phantom: a trunk cross-section in Hounsfield units, painted shape by shape.

class HuImage {
 public:
  HuImage(int size, double spacing) : n_(size), ps_(spacing), hu_(size_t(size) * size, -1000.0f) {}

  void Ellipse(double cx, double cy, double a, double b, float value) {
    if (a <= 0 || b <= 0) return;
    Paint(cx - a, cy - b, cx + a, cy + b, [&](double x, double y) {
      double u = (x - cx) / a, v = (y - cy) / b;
      return u * u + v * v <= 1.0;
    }, value);
  }
  void Circle(double cx, double cy, double r, float value) { Ellipse(cx, cy, r, r, value); }
  void Rect(double x0, double y0, double x1, double y1, float value) {
    Paint(x0, y0, x1, y1, [](double, double) { return true; }, value);
  }
  // Ellipse cut to the part with y below `yLimit` (towards the front).
  void EllipseAbove(double cx, double cy, double a, double b, double yLimit, float value) {
    if (a <= 0 || b <= 0) return;
    Paint(cx - a, cy - b, cx + a, std::min(cy + b, yLimit), [&](double x, double y) {
      double u = (x - cx) / a, v = (y - cy) / b;
      return u * u + v * v <= 1.0 && y <= yLimit;
    }, value);
  }

  int Size() const { return n_; }
  double X(int col) const { return (col - (n_ - 1) / 2.0) * ps_; }
  double Y(int row) const { return (row - (n_ - 1) / 2.0) * ps_; }
  float& At(int row, int col) { return hu_[size_t(row) * n_ + col]; }

 private:
  template <typename Inside>
  void Paint(double x0, double y0, double x1, double y1, Inside inside, float value) {
    int c0 = std::max(0, static_cast<int>(std::floor(x0 / ps_ + (n_ - 1) / 2.0)));
    int c1 = std::min(n_ - 1, static_cast<int>(std::ceil(x1 / ps_ + (n_ - 1) / 2.0)));
    int r0 = std::max(0, static_cast<int>(std::floor(y0 / ps_ + (n_ - 1) / 2.0)));
    int r1 = std::min(n_ - 1, static_cast<int>(std::ceil(y1 / ps_ + (n_ - 1) / 2.0)));
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c)
        if (inside(X(c), Y(r))) At(r, c) = value;
  }

  int n_;
  double ps_;
  std::vector<float> hu_;
};

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

// Cross-section radius factor of a dome that is full above `full` and closes at `end`.
double Dome(double k, double full, double end) {
  if (k <= full) return 1.0;
  if (k >= end) return 0.0;
  double t = (k - full) / (end - full);
  return std::sqrt(1.0 - t * t);
}

// Small deterministic noise in -1 … 1 (triangular), so images look acquired.
double Noise(uint32_t a, uint32_t b, uint32_t c) {
  auto hash = [](uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
  };
  uint32_t h1 = hash(a * 73856093u ^ b * 19349663u ^ c * 83492791u);
  uint32_t h2 = hash(h1 + 0x9E3779B9u);
  return (h1 / 4294967296.0) + (h2 / 4294967296.0) - 1.0;
}

void PaintSlice(HuImage& img, int k) {
  const double z = kTopSliceZ - kSliceThickness * k;
  const double kk = k;

  // Couch below the patient.
  img.Rect(-190, 128, 190, 134, 250);
  img.Rect(-170, 121, 170, 128, -900);

  // Body: skin, subcutaneous fat, muscle wall.
  img.Ellipse(0, 0, 165, 118, 40);
  img.Ellipse(0, 0, 162, 115, -100);
  img.Ellipse(0, 0, 152, 105, 50);
  // Inside the wall: fatty tissue that the organs sit in.
  img.Ellipse(0, 0, 140, 94, -60);

  const double chest = Dome(kk, 17, 31);       // lungs and ribs fade out at the diaphragm
  const double rightLung = Dome(kk, 14, 27);   // the liver dome rises higher on the right
  const double liver = Clamp01((kk - 16) / 9.0);
  const double heart = kk < 6 ? 0.0 : Dome(kk, 14, 25) * std::min(1.0, (kk - 5) / 4.0);

  // Ribs and sternum, only in the chest; they drift slightly from slice to slice.
  if (kk < 30) {
    for (double deg : {-150.0, -120.0, -60.0, -30.0, 0.0, 30.0, 60.0, 120.0, 150.0, 180.0}) {
      double t = (deg + 6 * std::sin(kk * 0.45 + deg)) * M_PI / 180.0;
      double cx = 144 * std::cos(t), cy = 97 * std::sin(t);
      img.Ellipse(cx, cy, 7, 5, 700);
      img.Ellipse(cx, cy, 4, 2.5, 220);
    }
    if (kk < 26) {
      img.Ellipse(0, -99, 15, 6, 650);
      img.Ellipse(0, -99, 11, 3, 250);
    }
  }

  // Lungs with vessels, and a nodule in the right lung (left of the image).
  img.Ellipse(-70, -5, 58 * rightLung, 80 * rightLung, -850);
  img.Ellipse(72, -5, 56 * chest, 80 * chest, -850);
  if (chest > 0.2) {
    struct Vessel { double x, y, r; };
    const Vessel vessels[] = {{-85, -40, 3}, {-55, 20, 4}, {-95, 30, 2.5}, {-60, -55, 2},
                              {85, -35, 3}, {60, 25, 4}, {100, 20, 2.5}, {70, -60, 2}};
    for (const auto& v : vessels) {
      double dx = 6 * std::sin(kk * 0.35 + v.y), dy = 4 * std::cos(kk * 0.3 + v.x);
      double s = v.x < 0 ? rightLung : chest;
      if (s > 0.3) img.Circle(v.x * s + dx, v.y * s + dy, v.r, 45);
    }
  }
  const double noduleZ = kTopSliceZ - kSliceThickness * 11, noduleR = 13;
  if (std::abs(z - noduleZ) < noduleR)
    img.Circle(-88, -25, std::sqrt(noduleR * noduleR - (z - noduleZ) * (z - noduleZ)), 35);

  // Heart, great vessels (enhanced), oesophagus.
  if (heart > 0) {
    img.Ellipse(18, -22, 58 * heart, 48 * heart, -70);
    img.Ellipse(18, -22, 52 * heart, 42 * heart, 45);
    img.Ellipse(28, -15, 20 * heart, 16 * heart, 180);  // left ventricle cavity
  }
  if (kk < 9) img.Circle(-8, -40, 15, 190);             // ascending aorta
  if (kk < 6) img.Circle(-30, -30, 11, 170);            // superior vena cava
  const double aortaX = kk < 24 ? 22 : 22 - (kk - 24) * 0.8;
  const double aortaY = kk < 24 ? 46 : 46 - (kk - 24) * 0.4;
  img.Circle(aortaX, aortaY, 12, 200);                  // descending and abdominal aorta
  img.Circle(-6, 42, 6, 30);                            // oesophagus
  if (kk >= 18) img.Circle(-25, 40, 11, 160);           // inferior vena cava

  // Abdominal organs below the diaphragm.
  if (liver > 0) {
    img.Ellipse(-55, 5, 85 * liver, 80 * liver, 60);
    if (liver > 0.5) {
      img.Circle(-40, 10, 6 * liver, 140);
      img.Circle(-75, -15, 4 * liver, 140);
      img.Circle(-60, 40, 3.5 * liver, 140);
    }
  }
  if (kk >= 20) {  // stomach with an air-fluid level at the front
    double s = Clamp01((kk - 19) / 5.0) * (kk > 34 ? Clamp01((39 - kk) / 5.0) : 1.0);
    img.Ellipse(62, -30, 45 * s, 35 * s, 15);
    img.EllipseAbove(62, -30, 45 * s, 35 * s, -45, -950);
  }
  if (kk >= 21 && kk <= 36) img.Ellipse(98, 35, 28, 42, 50);  // spleen
  if (kk >= 29) {  // kidneys: enhancing cortex around the medulla
    for (double side : {-1.0, 1.0}) {
      double s = Dome(std::abs(kk - 34), 3, 7);
      img.Ellipse(side * 72, 55, 26 * s, 36 * s, 170);
      img.Ellipse(side * 70, 55, 14 * s, 22 * s, 35);
    }
  }

  // Spine: vertebral body (a disc every sixth slice), arch, canal, spinous process.
  const bool disc = k % 6 == 5;
  img.Circle(0, 70, 19, disc ? 90 : 700);
  if (!disc) img.Circle(0, 70, 15.5, 260);
  img.Ellipse(0, 98, 15, 13, 700);
  img.Rect(-3.5, 104, 3.5, 124, 700);
  img.Circle(0, 95, 8, 15);
  for (double side : {-1.0, 1.0}) img.Ellipse(side * 24, 90, 11, 4.5, 650);  // transverse processes

  // Reconstruction circle: outside it the scanner stores its minimum.
  const int n = img.Size();
  const double limit = img.X(n - 1) + 1e-9;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      double x = img.X(c), y = img.Y(r);
      float& v = img.At(r, c);
      if (x * x + y * y > limit * limit)
        v = -1024;
      else
        v += static_cast<float>(12 * Noise(r, c, k));
    }
}

bool WriteCt(const std::string& dir, std::string* error) {
  HuImage img(kCtSize, kPixelSpacing);
  for (int k = 0; k < kCtSlices; ++k) {
    img = HuImage(kCtSize, kPixelSpacing);
    PaintSlice(img, k);

    std::vector<uint8_t> pixels(size_t(kCtSize) * kCtSize * 2);
    for (int r = 0; r < kCtSize; ++r)
      for (int c = 0; c < kCtSize; ++c) {
        long hu = std::lround(img.At(r, c));
        auto stored = static_cast<int16_t>(std::clamp(hu, -1024L, 3071L) + 1024);
        size_t at = (size_t(r) * kCtSize + c) * 2;
        pixels[at] = static_cast<uint8_t>(stored & 0xFF);
        pixels[at + 1] = static_cast<uint8_t>((static_cast<uint16_t>(stored) >> 8) & 0xFF);
      }

    const int number = k + 1;
    const double z = kTopSliceZ - kSliceThickness * k;
    const double origin = -(kCtSize - 1) / 2.0 * kPixelSpacing;
    const std::string acqTime = "0916" + std::string(number < 10 ? "0" : "") + std::to_string(number % 60);

    DicomWriter w;
    PutCommon(w, kCtImageStorage, Uid("4.1." + Is(number)), "CT");
    w.Text(0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
    w.Text(0x0008, 0x0021, "DA", "20240115");
    w.Text(0x0008, 0x0022, "DA", "20240115");
    w.Text(0x0008, 0x0023, "DA", "20240115");
    w.Text(0x0008, 0x0031, "TM", "091600");
    w.Text(0x0008, 0x0032, "TM", acqTime);
    w.Text(0x0008, 0x0033, "TM", acqTime);
    w.Text(0x0008, 0x103E, "LO", ToIso2022Jp("胸腹部 5mm"));
    w.Text(0x0018, 0x0015, "CS", "CHEST");
    w.Text(0x0018, 0x0050, "DS", Ds(kSliceThickness));
    w.Text(0x0018, 0x0060, "DS", "120");
    w.Text(0x0018, 0x1100, "DS", Ds(kCtSize * kPixelSpacing));
    w.Text(0x0018, 0x1151, "IS", "200");
    w.Text(0x0018, 0x1210, "SH", "STANDARD");
    w.Text(0x0018, 0x5100, "CS", "HFS");
    w.Text(0x0020, 0x000E, "UI", kCtSeriesUid);
    w.Text(0x0020, 0x0011, "IS", "1");
    w.Text(0x0020, 0x0012, "IS", "1");
    w.Text(0x0020, 0x0013, "IS", Is(number));
    w.Text(0x0020, 0x0032, "DS", Ds(origin) + "\\" + Ds(origin) + "\\" + Ds(z));
    w.Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0");
    w.Text(0x0020, 0x0052, "UI", kFrameOfReferenceUid);
    w.Text(0x0020, 0x1040, "LO", "");
    w.Text(0x0020, 0x1041, "DS", Ds(z));
    w.US(0x0028, 0x0002, 1);
    w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
    w.US(0x0028, 0x0010, kCtSize);
    w.US(0x0028, 0x0011, kCtSize);
    w.Text(0x0028, 0x0030, "DS", Ds(kPixelSpacing) + "\\" + Ds(kPixelSpacing));
    w.US(0x0028, 0x0100, 16);
    w.US(0x0028, 0x0101, 16);
    w.US(0x0028, 0x0102, 15);
    w.US(0x0028, 0x0103, 1);
    // A soft-tissue window first, a lung window second.
    w.Text(0x0028, 0x1050, "DS", "40\\-600");
    w.Text(0x0028, 0x1051, "DS", "400\\1500");
    w.Text(0x0028, 0x1052, "DS", "-1024");
    w.Text(0x0028, 0x1053, "DS", "1");
    w.Text(0x0028, 0x1054, "LO", "HU");
    w.Text(0x0028, 0x1055, "LO", "MEDIASTINUM\\LUNG");
    w.Bytes(0x7FE0, 0x0010, "OW", std::move(pixels));

    char name[32];
    std::snprintf(name, sizeof name, "CT%04d.dcm", number);
    if (!w.WriteFile(dir + "/" + name, error)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Colour image: a hue/saturation wheel on a grey ramp with primary bars.

void HsvToRgb(double h, double s, double v, uint8_t* rgb) {
  h = std::fmod(h, 360.0);
  if (h < 0) h += 360.0;
  double c = v * s, x = c * (1 - std::abs(std::fmod(h / 60.0, 2.0) - 1)), m = v - c;
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(h / 60.0)) {
    case 0: r = c; g = x; break;
    case 1: r = x; g = c; break;
    case 2: g = c; b = x; break;
    case 3: g = x; b = c; break;
    case 4: r = x; b = c; break;
    default: r = c; b = x; break;
  }
  rgb[0] = static_cast<uint8_t>(std::lround((r + m) * 255));
  rgb[1] = static_cast<uint8_t>(std::lround((g + m) * 255));
  rgb[2] = static_cast<uint8_t>(std::lround((b + m) * 255));
}

bool WriteColour(const std::string& dir, std::string* error) {
  const int n = kColourSize;
  std::vector<uint8_t> pixels(size_t(n) * n * 3);
  const double cx = (n - 1) / 2.0, cy = (n - 1) / 2.0 - 12, radius = n * 0.40;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      uint8_t* p = &pixels[(size_t(r) * n + c) * 3];
      double dx = c - cx, dy = r - cy, d = std::sqrt(dx * dx + dy * dy);
      if (r >= n - 20) {  // red, green, blue, white bars along the bottom
        int band = c * 4 / n;
        p[0] = band == 0 || band == 3 ? 255 : 0;
        p[1] = band == 1 || band == 3 ? 255 : 0;
        p[2] = band == 2 || band == 3 ? 255 : 0;
      } else if (d <= radius) {
        HsvToRgb(std::atan2(-dy, dx) * 180.0 / M_PI, d / radius, 1.0, p);
      } else {
        auto grey = static_cast<uint8_t>(c * 255 / (n - 1));
        p[0] = p[1] = p[2] = grey;
      }
    }

  DicomWriter w;
  PutCommon(w, kSecondaryCapture, Uid("4.2.1"), "OT");
  w.Text(0x0008, 0x0008, "CS", "DERIVED\\SECONDARY");
  w.Text(0x0008, 0x0064, "CS", "WSD");
  w.Text(0x0008, 0x103E, "LO", ToIso2022Jp("色相環"));
  w.Text(0x0020, 0x000E, "UI", kColourSeriesUid);
  w.Text(0x0020, 0x0011, "IS", "2");
  w.Text(0x0020, 0x0013, "IS", "1");
  w.Text(0x0020, 0x0020, "CS", "L\\P");
  w.US(0x0028, 0x0002, 3);
  w.Text(0x0028, 0x0004, "CS", "RGB");
  w.US(0x0028, 0x0006, 0);
  w.US(0x0028, 0x0010, n);
  w.US(0x0028, 0x0011, n);
  w.US(0x0028, 0x0100, 8);
  w.US(0x0028, 0x0101, 8);
  w.US(0x0028, 0x0102, 7);
  w.US(0x0028, 0x0103, 0);
  w.Bytes(0x7FE0, 0x0010, "OB", std::move(pixels));
  return w.WriteFile(dir + "/SC0001.dcm", error);
}

// ---------------------------------------------------------------------------
// Multi-frame image: a bright disc circling over a soft background.

bool WriteCine(const std::string& dir, std::string* error) {
  const int n = kCineSize, frames = kCineFrames;
  std::vector<uint8_t> pixels(size_t(n) * n * frames);
  for (int f = 0; f < frames; ++f) {
    double angle = 2 * M_PI * f / frames;
    double dx0 = n / 2.0 + n * 0.28 * std::cos(angle), dy0 = n / 2.0 + n * 0.28 * std::sin(angle);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        double dx = c + 0.5 - dx0, dy = r + 0.5 - dy0, d = std::sqrt(dx * dx + dy * dy);
        double v = 40 + 60.0 * r / n;                          // background ramp
        double edge = std::clamp(16.5 - d, 0.0, 1.0);          // anti-aliased disc edge
        v = v * (1 - edge) + 230 * edge;
        if (f == 0 && std::abs(c - n / 2) <= 1 && std::abs(r - n / 2) <= 1) v = 255;  // first-frame mark
        pixels[size_t(f) * n * n + size_t(r) * n + c] = static_cast<uint8_t>(std::lround(v));
      }
  }

  DicomWriter w;
  PutCommon(w, kMultiFrameGreyByteSc, Uid("4.3.1"), "OT");
  w.Text(0x0008, 0x0008, "CS", "DERIVED\\SECONDARY");
  w.Text(0x0008, 0x0064, "CS", "WSD");
  w.Text(0x0008, 0x103E, "LO", ToIso2022Jp("動画 円板"));
  w.Text(0x0018, 0x1063, "DS", "100");
  w.Text(0x0018, 0x0040, "IS", "10");
  w.Text(0x0020, 0x000E, "UI", kCineSeriesUid);
  w.Text(0x0020, 0x0011, "IS", "3");
  w.Text(0x0020, 0x0013, "IS", "1");
  w.US(0x0028, 0x0002, 1);
  w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
  w.Text(0x0028, 0x0008, "IS", Is(frames));
  w.AT(0x0028, 0x0009, 0x0018, 0x1063);
  w.US(0x0028, 0x0010, n);
  w.US(0x0028, 0x0011, n);
  w.US(0x0028, 0x0100, 8);
  w.US(0x0028, 0x0101, 8);
  w.US(0x0028, 0x0102, 7);
  w.US(0x0028, 0x0103, 0);
  w.Text(0x0028, 0x1050, "DS", "128");
  w.Text(0x0028, 0x1051, "DS", "256");
  w.Bytes(0x7FE0, 0x0010, "OB", std::move(pixels));
  return w.WriteFile(dir + "/MF0001.dcm", error);
}

}  // namespace

bool WriteSampleStudy(const std::string& outdir, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(outdir, ec);
  if (ec || !std::filesystem::is_directory(outdir, ec)) {
    if (error) *error = "cannot create folder " + outdir + (ec ? ": " + ec.message() : "");
    return false;
  }
  try {
    return WriteCt(outdir, error) && WriteColour(outdir, error) && WriteCine(outdir, error);
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

}  // namespace velmo_sample
