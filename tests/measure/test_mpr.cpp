// Volume tools: series reading (acceptance, order, failures), the resampled volume
// against a plain evaluation of the interpolation formulas, extraction of both lines,
// the MIP projection and the slice-line geometry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "base/numbers.h"
#include "base/text.h"
#include "dicom/load_context.h"
#include "dicom/view_load.h"
#include "measure/mip.h"
#include "measure/mpr.h"
#include "measure/slice_line.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo {
namespace {

using test::Bytes;
using test::DicomWriter;
using test::TempDir;

const char* kImplicit = "1.2.840.10008.1.2";
const char* kExplicit = "1.2.840.10008.1.2.1";
const char* kBig = "1.2.840.10008.1.2.2";

// One slice file of a synthetic series.
struct SliceParams {
  double location = 0;
  int rows = 4, columns = 5;
  int bits = 16;
  bool isSigned = true;
  std::string imageType = "ORIGINAL\\PRIMARY\\AXIAL";
  std::string frame = "1.2.3.4";
  std::string syntax = kExplicit;
  std::string spacing = "0.5\\0.5";
  std::function<int(int x, int y)> value;  // stored value of each pixel
  std::vector<std::pair<uint16_t, uint16_t>> omit;  // elements left out
  bool compressed = false;
  bool colour = false;  // RGB, 8 bits: channel c of a pixel is value + 10 c
};

Bytes SliceFile(const SliceParams& s) {
  const int syntax = s.syntax == kImplicit ? 0 : (s.syntax == kBig ? 2 : 1);
  const bool big = syntax == 2;
  DicomWriter w(syntax);
  auto keep = [&](uint16_t g, uint16_t e) {
    return std::find(s.omit.begin(), s.omit.end(), std::make_pair(g, e)) == s.omit.end();
  };
  w.Text(0x0008, 0x0008, "CS", s.imageType);
  w.Text(0x0008, 0x0018, "UI", "1.2.3." + std::to_string(int(s.location * 10 + 5000)));
  w.Text(0x0018, 0x0050, "DS", "1.0");
  w.Text(0x0020, 0x000E, "UI", "1.2.3.9");
  w.Text(0x0020, 0x0011, "IS", "3");
  w.Text(0x0020, 0x0013, "IS", "1");
  if (keep(0x0020, 0x0032)) w.Text(0x0020, 0x0032, "DS", "0\\0\\" + std::to_string(s.location));
  if (keep(0x0020, 0x0037)) w.Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0");
  if (keep(0x0020, 0x0052)) w.Text(0x0020, 0x0052, "UI", s.frame);
  if (keep(0x0020, 0x1041)) w.Text(0x0020, 0x1041, "DS", std::to_string(s.location));
  if (s.colour) {
    w.U16(0x0028, 0x0002, 3);
    w.Text(0x0028, 0x0004, "CS", "RGB");
    w.U16(0x0028, 0x0006, 0);
  } else {
    w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
  }
  if (keep(0x0028, 0x0010)) w.U16(0x0028, 0x0010, uint16_t(s.rows));
  if (keep(0x0028, 0x0011)) w.U16(0x0028, 0x0011, uint16_t(s.columns));
  if (keep(0x0028, 0x0030)) w.Text(0x0028, 0x0030, "DS", s.spacing);
  w.U16(0x0028, 0x0100, uint16_t(s.bits));
  w.U16(0x0028, 0x0101, uint16_t(s.bits));
  w.U16(0x0028, 0x0102, uint16_t(s.bits - 1));
  w.U16(0x0028, 0x0103, s.isSigned ? 1 : 0);
  w.Text(0x0028, 0x1052, "DS", "-1024");
  w.Text(0x0028, 0x1053, "DS", "1");
  if (s.compressed) {
    w.Encapsulated({Bytes{0xFF, 0xD8, 0xFF, 0xD9}});
    return test::MakeFile("1.2.840.10008.1.2.4.70", w.bytes());
  }
  Bytes pixels;
  for (int y = 0; y < s.rows; ++y)
    for (int x = 0; x < s.columns; ++x) {
      const int v = s.value ? s.value(x, y) : 0;
      if (s.colour) {
        for (int c = 0; c < 3; ++c) pixels.push_back(uint8_t(v + 10 * c));
      } else if (s.bits == 16) {
        const uint16_t u = uint16_t(v);
        if (big) {
          pixels.push_back(uint8_t(u >> 8));
          pixels.push_back(uint8_t(u));
        } else {
          pixels.push_back(uint8_t(u));
          pixels.push_back(uint8_t(u >> 8));
        }
      } else {
        pixels.push_back(uint8_t(v));
      }
    }
  w.PixelData(pixels, s.bits == 16 ? "OW" : "OB");
  return test::MakeFile(s.syntax, w.bytes());
}

// A series on disk: the files in the given order, and the first one loaded as the
// left image.
struct Series {
  TempDir dir;
  std::vector<std::string> paths;
  LoadContext ctx;
  DicomImage& left() { return ctx.records[0]; }
  explicit Series(const std::vector<SliceParams>& params) {
    for (size_t i = 0; i < params.size(); ++i) {
      paths.push_back(dir.File("s" + std::to_string(i) + ".dcm"));
      test::WriteBytes(paths.back(), SliceFile(params[i]));
    }
    PrepareSingleFile(ctx, paths.empty() ? std::string() : paths[0]);
    if (!paths.empty()) EXPECT_TRUE(LoadImageAtViewPosition(ctx, 1));
  }
};

// Deterministic pseudo-random values of slice `seed`.
std::function<int(int, int)> Noise(int seed, int lo, int hi) {
  return [seed, lo, hi](int x, int y) {
    uint32_t h = uint32_t(seed * 7919 + x * 104729 + y * 1299709);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return lo + int(h % uint32_t(hi - lo + 1));
  };
}

// The resampled volume by a plain reading of the formulas: slices sorted by location
// (largest first), step b = N * 512 / P, the cubic kernel with double sums between
// slice 2 and N - 2, linear interpolation elsewhere.
std::vector<int32_t> ReferenceVolume(std::vector<SliceParams> params, int planes) {
  std::stable_sort(params.begin(), params.end(),
                   [](const SliceParams& a, const SliceParams& b) { return a.location > b.location; });
  const int n = int(params.size()), R = params[0].rows, C = params[0].columns;
  auto sample = [&](int i, int p) {
    int v = params[size_t(i)].value(p % C, p / C);
    if (params[size_t(i)].bits == 16) return params[size_t(i)].isSigned ? int(int16_t(uint16_t(v))) : int(uint16_t(v));
    return params[size_t(i)].isSigned ? int(int8_t(uint8_t(v))) : int(uint8_t(v));
  };
  std::vector<int32_t> out(size_t(planes) * R * C);
  const unsigned b = unsigned(n) * 512u / unsigned(planes);
  for (int d = 0; d < planes; ++d) {
    const unsigned g = b * unsigned(d);
    const int k = int(g / 512), f = int(g % 512);
    for (int p = 0; p < R * C; ++p) {
      int64_t v;
      if (g > 1023 && k < n - 2) {
        double sum = 0;
        for (int i = k - 2; i <= k + 2; ++i) {
          const double s = std::fabs(double(g) - 512.0 * i) / 512.0;
          double w = 0;
          if (s < 1) {
            w = 134217728.0 * (s * s * s - 2 * s * s + 1);
          } else if (s < 2) {
            w = 134217728.0 * (-s * s * s + 5 * s * s - 8 * s + 4);
          }
          sum += double(int64_t(sample(i, p)) * int64_t(std::llround(w)));
        }
        v = int64_t(sum) >> 27;
      } else {
        const int a = sample(k, p), c = sample(k + 1 < n ? k + 1 : k, p);
        v = a + ((int64_t(f) * (c - a)) >> 9);
      }
      out[size_t(d) * R * C + size_t(p)] = int32_t(v);
    }
  }
  return out;
}

std::vector<int32_t> VolumeValues(const MprState& s) {
  std::vector<int32_t> v(s.volume.size());
  for (size_t i = 0; i < v.size(); ++i) v[i] = VolumeValue(s, s.volume[i]);
  return v;
}

MprReadResult Read(Series& series, MprState& state, std::string* message, VolumeView view = VolumeView::kMpr) {
  return ReadSeriesForVolume(series.left(), series.paths, view, state, message);
}

bool Build(Series& series, MprState& state, int threads = 1) {
  std::string message;
  if (Read(series, state, &message) != MprReadResult::kOk) return false;
  uint64_t bytes = 0;
  if (!AllocateVolume(state, &bytes)) return false;
  MprProgress progress;
  BuildVolume(state, progress, threads);
  return progress.done.load();
}

TEST(MprKernel, WeightsMatchTheKernelInSliceUnits) {
  for (int t = 0; t < 1100; t += 37) {
    const double s = t / 512.0;
    double w = 0;
    if (s < 1) w = s * s * s - 2 * s * s + 1;
    else if (s < 2) w = -s * s * s + 5 * s * s - 8 * s + 4;
    EXPECT_EQ(CubicWeight(t), std::llround(w * 134217728.0)) << t;
  }
  EXPECT_EQ(PlaneCount(10, 0, 0.5), 20);
  EXPECT_EQ(PlaneCount(0, 10, 3.0), 3);   // 3.33 + 0.5 truncated
  EXPECT_EQ(PlaneCount(5, 5, 1.0), 0);
  EXPECT_EQ(PlaneCount(5, 0, 0.0), 0);
  EXPECT_EQ(PlaneCount(5, 0, std::nan("")), 0);
}

// Synthetic series of several shapes: the volume equals the plain evaluation, sample
// for sample, whatever the file order, encoding and signedness.
TEST(MprVolume, MatchesPlainEvaluation) {
  struct Case {
    const char* name;
    std::vector<double> locations;  // in file (list) order
    std::string syntax;
    bool isSigned;
    std::string spacing;
    int lo, hi;
  };
  const Case cases[] = {
      {"shuffled signed", {3, -1, 5, 1, 0, 4, 2, -2}, kExplicit, true, "0.7\\0.7", -1000, 3000},
      {"unsigned implicit", {0, 1, 2, 3, 4, 5}, kImplicit, false, "0.4\\0.4", 0, 4095},
      {"big endian", {10, 8, 6, 4, 2}, kBig, true, "1.5\\1.5", -2000, 2000},
      {"three slices: linear only", {0, 2, 4}, kExplicit, true, "0.5\\0.5", -100, 100},
      {"two slices", {1, 0}, kExplicit, false, "0.25\\0.25", 0, 60000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<SliceParams> params;
    for (size_t i = 0; i < c.locations.size(); ++i) {
      SliceParams s;
      s.location = c.locations[i];
      s.syntax = c.syntax;
      s.isSigned = c.isSigned;
      s.spacing = c.spacing;
      s.value = Noise(int(i) + 1, c.lo, c.hi);
      params.push_back(s);
    }
    Series series(params);
    MprState state;
    ASSERT_TRUE(Build(series, state));
    const auto [mn, mx] = std::minmax_element(c.locations.begin(), c.locations.end());
    EXPECT_EQ(state.planes, PlaneCount(*mx, *mn, ParseDouble(c.spacing)));
    ASSERT_GT(state.planes, 0);
    for (size_t i = 1; i < state.slices.size(); ++i)
      EXPECT_GE(state.slices[i - 1].sliceLocation, state.slices[i].sliceLocation);
    {
      const auto got = VolumeValues(state), ref = ReferenceVolume(params, state.planes);
      ASSERT_EQ(got.size(), ref.size());
      // The kernel overshoots near sharp edges; a value beyond what the series can
      // store is clamped to its range rather than wrapped around.
      const int lo = c.isSigned ? -32768 : 0, hi = c.isSigned ? 32767 : 65535;
      for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], std::clamp(ref[i], lo, hi)) << "sample " << i;
    }
    EXPECT_EQ(state.outputWidth, 5);

    // The right pane's record: the output image in little-endian order, no shared buffer.
    state.activeLine = 1;
    state.lineY = 1;
    ExtractMpr(state, false);
    DicomImage slot;
    FillReformatRecord(series.left(), state, slot);
    EXPECT_EQ(slot.rows, state.planes);
    EXPECT_EQ(slot.columns, 5);
    EXPECT_EQ(slot.syntaxType, kExplicitLittle);
    EXPECT_EQ(slot.pixelData, state.output);
    EXPECT_TRUE(slot.displayBitmap.empty());
    EXPECT_NE(slot.pixelData.data(), series.left().pixelData.data());
    const uint16_t first = uint16_t(slot.pixelData[0] | (slot.pixelData[1] << 8));
    EXPECT_EQ(VolumeValue(state, first), VolumeValues(state)[5]);  // plane 0, row 1, column 0

    // Two workers give the same bytes as one.
    MprState two;
    ASSERT_TRUE(Build(series, two, 2));
    EXPECT_EQ(two.volume, state.volume);
  }
}

