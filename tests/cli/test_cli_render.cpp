// velmo-cli render on generated files and on the public corpus: the .bmp is the
// display bitmap of an in-process conversion byte for byte, the window numbers come
// out as computed, and the other formats and usage errors behave.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "../render/reference_render.h"
#include "dicom/view_load.h"
#include "render/convert.h"
#include "base/install.h"
#include "base/settings.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo {
namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A fresh installation with the shipped a-LUT.csv.
struct Installation {
  test::TempDir dir;
  std::string home;
  Installation() {
    home = dir.path() + "/";
    test::MakeInstallation(dir.path(),
                           "[画像処理]\r\n拡大方法=バイリニア\r\n[詳細]\r\nDotPitchX=0.2646\r\nDotPitchY=0.2646\r\n");
    std::filesystem::copy_file(std::string(VELMO_SOURCE_DIR) + "/data/Config/a-LUT.csv", home + "Config/a-LUT.csv");
  }
  int Render(const std::string& args) const {
    const std::string cmd = "VELMO_HOME=" + Quote(home) + " " + Quote(std::string(VELMO_BIN_DIR) + "/velmo-cli") +
                            " render " + args + " 2>/dev/null";
    const int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
};

// What `render FILE --canvas WxH` plus the given pane changes must produce.
std::vector<uint8_t> InProcess(const std::string& file, int wc, int hc, void (*setup)(PaneDisplay&, DicomImage&),
                               std::vector<uint8_t>* referencePixels = nullptr) {
  LoadContext ctx;
  PrepareSingleFile(ctx, file);
  if (!LoadImageAtViewPosition(ctx, 1)) return {};
  DicomImage& im = ctx.records[0];
  RenderContext rc;
  const Settings s = Settings::LoadFrom(IniPath());
  rc.pitch = DisplayPitch{s.dotPitchX, s.dotPitchY};
  BuildDisplayTables(rc.tables, InstallFolder(), Log::Null(), nullptr);
  PaneDisplay pane;
  pane.canvasWidth = wc;
  pane.canvasHeight = hc;
  if (setup) setup(pane, im);
  if (ConvertToDisplay(rc, pane, im) != ConvertResult::kDrawn) return {};
  if (referencePixels) *referencePixels = test::ReferencePixels(im, pane, rc.tables, pane.last, pane.frame);
  return std::vector<uint8_t>(im.displayBitmap.begin(), im.displayBitmap.begin() + BitmapU32(im.displayBitmap, 2));
}

// A 40 x 40 CT slice, window 40/400, intercept -1024, with the stored values of
// the window's bottom, level and top in its first row.
test::Bytes CtFile() {
  test::Bytes pixels(40 * 40 * 2);
  for (int i = 0; i < 40 * 40; ++i) {
    const uint16_t v = uint16_t(i < 3 ? 864 + 200 * i : (i * 7) % 4096);
    pixels[i * 2] = uint8_t(v);
    pixels[i * 2 + 1] = uint8_t(v >> 8);
  }
  test::DicomWriter w(1);
  w.Text(0x0008, 0x0060, "CS", "CT")
      .U16(0x0028, 0x0002, 1)
      .Text(0x0028, 0x0004, "CS", "MONOCHROME2")
      .U16(0x0028, 0x0010, 40)
      .U16(0x0028, 0x0011, 40)
      .U16(0x0028, 0x0100, 16)
      .U16(0x0028, 0x0101, 12)
      .U16(0x0028, 0x0102, 11)
      .U16(0x0028, 0x0103, 0)
      .Text(0x0028, 0x1050, "DS", "40")
      .Text(0x0028, 0x1051, "DS", "400")
      .Text(0x0028, 0x1052, "DS", "-1024")
      .Text(0x0028, 0x1053, "DS", "1")
      .PixelData(pixels);
  return test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
}

TEST(CliRender, BmpIsTheDisplayBitmapOfTheConversion) {
  Installation inst;
  const std::string file = inst.dir.File("ct.dcm");
  test::WriteBytes(file, CtFile());
  const std::string out = inst.dir.File("out.bmp");
  ASSERT_EQ(inst.Render(Quote(file) + " -o " + Quote(out) + " --canvas 40x40"), 0);
  const std::vector<uint8_t> bmp = test::ReadBytes(out);
  const std::vector<uint8_t> expected = InProcess(file, 40, 40, nullptr);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(bmp, expected);
  // 1:1: the first image row is the top bitmap row, stored last.
  const size_t top = 1078 + 39 * 40;
  EXPECT_EQ(bmp[top + 0], 0);
  EXPECT_EQ(bmp[top + 1], 127);
  EXPECT_EQ(bmp[top + 2], 255);

  // Every option at once against the same pane state in process.
  ASSERT_EQ(inst.Render(Quote(file) + " -o " + Quote(out) +
                        " --canvas 101x90 --zoom 3 --level 100 --width 50 --rotate-right 30 --flip-h --flip-v"
                        " --negative --denoise --sharpen --bicubic --frame 1"),
            0);
  const std::vector<uint8_t> many = InProcess(file, 101, 90, [](PaneDisplay& p, DicomImage& im) {
    im.level = 100;
    im.width = 50;
    p.fitMode = false;
    p.zoomFactor = 3.0f;
    p.rotateRight = true;
    p.rotationAngle = 330;
    p.flipHorizontal = p.flipVertical = 1;
    p.negative = p.noiseRemoval = p.sharpen = true;
    p.interpolation = Interpolation::kBicubic;
  });
  EXPECT_EQ(test::ReadBytes(out), many);

  ASSERT_EQ(inst.Render(Quote(file) + " -o " + Quote(out) + " --palette --actual"), 0);
  const std::vector<uint8_t> palette = InProcess(file, 512, 512, [](PaneDisplay& p, DicomImage&) {
    p.paletteColour = true;
    p.fitMode = false;
    p.actualSizeMode = true;
  });
  EXPECT_EQ(test::ReadBytes(out), palette);
  EXPECT_EQ(BitmapU16(palette, 28), 32);
}

TEST(CliRender, PngJpegAndUsage) {
  Installation inst;
  const std::string file = inst.dir.File("ct.dcm");
  test::WriteBytes(file, CtFile());
  ASSERT_EQ(inst.Render(Quote(file) + " -o " + Quote(inst.dir.File("a.png")) + " --one-to-one"), 0);
  const auto png = test::ReadBytes(inst.dir.File("a.png"));
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  ASSERT_EQ(inst.Render(Quote(file) + " -o " + Quote(inst.dir.File("a.jpg")) + " --palette"), 0);
  const auto jpg = test::ReadBytes(inst.dir.File("a.jpg"));
  ASSERT_GT(jpg.size(), 2u);
  EXPECT_EQ(jpg[0], 0xFF);
  EXPECT_EQ(jpg[1], 0xD8);
  EXPECT_EQ(inst.Render(Quote(file) + " -o x.gif"), 2);
  EXPECT_EQ(inst.Render(Quote(file) + " -o a.bmp --canvas 0x10"), 2);
  EXPECT_EQ(inst.Render(Quote(file) + " -o a.bmp --zoom 0.01"), 2);
  EXPECT_EQ(inst.Render(Quote(file) + " -o a.bmp --bogus"), 2);
  EXPECT_EQ(inst.Render(Quote(inst.dir.File("missing.dcm")) + " -o " + Quote(inst.dir.File("m.bmp"))), 1);
}

// Corpus files: the CLI bitmap equals the in-process conversion, which equals the
// per-pixel reference; the encodings of one image give one picture.
TEST(CliRender, CorpusFiles) {
  const std::string corpus = test::TestDataDir();
  if (corpus.empty()) GTEST_SKIP() << "public test corpus not found under " << VELMO_TESTDATA_DIR;
  Installation inst;
  const char* files[] = {"pydicom/MR_small.dcm",       "pydicom/MR_small_bigendian.dcm", "pydicom/MR_small_RLE.dcm",
                         "pydicom/MR_small_implicit.dcm", "pydicom/CT_small.dcm",        "fo-dicom/FreezePattern.dcm",
                         "fo-dicom/D_CLUNIE_CT1_RLE_FRAGS.dcm"};
  std::vector<uint8_t> mrFirst;
  for (const char* name : files) {
    const std::string file = corpus + "/" + name;
    if (!std::filesystem::exists(file)) continue;
    for (const char* options : {" --canvas 200x160", " --canvas 300x300 --zoom 1.5 --rotate-left 90"}) {
      const std::string out = inst.dir.File("c.bmp");
      ASSERT_EQ(inst.Render(Quote(file) + " -o " + Quote(out) + options), 0) << name;
      const bool zoomed = std::string(options).find("zoom") != std::string::npos;
      std::vector<uint8_t> ref;
      const std::vector<uint8_t> expected =
          zoomed ? InProcess(file, 300, 300, [](PaneDisplay& p, DicomImage& im) {
                     p.fitMode = false;
                     p.zoomFactor = 1.5f;
                     p.rotateLeft = true;
                     p.rotationAngle = 90;
                   }, &ref)
                 : InProcess(file, 200, 160, nullptr, &ref);
      const std::vector<uint8_t> bmp = test::ReadBytes(out);
      EXPECT_EQ(bmp, expected) << name << options;
      const size_t off = BitmapU32(bmp, 10);
      ASSERT_EQ(bmp.size() >= off + ref.size(), true);
      EXPECT_TRUE(std::equal(ref.begin(), ref.end(), bmp.begin() + off)) << name << options;
      if (std::string(name).find("MR_small") != std::string::npos && !zoomed) {
        if (mrFirst.empty()) mrFirst = bmp;
        else EXPECT_EQ(bmp, mrFirst) << name;
      }
    }
  }
}

}  // namespace
}  // namespace velmo
