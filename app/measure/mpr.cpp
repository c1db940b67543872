#include "measure/mpr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

#include "base/log.h"
#include "base/numbers.h"
#include "base/text.h"
#include "dicom/dicom_image.h"
#include "dicom/element.h"
#include "dicom/load_context.h"
#include "dicom/read_dicom.h"
#include "dicom/rle_decode.h"

namespace velmo {

namespace {

// The data set of a file the loader has read whole: from the end of the meta group
// to the first byte of the pixel data value.
struct SliceRegion {
  const uint8_t* begin = nullptr;
  const uint8_t* end = nullptr;
  int syntax = 0;
  ElementView Find(uint16_t group, uint16_t element) const {
    return FindElement(begin, end, syntax, 0, group, element);
  }
};

// Decimal string values into doubles; returns how many values the element holds.
int ReadDecimals(const ElementView& e, double* out, int count) {
  std::string_view values[6];
  const int n = SplitBackslashValues(e.text(), values, count);
  for (int i = 0; i < n; ++i) {
    const double v = ParseDouble(values[i]);
    out[i] = std::isfinite(v) ? v : 0.0;
  }
  return n;
}

uint16_t ReadU16(const ElementView& e, bool big) { return e.available >= 2 ? Get16(e.value, big) : 0; }

// The message of a missing element, as the volume tools show it.
const std::string& MissingMessage(int which) {
  switch (which) {
    case 0: return SJ("画像左上の座標(0020,0032)の情報がありません");
    case 1: return SJ("画像の向き(0020,0037)の情報がありません");
    case 2: return SJ("基準座標系UID(0020,0052)の情報がありません");
    case 3: return SJ("スライス位置(0020,1041)の情報がありません");
    case 4: return SJ("画像サイズ(0028,0010)の情報がありません");
    case 5: return SJ("画像サイズ(0028,0011)の情報がありません");
    default: return SJ("画素間隔(0028,0030)の情報がありません");
  }
}

void WriteLog(const Log* log, std::string_view message, int kind, int level) {
  if (log) log->Write(message, kind, level);
}

// Widens one stored sample to the volume's 16-bit pattern. 8-bit samples keep their
// value (sign-extended for signed data) so the interpolation sees real values.
inline uint16_t Widen8(uint8_t b, bool isSigned) {
  return isSigned ? static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(b))) : uint16_t{b};
}