TEST(MprVolume, EightBitSeriesStaysInsideItsBuffersAndRange) {
  std::vector<SliceParams> params;
  for (int i = 0; i < 6; ++i) {
    SliceParams s;
    s.location = i;
    s.bits = 8;
    s.isSigned = false;
    s.value = Noise(i, 0, 255);
    params.push_back(s);
  }
  Series series(params);
  MprState state;
  ASSERT_TRUE(Build(series, state));
  EXPECT_EQ(state.BytesPerPixel(), 1);
  const std::vector<int32_t> ref = ReferenceVolume(params, state.planes);
  const std::vector<int32_t> got = VolumeValues(state);
  ASSERT_EQ(got.size(), ref.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], std::clamp(ref[i], 0, 255)) << i;
  state.activeLine = 2;
  state.lineX = 4;
  ExtractMpr(state, false);
  EXPECT_EQ(state.output.size(), size_t(state.planes) * 5);
  EXPECT_EQ(state.output[0], uint8_t(got[4]));
}

TEST(MprVolume, ColourSeriesIsResampledChannelByChannel) {
  std::vector<SliceParams> params;
  for (int i = 0; i < 6; ++i) {
    SliceParams s;
    s.location = 5 - i;
    s.bits = 8;
    s.isSigned = false;
    s.colour = true;
    s.value = Noise(i, 0, 200);
    params.push_back(s);
  }
  Series series(params);
  MprState state;
  ASSERT_TRUE(Build(series, state, 2));
  EXPECT_EQ(state.BytesPerPixel(), 3);
  for (int c = 0; c < 3; ++c) {
    std::vector<SliceParams> channel = params;
    for (SliceParams& s : channel) s.value = [f = s.value, c](int x, int y) { return f(x, y) + 10 * c; };
    const std::vector<int32_t> ref = ReferenceVolume(channel, state.planes);
    for (size_t i = 0; i < ref.size(); ++i)
      ASSERT_EQ(VolumeValue(state, state.volume[i * 3 + size_t(c)]), std::clamp(ref[i], 0, 255)) << c << " " << i;
  }
  // Both lines and the MIP write whole RGB pixels inside the output.
  for (int line = 1; line <= 2; ++line) {
    state.activeLine = line;
    state.lineX = 4;
    state.lineY = 3;
    ExtractMpr(state, false);
    ExtractMpr(state, true);
    EXPECT_EQ(state.output.size(), size_t(state.planes) * 5 * 3);
  }
  EXPECT_EQ(state.output[3 * 1 + 1], uint8_t(VolumeValue(state, state.volume[(0 * 5 + 4) * 3 + 1])));  // draft at the last column: pixel 1 repeats (4, 0)
  ResetMipSlab(state);
  state.mipX1 = 0;
  state.mipX2 = 5;
  ProjectMip(state, -65535, 65535, 0);
  EXPECT_EQ(state.output.size(), size_t(state.planes) * 5 * 3);
}

