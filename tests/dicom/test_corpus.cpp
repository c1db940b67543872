// The public corpus: every file that the reference decoder could decode and whose
// transfer syntax Velmo reads is loaded with `velmo-cli info`, and the record is
// compared with the reference facts.
#include <gtest/gtest.h>

#include <cmath>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace velmo::test {
namespace {

using Row = TsvRow;

struct CliResult {
  int exitCode = -1;
  Row fields;
};

CliResult RunInfo(const std::string& home, const std::string& file) {
  const CommandResult run = RunCommand("VELMO_HOME=" + ShellQuote(home + "/") + " " + ShellQuote(CliPath()) +
                                       " info " + ShellQuote(file));
  return CliResult{run.status, ParseNameValueLines(run.out)};
}

long long Int(const std::string& s, long long fallback = 0) {
  if (s.empty()) return fallback;
  return std::stoll(s);  // leading digits; "1A" reads as 1
}
long long Trunc(const std::string& s) { return static_cast<long long>(std::trunc(std::stod(s))); }
std::string First(const std::string& list) { return list.substr(0, list.find(',')); }

bool SupportedSyntax(const std::string& ts) {
  return ts == "1.2.840.10008.1.2" || ts == "1.2.840.10008.1.2.1" || ts == "1.2.840.10008.1.2.2" ||
         ts == "1.2.840.10008.1.2.4.50" || ts == "1.2.840.10008.1.2.5" || ts == "(none)" ||
         ts == "1.2.840.10008.1.2.4.57" || ts == "1.2.840.10008.1.2.4.70" || ts == "1.2.840.10008.1.2.1.99" ||
         ts == "1.2.840.10008.1.2.4.51" || ts == "1.2.840.10008.1.2.4.80" || ts == "1.2.840.10008.1.2.4.81" ||
         ts == "1.2.840.10008.1.2.4.90" ||
         ts == "1.2.840.10008.1.2.4.91";
}

// Files Velmo refuses by design, with the reason.
std::string ExpectedRefusal(const Row& r) {
  const std::string ts = r.at("meta_transfer_syntax");
  if (r.at("bits_allocated") == "1") return "bit-packed pixels: one byte per pixel is expected, the data is shorter";
  if (r.at("bits_stored").empty() && r.at("bits_allocated") == "32")
    return "float pixel data (7FE0,0008): there is no (7FE0,0010) element";
  return "";
}

// Why frame-0 minimum and maximum are not comparable with the reference, or "".
std::string RangeNotComparable(const Row& r) {
  const std::string ts = r.at("meta_transfer_syntax");
  const std::string pi = r.at("photometric_interpretation");
  const int ba = static_cast<int>(Int(r.at("bits_allocated")));
  const bool colour = Int(r.at("samples_per_pixel"), 1) == 3;
  if (ba > 16) return "more than 16 bits allocated: pixelData keeps 16 bits per pixel";
  if (colour && ba > 8) return "colour with 16 bits per sample: pixelData keeps 8 bits per sample";
  if (colour && pi.rfind("YBR_FULL", 0) == 0)
    return "YBR colour is converted to RGB, the reference keeps YCbCr values";
  (void)ts;
  return "";
}

// Whether frame 0 of pixelData should hold exactly the reference decoder's frame-0
// bytes: lossless data in little-endian order, colour interleaved.
bool FrameBytesComparable(const Row& r) {
  const std::string ts = r.at("meta_transfer_syntax");
  if (ts == "1.2.840.10008.1.2.4.50" || ts == "1.2.840.10008.1.2.2") return false;  // lossy; big endian kept as stored
  const bool colour = Int(r.at("samples_per_pixel"), 1) == 3;
  if (colour && ts != "1.2.840.10008.1.2.5" && Int(r.at("planar_configuration")) != 0) return false;  // kept by plane
  return true;
}

TEST(Corpus, DecodedFilesMatchTheReference) {
  const std::string dir = TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public corpus not found under " << VELMO_TESTDATA_DIR;
  const std::string cli = std::string(VELMO_BIN_DIR) + "/velmo-cli";
  if (access(cli.c_str(), X_OK) != 0) GTEST_SKIP() << cli << " is not built (build the velmo-cli target)";
  TempDir home;
  MakeInstallation(home.path());

  int compared = 0, ranges = 0, digests = 0, refused = 0;
  for (const Row& r : ReadReferenceTsv()) {
    if (r.at("pydicom_decode") != "ok" || !SupportedSyntax(r.at("meta_transfer_syntax"))) continue;
    const std::string file = r.at("file");
    SCOPED_TRACE(file);
    const CliResult out = RunInfo(home.path(), dir + "/" + file);
    const std::string refusal = ExpectedRefusal(r);
    if (!refusal.empty()) {
      EXPECT_EQ(out.exitCode, 1) << "expected a refusal: " << refusal;
      ++refused;
      continue;
    }
    ASSERT_EQ(out.exitCode, 0);
    const Row& v = out.fields;
    ++compared;
    EXPECT_EQ(Int(v.at("rows")), Int(r.at("rows")));
    EXPECT_EQ(Int(v.at("columns")), Int(r.at("columns")));
    EXPECT_EQ(Int(v.at("bitsAllocated")), Int(r.at("bits_allocated")));
    EXPECT_EQ(Int(v.at("bitsStored")), Int(r.at("bits_stored")));
    EXPECT_EQ(Int(v.at("pixelRepresentation")), Int(r.at("pixel_representation")));
    EXPECT_EQ(v.at("photometric"), r.at("photometric_interpretation"));
    EXPECT_EQ(Int(v.at("planarConfiguration")), Int(r.at("planar_configuration")));
    EXPECT_EQ(std::max<long long>(Int(v.at("frameCount")), 1), std::max<long long>(Int(r.at("number_of_frames"), 1), 1));
    if (!r.at("window_center").empty()) {
      EXPECT_EQ(Int(First(v.at("fileWindowCenter"))), Trunc(r.at("window_center")));
      EXPECT_EQ(Int(First(v.at("fileWindowWidth"))), Trunc(r.at("window_width")));
      // The window in use is the file's first window.
      EXPECT_EQ(Int(v.at("level")), Trunc(r.at("window_center")));
      EXPECT_EQ(Int(v.at("width")), Trunc(r.at("window_width")));
    }
    // An empty reference slope stands for an absent or an empty element; only real
    // values are compared.
    if (!r.at("rescale_slope").empty()) EXPECT_NEAR(std::stod(v.at("rescaleSlope")), std::stod(r.at("rescale_slope")), 1e-6);
    EXPECT_EQ(Int(v.at("rescaleIntercept")), r.at("rescale_intercept").empty() ? 0 : Trunc(r.at("rescale_intercept")));

    const std::string why = RangeNotComparable(r);
    if (!why.empty()) {
      std::printf("[ corpus   ] %s: frame-0 range not compared (%s)\n", file.c_str(), why.c_str());
      continue;
    }
    ++ranges;
    const long long tolerance = r.at("meta_transfer_syntax") == "1.2.840.10008.1.2.4.50" ? 2 : 0;
    EXPECT_NEAR(Int(v.at("pixelMin")), Int(r.at("frame0_min")), tolerance);
    EXPECT_NEAR(Int(v.at("pixelMax")), Int(r.at("frame0_max")), tolerance);
    if (FrameBytesComparable(r)) {
      ++digests;
      EXPECT_EQ(v.at("frame0Sha256"), r.at("frame0_sha256"));
    }
  }
  std::printf("[ corpus   ] %d files compared, %d frame-0 ranges and %d frame-0 digests compared, %d refused as expected\n",
              compared, ranges, digests, refused);
  EXPECT_GT(compared, 50);
}

// Compressed files pydicom could not decode but DCMTK could: frame 0 matches DCMTK's.
TEST(Corpus, FilesOnlyDcmtkDecodesMatchIt) {
  const std::string dir = TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public corpus not found under " << VELMO_TESTDATA_DIR;
  const std::string cli = std::string(VELMO_BIN_DIR) + "/velmo-cli";
  if (access(cli.c_str(), X_OK) != 0) GTEST_SKIP() << cli << " is not built (build the velmo-cli target)";
  TempDir home;
  MakeInstallation(home.path());
  int compared = 0;
  for (const Row& r : ReadReferenceTsv()) {
    const std::string ts = r.at("meta_transfer_syntax");
    if (r.at("pydicom_decode") == "ok" || r.at("dcmtk_frame0_sha256").empty()) continue;
    if (ts != "1.2.840.10008.1.2.4.57" && ts != "1.2.840.10008.1.2.4.70" && ts != "1.2.840.10008.1.2.4.80" &&
        ts != "1.2.840.10008.1.2.4.81")
      continue;
    SCOPED_TRACE(r.at("file"));
    const CliResult out = RunInfo(home.path(), dir + "/" + r.at("file"));
    ASSERT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.fields.at("frame0Sha256"), r.at("dcmtk_frame0_sha256"));
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

}  // namespace
}  // namespace velmo::test