// Clamps an interpolated value to what the series can store.
inline int64_t ClampToStore(int64_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

void SampleRange(const MprState& s, int32_t* lo, int32_t* hi) {
  if (s.bytesPerSample == 2) {
    *lo = s.isSigned ? -32768 : 0;
    *hi = s.isSigned ? 32767 : 65535;
  } else {
    *lo = s.isSigned ? -128 : 0;
    *hi = s.isSigned ? 127 : 255;
  }
}

void StoreSample(const MprState& s, uint8_t* out, uint16_t bits) {
  if (s.bytesPerSample == 2) {
    out[0] = static_cast<uint8_t>(bits & 0xFF);
    out[1] = static_cast<uint8_t>(bits >> 8);
  } else {
    out[0] = static_cast<uint8_t>(bits & 0xFF);
  }
}

void FillReformatRecord(const DicomImage& left, const MprState& state, DicomImage& slot) {
  // A copy of the left record: its attributes and header bytes (readers of the header
  // find what headerSize promises); its display bitmap is dropped at once.
  slot = left;
  std::vector<uint8_t>().swap(slot.displayBitmap);
  slot.loaded = 1;
  slot.extracted = 1;
  slot.rows = state.planes;
  slot.columns = state.outputWidth;
  slot.frameCount = 1;
  slot.planarConfiguration = 0;
  slot.syntaxType = kExplicitLittle;
  slot.transferSyntaxUid = "1.2.840.10008.1.2.1";
  slot.displayBitmapPane = 0;
  UpdateReformatPixels(state, slot);
}

void UpdateReformatPixels(const MprState& state, DicomImage& slot) {
  slot.pixelData.assign(state.output.begin(), state.output.end());
  slot.pixelDataLength = static_cast<uint32_t>(std::min<uint64_t>(state.output.size(), 0xFFFFFFFEull));
  slot.displayBitmapPane = 0;
}

void MprState::ReleaseVolume() {
  std::vector<uint16_t>().swap(volume);
  std::vector<uint8_t>().swap(output);
  volumeValid = false;
}

void SortSlicesByLocation(std::vector<MprSlice>& slices) {
  const size_t n = slices.size();
  for (size_t i = 0; i + 1 < n; ++i) {
    size_t best = i;
    for (size_t j = i + 1; j < n; ++j)
      if (slices[j].sliceLocation > slices[best].sliceLocation) best = j;
    if (best != i) std::swap(slices[i], slices[best]);
  }
}

int32_t PlaneCount(double firstLocation, double lastLocation, double rowSpacing) {
  if (!(rowSpacing > 0) || !std::isfinite(rowSpacing)) return 0;
  const double x = std::fabs(firstLocation - lastLocation) / rowSpacing + 0.5;
  if (!std::isfinite(x)) return 0;
  return TruncToInt32(x);
}

MprReadResult ReadSeriesForVolume(const DicomImage& left, const std::vector<std::string>& paths, VolumeView view,
                                  MprState& state, std::string* message, const Log* log, FileSource* files) {
  message->clear();
  // The volume's memory is reused when the next volume has the same size.
  state.volumeValid = false;
  state.slices.clear();
  state.sliceBuffer.clear();  // its memory is kept for the next series
  state.rows = left.rows;
  state.columns = left.columns;
  state.channels = (left.isColour && !left.hasPalette) ? 3 : 1;
  state.bytesPerSample = state.channels == 3 ? 1 : (left.bitsAllocated > 8 ? 2 : 1);
  state.isSigned = left.pixelRepresentation == 1 && state.channels == 1;
  state.rowSpacing = left.pixelSpacing[0];
  state.seriesUid = left.seriesInstanceUid;
  state.planes = 0;
  state.outputWidth = 0;

  auto fail = [&](const std::string& text) {
    *message = text;
    WriteLog(log, text, kLogWarning, 1);
    std::vector<MprSlice>().swap(state.slices);
    std::vector<uint8_t>().swap(state.sliceBuffer);
    return MprReadResult::kFailed;
  };
  if (left.rows <= 0 || left.columns <= 0) return fail(MissingMessage(left.rows <= 0 ? 4 : 5));
  const uint64_t sliceSize = uint64_t(left.rows) * uint64_t(left.columns) * uint64_t(state.BytesPerPixel());
  // The slice buffer holds at most one slice per file; its size is checked before it
  // is allocated.
  const uint64_t bufferBytes = sliceSize * uint64_t(paths.size());
  if (paths.size() != 0 && bufferBytes / paths.size() != sliceSize) return fail(SJ("未対応フォーマットのファイルです"));
  try {
    state.slices.reserve(paths.size());
    state.sliceBuffer.reserve(static_cast<size_t>(bufferBytes));
  } catch (const std::exception&) {
    return fail(Format(SJ("MPR用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
                       static_cast<unsigned long long>(bufferBytes)));
  }

  // One file buffer, reused for every slice file (the loader's whole-file read).
  LoadContext ctx;
  ctx.records.assign(1, DicomImage{});
  ctx.viewIndex[1] = 0;
  if (files) ctx.files = files;
  for (const std::string& path : paths) {
    ctx.records[0] = DicomImage{};
    if (!ReadDicomFile(ctx, path, 1, true)) return fail(SJ("未対応フォーマットのファイルです"));
    const DicomImage& file = ctx.records[0];
    const uint8_t* buf = ctx.fileBuffer.data();
    const uint64_t held = std::min<uint64_t>(ctx.readSize, ctx.fileBuffer.size());
    const int syntax = file.syntaxType;
    const bool big = syntax == kExplicitBig;
    const uint64_t headerBytes = syntax == kImplicitLittle ? 8 : 12;
    if (file.headerSize < 0 || uint64_t(file.headerSize) > held || uint64_t(file.headerSize) < headerBytes ||
        file.datasetOffset < 0 || uint64_t(file.datasetOffset) > uint64_t(file.headerSize) - headerBytes)
      return fail(SJ("未対応フォーマットのファイルです"));
    SliceRegion r;
    r.begin = buf + file.datasetOffset;
    r.end = buf + file.headerSize - headerBytes;
    r.syntax = syntax;
    const ElementView pixel = ReadElementAt(buf + file.headerSize - headerBytes, buf + held, syntax);
    if (!pixel.found()) return fail(SJ("未対応フォーマットのファイルです"));

    MprSlice s;
    s.filePath = path;
    const ElementView position = r.Find(0x0020, 0x0032);
    if (!position.found()) return fail(MissingMessage(0));
    ReadDecimals(position, s.imagePosition, 3);
    const ElementView orientation = r.Find(0x0020, 0x0037);
    if (!orientation.found()) return fail(MissingMessage(1));
    ReadDecimals(orientation, s.imageOrientation, 6);
    const ElementView frame = r.Find(0x0020, 0x0052);
    if (!frame.found()) return fail(MissingMessage(2));
    s.frameOfReferenceUid.Assign(frame.text());
    const ElementView location = r.Find(0x0020, 0x1041);
    if (!location.found()) return fail(MissingMessage(3));
    double loc = 0;
    ReadDecimals(location, &loc, 1);
    s.sliceLocation = loc;
    const ElementView rows = r.Find(0x0028, 0x0010);
    if (!rows.found()) return fail(MissingMessage(4));
    s.rows = ReadU16(rows, big);
    const ElementView columns = r.Find(0x0028, 0x0011);
    if (!columns.found()) return fail(MissingMessage(5));
    s.columns = ReadU16(columns, big);
    const ElementView spacing = r.Find(0x0028, 0x0030);
    if (!spacing.found()) return fail(MissingMessage(6));
    ReadDecimals(spacing, s.pixelSpacing, 2);
    if (const ElementView e = r.Find(0x0008, 0x0008); e.found()) {
      s.imageTypeText.Assign(e.text());
      std::string_view values[5];
      SplitBackslashValues(e.text(), values, 5, 16);
      for (int i = 0; i < 5; ++i) s.imageTypeValues[i].Assign(values[i]);
    }
    if (const ElementView e = r.Find(0x0018, 0x0050); e.found()) ReadDecimals(e, &s.sliceThickness, 1);
    if (const ElementView e = r.Find(0x0020, 0x0011); e.found()) s.seriesNumber = ParseInt(e.text());
    if (const ElementView e = r.Find(0x0020, 0x0013); e.found()) s.instanceNumber = ParseInt(e.text());

    // Acceptance: the same kind of image in the same frame of reference, with the
    // left image's size and sample layout and one whole slice of native pixel data.
    if (!(s.imageTypeText == left.imageTypeText) || !(s.frameOfReferenceUid == left.frameOfReferenceUid)) {
      WriteLog(log, Format(SJ("MPR: 対象外のスライスを除外しました（%s）"), PathText(path)), kLogNormal, 2);
      continue;
    }
    // Encapsulated (compressed) pixel data cannot be stacked.
    if (pixel.length == 0xFFFFFFFFu) return fail(SJ("未対応フォーマットのファイルです"));
    const uint16_t bitsAllocated = [&] {
      const ElementView e = r.Find(0x0028, 0x0100);
      return e.found() ? ReadU16(e, big) : uint16_t{0};
    }();
    const uint16_t planar = [&] {
      const ElementView e = r.Find(0x0028, 0x0006);
      return e.found() ? ReadU16(e, big) : uint16_t{0};
    }();
    if (s.rows != uint32_t(left.rows) || s.columns != uint32_t(left.columns) || bitsAllocated != left.bitsAllocated ||
        pixel.available < sliceSize) {
      WriteLog(log, Format(SJ("MPR: 画像サイズの異なるスライスを除外しました（%s）"), PathText(path)), kLogWarning, 2);
      continue;
    }
    s.sliceSize = sliceSize;
    s.pixelOffset = state.sliceBuffer.size();
    state.sliceBuffer.insert(state.sliceBuffer.end(), pixel.value, pixel.value + sliceSize);
    uint8_t* dst = state.sliceBuffer.data() + s.pixelOffset;
    if (state.bytesPerSample == 2 && big) {
      for (uint64_t i = 0; i + 1 < sliceSize; i += 2) std::swap(dst[i], dst[i + 1]);
    }
    if (state.channels == 3) {
      const uint64_t pixels = uint64_t(left.rows) * uint64_t(left.columns);
      if (planar == 1) {  // RRR..GGG..BBB.. -> RGBRGB..
        std::vector<uint8_t> planes(dst, dst + sliceSize);
        for (uint64_t i = 0; i < pixels; ++i)
          for (int c = 0; c < 3; ++c) dst[i * 3 + c] = planes[c * pixels + i];
      }
      if (left.photometric.StartsWith("YBR_FULL")) ConvertYbrFullToRgb(dst, static_cast<size_t>(pixels));
    }
    state.slices.push_back(std::move(s));
  }
  ctx.FreeFileBuffer();
  if (state.slices.empty()) return MprReadResult::kNoSlices;

  // The left image's row spacing as its own slice file gives it (full precision), or
  // the last accepted slice's when the left file is not among them.
  double rowSpacing = state.slices.back().pixelSpacing[0];
  for (const MprSlice& s : state.slices)
    if (s.filePath == left.filePath) rowSpacing = s.pixelSpacing[0];
  SortSlicesByLocation(state.slices);
  state.outputWidth = std::max(state.rows, state.columns);
  if (!(rowSpacing > 0) || !std::isfinite(rowSpacing)) return fail(MissingMessage(6));
  state.rowSpacing = static_cast<float>(rowSpacing);
  state.planes = PlaneCount(state.slices.front().sliceLocation, state.slices.back().sliceLocation, rowSpacing);
  if (state.planes <= 0) {
    state.planes = 0;
    return fail(view == VolumeView::kMip ? SJ("MIPを実行するためのスライス幅がありません")
                                         : SJ("MPRを実行するためのスライス幅がありません"));
  }
  return MprReadResult::kOk;
}

bool AllocateVolume(MprState& state, uint64_t* bytes) {
  const uint64_t plane = state.PlaneSamples();
  const uint64_t samples = plane * uint64_t(state.planes);
  const uint64_t outBytes = uint64_t(state.outputWidth) * uint64_t(state.planes) * uint64_t(state.BytesPerPixel());
  *bytes = samples * 2 + outBytes;
  // Nothing a 64-bit address space could hold in any case: 2^40 bytes is far beyond.
  constexpr uint64_t kLimit = uint64_t{1} << 40;
  if (state.planes <= 0 || plane == 0 || samples / uint64_t(state.planes) != plane || samples > kLimit / 2 ||
      outBytes > kLimit) {
    if (state.planes > 0 && plane != 0 && samples / uint64_t(state.planes) != plane) *bytes = UINT64_MAX;
    return false;
  }
  try {
    // Every sample is written by the build, so a volume of the same size is reused as
    // it stands; another size is freed before the new one is allocated.
    if (state.volume.size() != samples) {
      std::vector<uint16_t>().swap(state.volume);
      state.volume.resize(static_cast<size_t>(samples));
    }
    std::vector<uint8_t>().swap(state.output);
    state.output.assign(static_cast<size_t>(outBytes), 0);
  } catch (const std::exception&) {
    state.ReleaseVolume();
    return false;
  }
  return true;
}

int64_t CubicWeight(int64_t t) {
  if (t < 0) t = -t;
  if (t < 512) return t * t * t - 1024 * t * t + (int64_t{1} << 27);
  if (t < 1024) return t * t * (2560 - t) - (int64_t{1} << 21) * t + (int64_t{1} << 29);
  return 0;
}

void ResamplePlanes(MprState& state, int32_t first, int32_t last, int32_t step, MprProgress& progress,
                    std::vector<int64_t>& accumulator) {
  const int64_t n = static_cast<int64_t>(state.slices.size());
  if (n == 0 || state.planes <= 0 || step <= 0) return;
  const uint64_t plane = state.PlaneSamples();
  const uint32_t b = static_cast<uint32_t>(uint64_t(n) * 512u / uint64_t(state.planes));
  int32_t lo = 0, hi = 0;
  SampleRange(state, &lo, &hi);
  const bool wide = state.bytesPerSample == 2;
  const bool isSigned = state.isSigned;
  // The samples of slice i (sorted position) at pixel p, as a value.
  auto slicePtr = [&](int64_t i) { return state.sliceBuffer.data() + state.slices[size_t(i)].pixelOffset; };
  auto value = [&](const uint8_t* s, uint64_t p) -> int64_t {
    if (wide) {
      const uint16_t bits = uint16_t(s[2 * p] | (s[2 * p + 1] << 8));
      return isSigned ? int64_t(int16_t(bits)) : int64_t(bits);
    }
    return VolumeValue(state, Widen8(s[p], isSigned));
  };
  if (accumulator.size() != plane) accumulator.assign(static_cast<size_t>(plane), 0);
  for (int32_t d = first; d < last; d += step) {
    if (progress.cancel.load(std::memory_order_relaxed)) return;
    const uint64_t g = uint64_t(b) * uint64_t(d);
    const int64_t k = static_cast<int64_t>(g / 512);
    const int64_t f = static_cast<int64_t>(g % 512);
    uint16_t* out = state.volume.data() + uint64_t(d) * plane;
    if (g > 1023 && k < n - 2) {
      // Cubic convolution over slices k-2 .. k+2; the products are exact integers, so
      // summing them in 64-bit integers gives the same result as a double sum.
      std::fill(accumulator.begin(), accumulator.end(), 0);
      for (int64_t i = k - 2; i <= k + 2; ++i) {
        const int64_t w = CubicWeight(static_cast<int64_t>(g) - 512 * i);
        if (w == 0) continue;
        const uint8_t* s = slicePtr(i);
        int64_t* acc = accumulator.data();
        if (wide && isSigned) {
          for (uint64_t p = 0; p < plane; ++p)
            acc[p] += int64_t(int16_t(uint16_t(s[2 * p] | (s[2 * p + 1] << 8)))) * w;
        } else if (wide) {
          for (uint64_t p = 0; p < plane; ++p) acc[p] += int64_t(uint16_t(s[2 * p] | (s[2 * p + 1] << 8))) * w;
        } else {
          for (uint64_t p = 0; p < plane; ++p) acc[p] += value(s, p) * w;
        }
      }
      for (uint64_t p = 0; p < plane; ++p)
        out[p] = static_cast<uint16_t>(ClampToStore(accumulator[p] >> 27, lo, hi));
    } else {
      const uint8_t* s0 = slicePtr(k);
      const uint8_t* s1 = slicePtr(k + 1 < n ? k + 1 : k);
      for (uint64_t p = 0; p < plane; ++p) {
        const int64_t a = value(s0, p), c = value(s1, p);
        out[p] = static_cast<uint16_t>(ClampToStore(a + ((f * (c - a)) >> 9), lo, hi));
      }
    }
    // Progress: planes finished (the two workers interleave, so this is approximate).
    int32_t seen = progress.plane.load(std::memory_order_relaxed);
    while (seen < d + 1 && !progress.plane.compare_exchange_weak(seen, d + 1)) {
    }
  }
}

void BuildVolume(MprState& state, MprProgress& progress, int threads) {
  progress.running = true;
  progress.done = false;
  progress.plane = 0;
  if (threads < 1) threads = 1;
  std::thread other;
  std::vector<int64_t> acc0, acc1;
  if (threads > 1 && state.planes > 1) {
    // Planes alternate between the workers so both reach the end at the same time.
    try {
      other = std::thread([&] { ResamplePlanes(state, 1, state.planes, 2, progress, acc1); });
    } catch (const std::system_error&) {
      // No second thread to be had: this one does every plane.
    }
  }
  if (other.joinable()) {
    ResamplePlanes(state, 0, state.planes, 2, progress, acc0);
    other.join();
  } else {
    std::vector<int64_t> acc;
    ResamplePlanes(state, 0, state.planes, 1, progress, acc);
  }
  progress.running = false;
  progress.done = true;
}

void ExtractMpr(MprState& state, bool draft) {
  const int32_t R = state.rows, C = state.columns, P = state.planes, W = state.outputWidth;
  const int32_t ch = state.channels;
  const int32_t B = state.BytesPerPixel();
  const uint64_t plane = state.PlaneSamples();
  const uint64_t need = uint64_t(W) * uint64_t(P) * uint64_t(B);
  if (P <= 0 || R <= 0 || C <= 0 || state.volume.size() < plane * uint64_t(P)) return;
  if (state.output.size() != need) state.output.assign(static_cast<size_t>(need), 0);
  std::fill(state.output.begin(), state.output.end(), 0);
  const int32_t bs = state.bytesPerSample;
  auto put = [&](int32_t row, int32_t col, const uint16_t* src) {
    if (row < 0 || row >= P || col < 0 || col >= W) return;  // writes stay inside the output
    uint8_t* o = state.output.data() + (uint64_t(row) * uint64_t(W) + uint64_t(col)) * uint64_t(B);
    for (int32_t c = 0; c < ch; ++c) StoreSample(state, o + c * bs, src[c]);
  };
  if (state.activeLine == 1) {
    const int32_t y = std::clamp(state.lineY, 0, R - 1);
    for (int32_t d = 0; d < P; ++d) {
      const uint16_t* src = state.volume.data() + uint64_t(d) * plane + uint64_t(y) * uint64_t(C) * uint64_t(ch);
      uint8_t* o = state.output.data() + uint64_t(d) * uint64_t(W) * uint64_t(B);
      if (bs == 2 && ch == 1) {
        for (int32_t i = 0; i < C; ++i) {
          o[2 * i] = static_cast<uint8_t>(src[i] & 0xFF);
          o[2 * i + 1] = static_cast<uint8_t>(src[i] >> 8);
        }
      } else {
        for (int32_t i = 0; i < C; ++i) put(d, i, src + uint64_t(i) * ch);
      }
    }
    return;
  }
  const int32_t x = std::clamp(state.lineX, 0, C - 1);
  if (!draft) {
    const int32_t n = std::min(R, W);
    for (int32_t d = 0; d < P; ++d) {
      const uint16_t* base = state.volume.data() + uint64_t(d) * plane + uint64_t(x) * ch;
      uint8_t* o = state.output.data() + uint64_t(d) * uint64_t(W) * uint64_t(B);
      if (bs == 2 && ch == 1) {
        for (int32_t j = 0; j < n; ++j) {
          const uint16_t v = base[uint64_t(j) * uint64_t(C)];
          o[2 * j] = static_cast<uint8_t>(v & 0xFF);
          o[2 * j + 1] = static_cast<uint8_t>(v >> 8);
        }
      } else {
        for (int32_t j = 0; j < n; ++j) put(d, j, base + uint64_t(j) * uint64_t(C) * ch);
      }
    }
    return;
  }
  // Draft: every second plane and source row; the pixel and its right neighbour (the
  // pixel itself at the last column) fill two output pixels in two output rows.
  const int32_t right = x + 1 < C ? x + 1 : x;
  if (bs == 2 && ch == 1) {
    for (int32_t d = 0; d < P; d += 2) {
      const uint16_t* base = state.volume.data() + uint64_t(d) * plane;
      uint8_t* o0 = state.output.data() + uint64_t(d) * uint64_t(W) * 2;
      uint8_t* o1 = d + 1 < P ? o0 + uint64_t(W) * 2 : nullptr;
      for (int32_t j = 0; j < R && j < W; j += 2) {
        const uint16_t a = base[uint64_t(j) * uint64_t(C) + uint64_t(x)];
        const uint16_t b = base[uint64_t(j) * uint64_t(C) + uint64_t(right)];
        const uint8_t pix[4] = {static_cast<uint8_t>(a & 0xFF), static_cast<uint8_t>(a >> 8),
                                static_cast<uint8_t>(b & 0xFF), static_cast<uint8_t>(b >> 8)};
        const size_t bytes = j + 1 < W ? 4 : 2;  // writes stay inside the output row
        std::memcpy(o0 + 2 * j, pix, bytes);
        if (o1) std::memcpy(o1 + 2 * j, pix, bytes);
      }
    }
    return;
  }
  for (int32_t d = 0; d < P; d += 2) {
    const uint16_t* base = state.volume.data() + uint64_t(d) * plane;
    for (int32_t j = 0; j < R; j += 2) {
      const uint16_t* a = base + (uint64_t(j) * uint64_t(C) + uint64_t(x)) * ch;
      const uint16_t* b = base + (uint64_t(j) * uint64_t(C) + uint64_t(right)) * ch;
      put(d, j, a);
      put(d, j + 1, b);
      put(d + 1, j, a);
      put(d + 1, j + 1, b);
    }
  }
}

}  // namespace velmo
