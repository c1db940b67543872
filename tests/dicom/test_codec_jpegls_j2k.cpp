// JPEG-LS and JPEG 2000 / HTJ2K: streams made at test time by DCMTK's dcmcjpls and the
// command-line encoders of OpenJPEG (opj_compress) and OpenJPH (ojph_compress) from
// known pixels. Lossless streams load back exactly, near-lossless and lossy ones within
// their tolerance; damaged streams give clean per-frame failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "dicom/htj2k_child.h"
#include "dicom/j2k_decode.h"
#include "dicom/jpegls_decode.h"
#include "test_pixel_support.h"

namespace velmo::test {
namespace {

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

void Shell(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

std::vector<int> Samples(int w, int h, int lo, int hi, int seed = 0) {
  std::vector<int> v;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int s = lo + ((x * 37 + y * 23 + seed * 101) % (hi - lo + 1));
      if ((x / 8 + y / 8) % 3 == 0) s = lo + (hi - lo) / 4 + x;  // smooth patches
      if ((x + 3 * y) % 29 == 0) s = hi;
      v.push_back(std::clamp(s, lo, hi));
    }
  return v;
}

Bytes Pixels(const std::vector<int>& values, int bitsAllocated) {
  if (bitsAllocated > 8) return Le16(values);
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

int WorstSampleDifference(const Bytes& a, const Bytes& b, bool wide, bool isSigned) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  const size_t step = wide ? 2 : 1;
  for (size_t i = 0; i + step <= std::min(a.size(), b.size()); i += step) {
    int x = a[i], y = b[i];
    if (wide) {
      x |= a[i + 1] << 8;
      y |= b[i + 1] << 8;
      if (isSigned) x = static_cast<int16_t>(x), y = static_cast<int16_t>(y);
    }
    worst = std::max(worst, std::abs(x - y));
  }
  return worst;
}

class CodecFiles : public ::testing::Test {
 protected:
  // HTJ2K frames are decoded by the helper built beside the tests.
  void SetUp() override { SetHtj2kHelperPath(std::string(VELMO_BIN_DIR) + "/velmo-htj2k"); }
  void TearDown() override { SetHtj2kHelperPath(""); }
  TempDir dir;
};

TEST_F(CodecFiles, JpegLsLosslessNearLosslessGreyAndColour) {
  if (!Have("dcmcjpls")) GTEST_SKIP() << "DCMTK's dcmcjpls not installed";
  struct Case {
    const char* what;
    int bitsAllocated, bitsStored, signedness, samples, lo, hi;
    std::string options;
    int tolerance;
  };
  const Case cases[] = {
      {"8-bit lossless", 8, 8, 0, 1, 0, 255, "+el", 0},
      {"12-bit lossless", 16, 12, 0, 1, 0, 4095, "+el", 0},
      {"16-bit signed lossless", 16, 16, 1, 1, -3000, 3000, "+el", 0},
      {"16-bit lossless", 16, 16, 0, 1, 0, 65535, "+el", 0},
      {"RGB line interleaved", 8, 8, 0, 3, 0, 255, "+el +il", 0},
      {"RGB sample interleaved", 8, 8, 0, 3, 0, 255, "+el +is", 0},
      {"RGB not interleaved", 8, 8, 0, 3, 0, 255, "+el +in", 0},
      {"12-bit near-lossless", 16, 12, 0, 1, 0, 4095, "+en +md 3", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image im;
    im.rows = 33;
    im.columns = 47;
    im.frames = "2";
    im.bitsAllocated = static_cast<uint16_t>(c.bitsAllocated);
    im.bitsStored = static_cast<uint16_t>(c.bitsStored);
    im.pixelRepresentation = static_cast<uint16_t>(c.signedness);
    im.samples = static_cast<uint16_t>(c.samples);
    if (c.samples == 3) im.photometric = "RGB";
    std::vector<int> values = Samples(47 * c.samples, 33, c.lo, c.hi);
    const std::vector<int> second = Samples(47 * c.samples, 33, c.lo, c.hi, 1);
    values.insert(values.end(), second.begin(), second.end());
    const Bytes source = Pixels(values, c.bitsAllocated);
    WriteBytes(dir.File("native.dcm"), NativeFile(im, source));
    Shell("dcmcjpls " + c.options + " " + dir.File("native.dcm") + " " + dir.File("jls.dcm"));
    MemoryLoad load;
    ASSERT_TRUE(load.Load(ReadBytes(dir.File("jls.dcm")))) << load.Failure();
    EXPECT_TRUE(load.notes.entries.empty());
    if (c.tolerance == 0) {
      EXPECT_EQ(load.im().pixelData, source);
    } else {
      EXPECT_LE(WorstSampleDifference(load.im().pixelData, source, c.bitsAllocated > 8, c.signedness != 0), c.tolerance);
    }
  }
}

// A codestream of `values` (w x h x components, interleaved) written by opj_compress or
// ojph_compress from a raw little-endian file.
Bytes Codestream(TempDir& dir, const std::string& tool, const std::vector<int>& values, int w, int h, int comps,
                 int bits, bool isSigned, const std::string& options) {
  Bytes raw;
  if (tool == "opj") {
    // OpenJPEG's raw input is planar.
    for (int c = 0; c < comps; ++c)
      for (int i = 0; i < w * h; ++i) {
        const int v = values[static_cast<size_t>(i) * comps + c];
        raw.push_back(static_cast<uint8_t>(v));
        if (bits > 8) raw.push_back(static_cast<uint8_t>(v >> 8));
      }
    WriteBytes(dir.File("in.rawl"), raw);
    const std::string format = std::to_string(w) + "," + std::to_string(h) + "," + std::to_string(comps) + "," +
                               std::to_string(bits) + "," + (isSigned ? "s" : "u");
    Shell("opj_compress -i " + dir.File("in.rawl") + " -o " + dir.File("out.j2k") + " -F " + format + " -n 3 " + options);
    return ReadBytes(dir.File("out.j2k"));
  }
  for (int v : values) {
    raw.push_back(static_cast<uint8_t>(v));
    if (bits > 8) raw.push_back(static_cast<uint8_t>(v >> 8));
  }
  WriteBytes(dir.File("in.yuv"), raw);
  Shell("ojph_compress -i " + dir.File("in.yuv") + " -o " + dir.File("out.j2c") + " -dims {" + std::to_string(w) +
        "," + std::to_string(h) + "} -num_comps 1 -signed " + (isSigned ? "true" : "false") + " -bit_depth " +
        std::to_string(bits) + " -downsamp {1,1} " + options);
  return ReadBytes(dir.File("out.j2c"));
}

TEST_F(CodecFiles, Jpeg2000AndHtj2kLosslessAndLossy) {
  const bool opj = Have("opj_compress"), ojph = Have("ojph_compress");
  if (!opj) GTEST_SKIP() << "OpenJPEG's opj_compress not installed (libopenjp2-tools)";
  struct Case {
    const char* what;
    std::string tool;
    int bits, signedness, samples, lo, hi;
    std::string options;
    const char* uid;
    int tolerance;
  };
  const Case cases[] = {
      {"16-bit signed lossless", "opj", 16, 1, 1, -2000, 3000, "", "1.2.840.10008.1.2.4.90", 0},
      {"12-bit lossless", "opj", 12, 0, 1, 0, 4095, "", "1.2.840.10008.1.2.4.90", 0},
      {"8-bit lossless tiled", "opj", 8, 0, 1, 0, 255, "-t 16,16", "1.2.840.10008.1.2.4.90", 0},
      {"RGB lossless with colour transform (YBR_RCT)", "opj", 8, 0, 3, 0, 255, "-mct 1", "1.2.840.10008.1.2.4.90", 0},
      {"16-bit lossy", "opj", 16, 0, 1, 0, 4095, "-q 90", "1.2.840.10008.1.2.4.91", 40},
      // HTJ2K goes through the helper process: OpenJPH for signed samples, else OpenJPEG.
      {"HTJ2K 16-bit signed lossless", "ojph", 16, 1, 1, -2000, 3000, "-reversible true", "1.2.840.10008.1.2.4.201", 0},
      {"HTJ2K 8-bit signed lossless", "ojph", 8, 1, 1, -128, 127, "-reversible true", "1.2.840.10008.1.2.4.201", 0},
      {"HTJ2K 8-bit lossless", "ojph", 8, 0, 1, 0, 255, "-reversible true", "1.2.840.10008.1.2.4.202", 0},
      {"HTJ2K 16-bit unsigned lossless", "ojph", 16, 0, 1, 0, 65535, "-reversible true", "1.2.840.10008.1.2.4.203", 0},
      // Lossy HTJ2K is compared with OpenJPH's own decoder (ojph_expand).
      {"HTJ2K 12-bit lossy", "ojph", 12, 0, 1, 0, 4095, "-qstep 0.002", "1.2.840.10008.1.2.4.203", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.tool == "ojph" && !ojph) {
      std::printf("[ skipped  ] %s: ojph_compress not installed (openjph-tools)\n", c.what);
      continue;
    }
    const int w = 45, h = 31;
    Image im;
    im.rows = h;
    im.columns = w;
    im.bitsAllocated = static_cast<uint16_t>(c.bits > 8 ? 16 : 8);
    im.bitsStored = static_cast<uint16_t>(c.bits);
    im.pixelRepresentation = static_cast<uint16_t>(c.signedness);
    im.samples = static_cast<uint16_t>(c.samples);
    if (c.samples == 3) im.photometric = "YBR_RCT";
    const std::vector<int> values = Samples(w * c.samples, h, c.lo, c.hi);
    const Bytes source = Pixels(values, im.bitsAllocated);
    Bytes stream = Codestream(dir, c.tool, values, w, h, c.samples, c.bits, c.signedness != 0, c.options);
    ASSERT_GT(stream.size(), 20u);
    Bytes expected = source;
    if (c.tool == "ojph" && c.tolerance > 0) {
      Shell("ojph_expand -i " + dir.File("out.j2c") + " -o " + dir.File("expanded.raw"));
      expected = ReadBytes(dir.File("expanded.raw"));
      ASSERT_EQ(expected.size(), source.size());
    }
    if (stream.size() % 2) stream.push_back(0);
    // Two frames: one whole fragment, one split over three fragments.
    im.frames = "2";
    const size_t third = stream.size() / 3 & ~size_t{1};
    const Bytes a(stream.begin(), stream.begin() + static_cast<long>(third));
    const Bytes b(stream.begin() + static_cast<long>(third), stream.begin() + static_cast<long>(2 * third));
    const Bytes rest(stream.begin() + static_cast<long>(2 * third), stream.end());
    MemoryLoad load;
    ASSERT_TRUE(load.Load(EncapsulatedFile(im, {stream, a, b, rest}, c.uid, false))) << load.Failure();
    EXPECT_EQ(UsesHighThroughputCoding(stream.data(), stream.size()), c.tool == "ojph");
    EXPECT_TRUE(load.notes.entries.empty());
    Bytes both = expected;
    both.insert(both.end(), expected.begin(), expected.end());
    if (c.tolerance == 0) {
      EXPECT_EQ(load.im().pixelData, both);
    } else {
      EXPECT_LE(WorstSampleDifference(load.im().pixelData, both, c.bits > 8, c.signedness != 0), c.tolerance);
    }
    if (c.tool == "ojph") {
      // The same HT codestream met under a JPEG 2000 UID takes the same way.
      MemoryLoad asJ2k;
      ASSERT_TRUE(asJ2k.Load(EncapsulatedFile(im, {stream, a, b, rest}, "1.2.840.10008.1.2.4.90", false)));
      EXPECT_EQ(asJ2k.im().pixelData, load.im().pixelData);
    }
  }
}

// The decoders for high-throughput coding stop the process on damaged streams, so the
// guard must see HT wherever a header can ask for it, and distrust a header it cannot
// walk.
TEST_F(CodecFiles, HighThroughputCodingIsSeenWhereverTheHeaderAsksForIt) {
  if (!Have("opj_compress")) GTEST_SKIP() << "OpenJPEG's opj_compress not installed (libopenjp2-tools)";
  const std::vector<int> values = Samples(20, 10, 0, 255);
  const Bytes plain = Codestream(dir, "opj", values, 20, 10, 1, 8, false, "");
  ASSERT_FALSE(UsesHighThroughputCoding(plain.data(), plain.size()));
  size_t cod = 0;
  for (size_t i = 2; i + 1 < plain.size(); ++i)
    if (plain[i] == 0xFF && plain[i + 1] == 0x52) {
      cod = i;
      break;
    }
  ASSERT_GT(cod, 0u);
  Bytes rsiz = plain;
  rsiz[6] |= 0x40;  // SIZ Rsiz bit 14
  Bytes style = plain;
  style[cod + 4 + 8] |= 0x40;  // COD code-block style: HT
  const Bytes cut(plain.begin(), plain.begin() + static_cast<long>(cod + 6));
  const Bytes jp2Without = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  for (const Bytes* b : std::initializer_list<const Bytes*>{&rsiz, &style, &cut, &jp2Without}) EXPECT_TRUE(UsesHighThroughputCoding(b->data(), b->size()));
  Bytes output(20 * 10, 0);
  EXPECT_FALSE(DecodeJpeg2000(style.data(), style.size(), output.data(), 10, 20, 1));
}

TEST_F(CodecFiles, DamagedStreamsFailWithoutTouchingMemoryOutsideTheFrame) {
  if (!Have("opj_compress") || !Have("dcmcjpls")) GTEST_SKIP() << "opj_compress or dcmcjpls not installed";
  const int w = 40, h = 30;
  const std::vector<int> values = Samples(w, h, 0, 4095);
  Bytes j2k = Codestream(dir, "opj", values, w, h, 1, 12, false, "");
  Image im;
  im.rows = h;
  im.columns = w;
  im.bitsAllocated = 16;
  im.bitsStored = 12;
  WriteBytes(dir.File("native.dcm"), NativeFile(im, Le16(values)));
  Shell("dcmcjpls " + dir.File("native.dcm") + " " + dir.File("jls.dcm"));
  const Bytes file = ReadBytes(dir.File("jls.dcm"));
  Bytes jls;
  for (size_t i = 4; i + 3 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xD8 && file[i + 2] == 0xFF) {
      const uint32_t length = file[i - 4] | file[i - 3] << 8 | file[i - 2] << 16 | uint32_t{file[i - 1]} << 24;
      jls.assign(file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(i + length));
      break;
    }
  ASSERT_FALSE(jls.empty());

  const size_t frameBytes = static_cast<size_t>(w) * h * 2;
  for (const Bytes* stream : {static_cast<const Bytes*>(&j2k), static_cast<const Bytes*>(&jls)}) {
    const bool isJ2k = stream == &j2k;
    SCOPED_TRACE(isJ2k ? "JPEG 2000" : "JPEG-LS");
    auto decode = [&](const Bytes& s, uint8_t* out) {
      return isJ2k ? DecodeJpeg2000(s.data(), s.size(), out, h, w, 2) : DecodeJpegLs(s.data(), s.size(), out, h, w, 2);
    };
    // Guard bytes after the frame must survive every damaged stream.
    Bytes frame(frameBytes + 64, 0xEE);
    ASSERT_TRUE(decode(*stream, frame.data()));
    EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + static_cast<long>(frameBytes), Le16(values).begin()));
    for (size_t cut = 0; cut < stream->size(); cut += std::max<size_t>(1, stream->size() / 40)) {
      const Bytes s(stream->begin(), stream->begin() + static_cast<long>(cut));
      Bytes out(frameBytes + 64, 0xEE);
      decode(s, out.data());
      EXPECT_TRUE(std::all_of(out.end() - 64, out.end(), [](uint8_t v) { return v == 0xEE; })) << cut;
    }
    for (size_t at = 0; at < stream->size(); at += std::max<size_t>(1, stream->size() / 60)) {
      Bytes s = *stream;
      s[at] ^= 0xA5;
      Bytes out(frameBytes + 64, 0xEE);
      decode(s, out.data());
      EXPECT_TRUE(std::all_of(out.end() - 64, out.end(), [](uint8_t v) { return v == 0xEE; })) << at;
    }
    // A frame smaller than the picture receives only the overlap.
    Bytes small(10 * 12 * 2 + 64, 0xEE);
    ASSERT_TRUE(isJ2k ? DecodeJpeg2000(stream->data(), stream->size(), small.data(), 10, 12, 2)
                      : DecodeJpegLs(stream->data(), stream->size(), small.data(), 10, 12, 2));
    EXPECT_TRUE(std::all_of(small.end() - 64, small.end(), [](uint8_t v) { return v == 0xEE; }));
  }
  // Through the pixel stage: a cut JPEG 2000 frame is black and logged, the load succeeds.
  Bytes cut(j2k.begin(), j2k.begin() + static_cast<long>(j2k.size() / 3 & ~size_t{1}));
  MemoryLoad load;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {cut}, "1.2.840.10008.1.2.4.90")));
  EXPECT_EQ(load.im().pixelData.size(), frameBytes);
}