TEST(MprRead, SkipsOtherImagesAndReportsMissingElements) {
  auto base = [](double loc) {
    SliceParams s;
    s.location = loc;
    s.value = Noise(int(loc), -50, 50);
    return s;
  };
  {  // A localiser, another frame of reference and a slice of another size are skipped.
    std::vector<SliceParams> params = {base(0), base(1), base(2), base(3)};
    SliceParams localiser = base(9);
    localiser.imageType = "ORIGINAL\\PRIMARY\\LOCALIZER";
    SliceParams otherFrame = base(-9);
    otherFrame.frame = "1.2.3.5";
    SliceParams otherSize = base(7);
    otherSize.rows = 6;
    params.insert(params.begin() + 2, localiser);
    SliceParams compressedLocaliser = localiser;  // skipped before its pixel data matters
    compressedLocaliser.compressed = true;
    params.push_back(compressedLocaliser);
    params.push_back(otherFrame);
    params.push_back(otherSize);
    Series series(params);
    MprState state;
    std::string message;
    ASSERT_EQ(Read(series, state, &message), MprReadResult::kOk) << message;
    ASSERT_EQ(state.slices.size(), 4u);
    EXPECT_EQ(state.slices.front().sliceLocation, 3);
    EXPECT_EQ(state.slices.back().sliceLocation, 0);
    EXPECT_EQ(state.sliceBuffer.size(), 4u * 4 * 5 * 2);
  }
  struct Failure {
    std::vector<SliceParams> params;
    VolumeView view;
    const char* message;
  };
  auto without = [&](uint16_t g, uint16_t e) {
    std::vector<SliceParams> v = {base(0), base(1)};
    v[1].omit.push_back({g, e});
    return v;
  };
  std::vector<SliceParams> compressed = {base(0), base(1)};
  compressed[1].compressed = true;
  std::vector<SliceParams> badSpacing = {base(0), base(1)};
  for (SliceParams& s : badSpacing) s.spacing = "0\\0";
  const Failure failures[] = {
      {{base(4)}, VolumeView::kMpr, "MPRを実行するためのスライス幅がありません"},
      {{base(2), base(2), base(2)}, VolumeView::kMpr, "MPRを実行するためのスライス幅がありません"},
      {{base(2), base(2)}, VolumeView::kMip, "MIPを実行するためのスライス幅がありません"},
      {without(0x0020, 0x0032), VolumeView::kMpr, "画像左上の座標(0020,0032)の情報がありません"},
      {without(0x0020, 0x0037), VolumeView::kMpr, "画像の向き(0020,0037)の情報がありません"},
      {without(0x0020, 0x0052), VolumeView::kMpr, "基準座標系UID(0020,0052)の情報がありません"},
      {without(0x0020, 0x1041), VolumeView::kMpr, "スライス位置(0020,1041)の情報がありません"},
      {without(0x0028, 0x0030), VolumeView::kMpr, "画素間隔(0028,0030)の情報がありません"},
      {badSpacing, VolumeView::kMpr, "画素間隔(0028,0030)の情報がありません"},
      {compressed, VolumeView::kMpr, "未対応フォーマットのファイルです"},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.message);
    Series series(f.params);
    MprState state;
    std::string message;
    EXPECT_EQ(Read(series, state, &message, f.view), MprReadResult::kFailed);
    EXPECT_EQ(message, SjisFromUtf8(f.message));
  }
  {  // A file that cannot be read counts as one without pixel data.
    Series series({base(0), base(1)});
    series.paths.push_back(series.dir.File("missing.dcm"));
    MprState state;
    std::string message;
    EXPECT_EQ(Read(series, state, &message), MprReadResult::kFailed);
    EXPECT_EQ(message, SJ("未対応フォーマットのファイルです"));
  }
}

TEST(MprSort, SelectionSortKeepsTheFirstOfEqualMaxima) {
  std::vector<MprSlice> v(5);
  const double loc[5] = {1, 3, 2, 3, 0};
  for (int i = 0; i < 5; ++i) {
    v[size_t(i)].sliceLocation = loc[i];
    v[size_t(i)].instanceNumber = i;
  }
  SortSlicesByLocation(v);
  // Picks index 1 (first 3), then index 3 (the other 3); swaps move 1 and 0 around.
  const int order[5] = {1, 3, 2, 0, 4};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(v[size_t(i)].instanceNumber, order[i]) << i;
}

// A volume whose sample at (plane d, row y, column x) is 1000 d + 10 y + x.
MprState CountingVolume(int planes, int rows, int columns) {
  MprState s;
  s.rows = rows;
  s.columns = columns;
  s.planes = planes;
  s.outputWidth = std::max(rows, columns);
  s.isSigned = true;
  s.volume.resize(size_t(planes) * rows * columns);
  for (int d = 0; d < planes; ++d)
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < columns; ++x)
        s.volume[(size_t(d) * rows + y) * columns + x] = uint16_t(int16_t(1000 * d + 10 * y + x));
  return s;
}

int16_t Out(const MprState& s, int row, int col) {
  const size_t i = (size_t(row) * s.outputWidth + col) * 2;
  return int16_t(uint16_t(s.output[i] | (s.output[i + 1] << 8)));
}