// Native YBR_FULL_422 (Y1 Y2 Cb Cr per two pixels) is expanded and shown in R, G, B;
// a file shorter than the two-thirds frame fails like any short native file.
TEST(NativeYbr422, ExpandsPairsAndConvertsToRgb) {
  Image im;
  im.rows = 2;
  im.columns = 4;
  im.samples = 3;
  im.frames = "2";
  im.photometric = "YBR_FULL_422";
  // Frame 0: a grey pair, a pure red pair (Y 76, Cb 85, Cr 255), then two grey pairs;
  // frame 1: all white.
  const Bytes frame0 = {10, 200, 128, 128, 76, 76, 85, 255, 0, 255, 128, 128, 50, 60, 128, 128};
  Bytes stored = frame0;
  for (int i = 0; i < 4; ++i) stored.insert(stored.end(), {255, 255, 128, 128});
  MemoryLoad load;
  ASSERT_TRUE(load.Load(NativeFile(im, stored))) << load.Failure();
  const Bytes expected0 = {10, 10, 10, 200, 200, 200, 254, 0, 0, 254, 0, 0, 0, 0, 0, 255, 255, 255, 50, 50, 50, 60, 60, 60};
  EXPECT_EQ(load.FrameBytes(0), expected0);
  EXPECT_EQ(load.FrameBytes(1), Bytes(24, 255));
  EXPECT_EQ(load.im().fileWindowWidth[0], 256);

  MemoryLoad shortFile;
  stored.pop_back();
  stored.pop_back();
  EXPECT_FALSE(shortFile.Load(NativeFile(im, stored)));
  EXPECT_TRUE(shortFile.Shown("エラー"));
}

}  // namespace
}  // namespace velmo::test