TEST(MprExtract, BothLinesFullAndDraft) {
  MprState s = CountingVolume(5, 6, 4);
  s.activeLine = 1;
  s.lineY = 2;
  ExtractMpr(s, false);
  for (int d = 0; d < 5; ++d)
    for (int c = 0; c < 6; ++c) EXPECT_EQ(Out(s, d, c), c < 4 ? 1000 * d + 20 + c : 0) << d << "," << c;
  s.activeLine = 2;
  s.lineX = 1;
  ExtractMpr(s, false);
  for (int d = 0; d < 5; ++d)
    for (int j = 0; j < 6; ++j) EXPECT_EQ(Out(s, d, j), 1000 * d + 10 * j + 1);
  // Draft at the last column: the right neighbour is the pixel itself; the last
  // (odd-count) plane fills its own row only.
  s.lineX = 3;
  ExtractMpr(s, true);
  for (int d = 0; d < 5; ++d)
    for (int j = 0; j < 6; ++j) EXPECT_EQ(Out(s, d, j), 1000 * (d & ~1) + 10 * (j & ~1) + 3) << d << "," << j;
  s.lineX = 1;
  ExtractMpr(s, true);
  EXPECT_EQ(Out(s, 1, 0), 1);
  EXPECT_EQ(Out(s, 1, 1), 2);  // the right neighbour
  EXPECT_EQ(Out(s, 3, 5), 2000 + 40 + 2);
}

TEST(Mip, ThresholdsSlabsAndRotation) {
  MprState s = CountingVolume(2, 8, 8);
  // Thresholds from the boxes.
  EXPECT_EQ(UpperThreshold(""), 65535);
  EXPECT_EQ(LowerThreshold(""), -65535);
  EXPECT_EQ(UpperThreshold("120"), 120);
  EXPECT_EQ(LowerThreshold("-5"), -5);
  ResetMipSlab(s);
  EXPECT_EQ(s.mipX1, 30);
  EXPECT_EQ(s.mipX2, -22);
  EXPECT_EQ(s.mipY1, 2);
  EXPECT_EQ(s.mipY2, 6);

  struct Case {
    const char* name;
    int x1, x2, y1, y2, direction, lower, upper, rotation;
    std::function<int(int d, int i)> expect;
  };
  const Case cases[] = {
      {"direction 1: column maxima over rows 2..5", 0, 8, 2, 6, 1, -65535, 65535, 0,
       [](int d, int i) { return 1000 * d + 50 + i; }},
      {"direction 2: row maxima over columns 1..3", 1, 4, 0, 8, 2, -65535, 65535, 0,
       [](int d, int i) { return 1000 * d + 10 * i + 3; }},
      {"a value equal to the upper threshold is excluded", 0, 8, 0, 8, 1, -65535, 75, 0,
       [](int d, int i) { return d == 0 ? (i < 5 ? 70 + i : 60 + i) : -2000; }},
      {"empty slab keeps the starting value", 0, 8, 6, 2, 1, -65535, 65535, 0, [](int, int) { return -2000; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    s.mipX1 = c.x1;
    s.mipX2 = c.x2;
    s.mipY1 = c.y1;
    s.mipY2 = c.y2;
    s.mipDirection = c.direction;
    ProjectMip(s, c.lower, c.upper, c.rotation);
    for (int d = 0; d < 2; ++d)
      for (int i = 0; i < 8; ++i) EXPECT_EQ(Out(s, d, i), c.expect(d, i)) << d << "," << i;
  }
  // Rotated by 180 degrees about (4, 4), slab row 1 samples row 7 mirrored; column 0
  // would sample column 8, outside the slice, and keeps its starting value.
  s.mipX1 = 0;
  s.mipX2 = 8;
  s.mipY1 = 1;
  s.mipY2 = 2;
  s.mipDirection = 1;
  ProjectMip(s, -65535, 65535, 180);
  EXPECT_EQ(Out(s, 1, 0), -2000);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(Out(s, 1, i), 1070 + 8 - i) << i;
  // At 45 degrees the corners of the full slab fall outside the slice and are skipped.
  s.mipY2 = 8;
  ProjectMip(s, -65535, 65535, 45);
  EXPECT_LE(Out(s, 0, 0), 77);
  // Unsigned data starts at 0.
  s.isSigned = false;
  s.mipY1 = 5;
  s.mipY2 = 5;
  ProjectMip(s, -65535, 65535, 0);
  EXPECT_EQ(Out(s, 1, 3), 0);
}

TEST(SliceLine, AxialAndCoronalCrossAtTheirSharedRow) {
  // Axial: rows along +y, at z = 40. Coronal: rows along +x, columns along -z, at y = 20.
  SlicePlane axial;
  axial.position[0] = -50;
  axial.position[1] = -50;
  axial.position[2] = 40;
  axial.row[0] = 1;
  axial.column[1] = 1;
  axial.rows = axial.columns = 100;
  axial.rowSpacing = axial.columnSpacing = 1;
  SlicePlane coronal;
  coronal.position[0] = -50;
  coronal.position[1] = 20;
  coronal.position[2] = 100;
  coronal.row[0] = 1;
  coronal.column[2] = -1;
  coronal.rows = coronal.columns = 100;
  coronal.rowSpacing = coronal.columnSpacing = 2;
  EXPECT_EQ(AxisLabel(axial.row), 1);
  EXPECT_EQ(AxisLabel(coronal.column), -3);
  const SliceLineGeometry g = ComputeSliceLine(axial, coronal);
  ASSERT_TRUE(g.available);
  // On the axial image the coronal plane is the row y = 20 - (-50) = 70.
  EXPECT_NEAR(g.a.y[0], 70, 1e-3);
  EXPECT_NEAR(g.a.y[1], 70, 1e-3);
  EXPECT_NEAR(g.a.x[0], 0, 1e-3);
  EXPECT_NEAR(g.a.x[1], 200, 1e-3);  // the coronal image is 200 mm wide
  // On the coronal image the axial plane is z = 40: row (100 - 40) / 2 = 30.
  EXPECT_NEAR(g.b.y[0], 30, 1e-3);
  EXPECT_NEAR(g.b.y[1], 30, 1e-3);
  EXPECT_NEAR(g.b.x[0], 0, 1e-3);
  EXPECT_NEAR(g.b.x[1], 50, 1e-3);

  // Parallel planes at different heights: an edge never pierces the other plane.
  SlicePlane other = axial;
  other.position[2] = 41;
  EXPECT_FALSE(ComputeSliceLine(axial, other).available);
  EXPECT_FALSE(ComputeSliceLine(axial, axial).available);
  EXPECT_TRUE(SliceLineInDrawRange(-10, 0, 20, 10, 10, 10));
  EXPECT_FALSE(SliceLineInDrawRange(-20, 0, 20, 10, 10, 10));
  EXPECT_FALSE(SliceLineInDrawRange(0, 0, 30, 10, 10, 10));
}

}  // namespace
}  // namespace velmo
