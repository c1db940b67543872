#include "dicom/pixel_stage.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

#include "dicom/element.h"
#include "dicom/jpeg_decode.h"
#include "dicom/jpeg_extended.h"
#include "dicom/htj2k_child.h"
#include "dicom/j2k_decode.h"
#include "dicom/jpeg_lossless.h"
#include "dicom/jpegls_decode.h"
#include "dicom/rle_decode.h"
#include "dicom/transfer_syntax.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {


// Offsets and sizes of the system are 32-bit: no image beyond this is real.
constexpr uint64_t kMaxPixelBytes = 0x7FFFFFFFull;
// Compressed data cannot stand for more than this many times its own size (PackBits
// expands at most 64 times, a flat baseline JPEG a few hundred times). A header that
// promises more from a small file is damaged; small images are always accepted.
constexpr uint64_t kMaxExpansion = 1024;
constexpr uint64_t kAlwaysPlausible = 64ull << 20;

bool IsYbrFull(const DicomImage& im) {
  return im.photometric.StartsWith("YBR_FULL") && !im.photometric.StartsWith("YBR_FULL_422");
}

// An Item tag (FFFE,E000) with its 4-byte length fully inside [p, end).
bool IsItem(const uint8_t* p, const uint8_t* end) {
  return end - p >= 8 && p[0] == 0xFE && p[1] == 0xFF && p[2] == 0x00 && p[3] == 0xE0;
}

// The value of the item at p, its length bounded by the end of the buffer.
struct Item {
  const uint8_t* value;
  size_t length;
};
Item ReadItem(const uint8_t* p, const uint8_t* end) {
  const uint32_t declared = Get32(p + 4, false);
  const uint8_t* value = p + 8;
  const size_t room = static_cast<size_t>(end - value);
  return {value, declared < room ? declared : room};
}

// a x b, saturating at UINT64_MAX.
uint64_t MulSat(uint64_t a, uint64_t b) {
  uint64_t r;
  return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

void FailUnsupported(LoadContext& ctx) { ctx.Fail(SJ("未対応フォーマットのファイルです"), kLogWarning, 1); }

bool Allocate(LoadContext& ctx, DicomImage& im, uint64_t total) {
  std::vector<uint8_t>().swap(im.pixelData);
  try {
    im.pixelData.assign(static_cast<size_t>(total), 0);
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  std::vector<uint8_t>().swap(im.pixelData);
  const std::string message =
      Format(SJ("元画像データ（DICOM形式）用のメモリが確保できません。(%d)確保済みのメモリを解放しますか？"),
             static_cast<long long>(total));
  ctx.Fail(message, kLogWarning, 1);
  if (ctx.Ask(SJ("警告"), message, NoticeIcon::Warning)) ctx.FreeAllRecordBuffers();
  return false;
}

// Where a JPEG stream (SOI, FF D8) or a JPEG 2000 codestream (SOC, FF 4F, or a JP2
// signature box) starts.
bool StartsJpeg(const uint8_t* v, size_t n) { return n >= 2 && v[0] == 0xFF && v[1] == 0xD8; }
bool StartsJpeg2000(const uint8_t* v, size_t n) {
  return (n >= 2 && v[0] == 0xFF && v[1] == 0x4F) || (n >= 12 && std::memcmp(v + 4, "jP  ", 4) == 0);
}
// The first fragment of a JPEG frame: anything that looks like the start of a stream.
bool MayStartJpeg(const uint8_t* v, size_t n) { return (n >= 1 && v[0] == 0xFF) || (n >= 2 && v[1] == 0xD8); }

// The next frame of encapsulated data from pos: its first fragment (items that do not
// pass mayStart, such as the Basic Offset Table, are skipped) and the following
// fragments up to the next one that starts a stream, or the delimiter. False when no
// fragment is left.
bool NextFrame(const uint8_t*& pos, const uint8_t* end, std::vector<uint8_t>& joined, const uint8_t** data,
               size_t* dataLength, bool (*mayStart)(const uint8_t*, size_t), bool (*starts)(const uint8_t*, size_t)) {
  const uint8_t* fragment = nullptr;
  size_t length = 0;
  while (IsItem(pos, end)) {
    const Item item = ReadItem(pos, end);
    pos = item.value + item.length;
    if (mayStart(item.value, item.length)) {
      fragment = item.value;
      length = item.length;
      break;
    }
  }
  if (fragment == nullptr) return false;
  bool spread = false;
  while (IsItem(pos, end)) {
    const Item item = ReadItem(pos, end);
    if (starts(item.value, item.length)) break;
    if (!spread) {
      joined.assign(fragment, fragment + length);
      spread = true;
    }
    joined.insert(joined.end(), item.value, item.value + item.length);
    pos = item.value + item.length;
  }
  *data = spread ? joined.data() : fragment;
  *dataLength = spread ? joined.size() : length;
  return true;
}

bool NextJpegFrame(const uint8_t*& pos, const uint8_t* end, std::vector<uint8_t>& joined, const uint8_t** data,
                   size_t* dataLength) {
  return NextFrame(pos, end, joined, data, dataLength, MayStartJpeg, StartsJpeg);
}

void DecodeJpegFrames(LoadContext& ctx, DicomImage& im, const uint8_t* start, const uint8_t* end,
                      uint64_t frameBytes, int32_t frames) {
  ctx.Write(SJ("Jpegの解凍開始"), kLogNormal, 2);
  // One decoder per thread, kept between loads (its set-up is not free).
  thread_local JpegDecoder decoder;
  std::vector<uint8_t> joined;  // a frame spread over several fragments
  const int samples = im.SamplesInPixelData();
  const uint8_t* pos = start;
  for (int32_t f = 0; f < frames; ++f) {
    const uint8_t* data = nullptr;
    size_t dataLength = 0;
    // No fragment left: the remaining frames stay black.
    if (!NextJpegFrame(pos, end, joined, &data, &dataLength)) break;

    if (f == 0) {
      int width = 0, height = 0;
      decoder.ReadHeader(data, dataLength, &width, &height);
      ctx.Write(Format(SJ("Jpegの画像タイプの取得 %d %d"), dataLength > 0 ? int{data[0]} : 0,
                       dataLength > 1 ? int{data[1]} : 0),
                kLogNormal, 3);
    }
    ctx.Write(SJ("Jpeg→DIB"), kLogNormal, 3);
    ctx.Write(SJ("DIB情報の取得"), kLogNormal, 3);
    // Grey images with more than 8 bits allocated get nothing: baseline JPEG is 8-bit.
    if (samples == 2) continue;
    uint8_t* out = im.pixelData.data() + static_cast<size_t>(f) * frameBytes;
    const JpegStatus status = decoder.DecodeInto(data, dataLength, out, im.rows, im.columns, samples);
    if (status == JpegStatus::kNoHeader || status == JpegStatus::kTooLarge || status == JpegStatus::kPartial)
      ctx.Write(Format(SJ("Jpegフレーム(%d)の解凍に失敗しました"), f), kLogWarning, 2);
  }
}

// Frames of lossless JPEG (own decoder), JPEG-LS (CharLS), JPEG 2000 (OpenJPEG) and
// HTJ2K (in the helper process). A frame that fails is logged; it keeps what was
// decoded before the failure, or stays black.
void DecodeCodecFrames(LoadContext& ctx, DicomImage& im, PixelPath path, const uint8_t* start, const uint8_t* end,
                       uint64_t frameBytes, int32_t frames) {
  ctx.Write(SJ("Jpegの解凍開始"), kLogNormal, 2);
  std::vector<uint8_t> joined;
  const int samples = im.SamplesInPixelData();
  const uint8_t* pos = start;
  const bool j2k = path == PixelPath::kJpeg2000 || path == PixelPath::kHtj2k;
  for (int32_t f = 0; f < frames; ++f) {
    const uint8_t* data = nullptr;
    size_t dataLength = 0;
    if (!NextFrame(pos, end, joined, &data, &dataLength, j2k ? StartsJpeg2000 : MayStartJpeg,
                   j2k ? StartsJpeg2000 : StartsJpeg))
      break;
    uint8_t* out = im.pixelData.data() + static_cast<size_t>(f) * frameBytes;
    bool ok;
    if (path == PixelPath::kJpegLossless) {
      ok = DecodeJpegLossless(data, dataLength, out, im.rows, im.columns, samples) == LosslessStatus::kOk;
    } else if (path == PixelPath::kJpegExtended) {
      // 8-bit streams into 8-bit frames through libjpeg-turbo, as baseline; 12-bit
      // streams (which it cannot read) through our own decoder.
      JpegFrameHeader header;
      if (ReadJpegFrameHeader(data, dataLength, &header) && header.precision == 8 && samples != 2) {
        thread_local JpegDecoder turbo;
        const JpegStatus status = turbo.DecodeInto(data, dataLength, out, im.rows, im.columns, samples);
        ok = status == JpegStatus::kOk;
      } else {
        ok = DecodeJpegExtended(data, dataLength, out, im.rows, im.columns, samples);
      }
    } else if (path == PixelPath::kJpegLs) {
      ok = DecodeJpegLs(data, dataLength, out, im.rows, im.columns, samples);
    } else if (path == PixelPath::kHtj2k || UsesHighThroughputCoding(data, dataLength)) {
      // The HT decoders stop the process on some damaged streams, so HT streams (also
      // those met under a JPEG 2000 UID) are decoded in the helper process.
      ok = DecodeJpeg2000InChild(data, dataLength, out, im.rows, im.columns, samples) == ChildDecodeStatus::kOk;
    } else {
      ok = DecodeJpeg2000(data, dataLength, out, im.rows, im.columns, samples);
    }
    if (!ok) ctx.Write(Format(SJ("Jpegフレーム(%d)の解凍に失敗しました"), f), kLogWarning, 2);
  }
}

void DecodeRleFrames(DicomImage& im, const uint8_t* start, const uint8_t* end, uint64_t frameBytes,
                     int32_t frames) {
  const uint8_t* pos = start;
  if (IsItem(pos, end)) {  // the Basic Offset Table
    const Item table = ReadItem(pos, end);
    pos = table.value + table.length;
  }
  const bool ybr = IsYbrFull(im) && im.SamplesInPixelData() == 3;
  std::vector<uint8_t> joined;
  for (int32_t f = 0; f < frames && IsItem(pos, end); ++f) {
    Item fragment = ReadItem(pos, end);
    pos = fragment.value + fragment.length;
    if (frames == 1 && IsItem(pos, end)) {
      // A single frame split over several fragments: its data is all of them, in
      // order, up to the delimiter (multi-frame data has one fragment per frame).
      joined.assign(fragment.value, fragment.value + fragment.length);
      while (IsItem(pos, end)) {
        const Item more = ReadItem(pos, end);
        joined.insert(joined.end(), more.value, more.value + more.length);
        pos = more.value + more.length;
      }
      fragment = {joined.data(), joined.size()};
    }
    uint8_t* out = im.pixelData.data() + static_cast<size_t>(f) * frameBytes;
    const RleFrameResult result = DecodeRleFrame(fragment.value, fragment.length, out, frameBytes, im.bitsAllocated);
    // A frame nothing was decoded into stays black rather than turning green.
    if (ybr && result.bytesWritten > 0) ConvertYbrFullToRgb(out, frameBytes / 3);
  }
}

void DefaultWindow(DicomImage& im, bool bigEndian);

// Native 8-bit YBR_FULL_422: each two pixels are stored as Y1 Y2 Cb Cr, two thirds of
// the bytes of a full colour frame.
bool IsNativeYbr422(const DicomImage& im) {
  return im.photometric.StartsWith("YBR_FULL_422") && im.SamplesInPixelData() == 3 && im.bitsAllocated == 8;
}

// Expands native YBR_FULL_422 frames to interleaved Y, Cb, Cr (each pixel of a pair
// takes the pair's Cb and Cr) and converts them to R, G, B. Fails like the native copy
// when the file holds fewer bytes than the frames need.
bool LoadNativeYbr422(LoadContext& ctx, DicomImage& im, const uint8_t* start, uint64_t available, int32_t frames) {
  const uint64_t pixels = static_cast<uint64_t>(im.rows) * static_cast<uint64_t>(im.columns);
  const uint64_t storedFrame = (pixels + 1) / 2 * 4;
  const uint64_t stored = MulSat(storedFrame, static_cast<uint64_t>(frames));
  const uint64_t total = MulSat(pixels * 3, static_cast<uint64_t>(frames));
  if (im.headerSize < 0 || stored > available || total > kMaxPixelBytes) {
    const uint64_t needed = static_cast<uint64_t>(std::max(im.headerSize, 0)) + stored;
    const std::string message = Format(SJ("ヘッダで指定された画像サイズ(%d)よりファイルサイズ(%d)のほうが小さい"),
                                       static_cast<unsigned long long>(needed),
                                       static_cast<unsigned long long>(ctx.readSize));
    ctx.Fail(message, kLogError, 1);
    ctx.Show(SJ("エラー"), message, NoticeIcon::Error);
    return false;
  }
  if (!Allocate(ctx, im, total)) return false;
  for (int32_t f = 0; f < frames; ++f) {
    const uint8_t* in = start + static_cast<size_t>(f) * storedFrame;
    uint8_t* out = im.pixelData.data() + static_cast<size_t>(f) * pixels * 3;
    for (uint64_t i = 0; i < pixels; i += 2) {
      const uint8_t* q = in + i / 2 * 4;
      out[3 * i] = q[0];
      out[3 * i + 1] = q[2];
      out[3 * i + 2] = q[3];
      if (i + 1 < pixels) {
        out[3 * i + 3] = q[1];
        out[3 * i + 4] = q[2];
        out[3 * i + 5] = q[3];
      }
    }
    ConvertYbrFullToRgb(out, static_cast<size_t>(pixels));
  }
  ctx.Write(SJ("読み込んだファイルデータ → 画像データ（DICOMヘッダ情報無し）退避領域へコピー"), kLogNormal, 3);
  DefaultWindow(im, false);
  return true;
}

// Smallest and largest stored value of frame 0 as the default window reads them:
// 8-bit values unsigned, or signed from bits stored (at most 8) when
// pixelRepresentation is not 0, as the display reads them; wider ones 16-bit in the
// stored byte order, signed when pixelRepresentation is not 0. The maximum starts at
// 0 and the minimum at 65,535 (for unsigned samples; signed ones start from their
// own extremes, so a negative minimum is kept).
void StoredRange(const DicomImage& im, bool bigEndian, int32_t* lo, int32_t* hi) {
  int32_t mn = 65535, mx = 0;
  const uint8_t* p = im.pixelData.data();
  const size_t bytes = static_cast<size_t>(std::min<uint64_t>(im.FrameBytes(), im.pixelData.size()));
  if (im.SamplesInPixelData() == 1 && im.pixelRepresentation != 0) {
    const int shift = 32 - std::clamp<int>(im.bitsStored, 1, 8);
    int32_t a = 127, b = -128;
    for (size_t i = 0; i < bytes; ++i) {
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[i]) << shift) >> shift;
      a = std::min(a, v);
      b = std::max(b, v);
    }
    if (bytes > 0) mn = std::min(mn, a), mx = std::max(mx, b);
  } else if (im.SamplesInPixelData() == 1) {
    uint8_t a = 255, b = 0;
    for (size_t i = 0; i < bytes; ++i) {
      a = std::min(a, p[i]);
      b = std::max(b, p[i]);
    }
    if (bytes > 0) mn = std::min<int32_t>(mn, a), mx = std::max<int32_t>(mx, b);
  } else {
    const size_t n = bytes / 2;
    const bool isSigned = im.pixelRepresentation != 0;
    int32_t a = isSigned ? 32767 : 65535, b = isSigned ? -32768 : 0;
    for (size_t i = 0; i < n; ++i) {
      uint16_t u;
      std::memcpy(&u, p + 2 * i, 2);
      if (bigEndian) u = static_cast<uint16_t>((u << 8) | (u >> 8));
      const int32_t v = isSigned ? static_cast<int32_t>(static_cast<int16_t>(u)) : static_cast<int32_t>(u);
      a = std::min(a, v);
      b = std::max(b, v);
    }
    if (n > 0) mn = std::min(mn, a), mx = std::max(mx, b);
  }
  *lo = mn;
  *hi = mx;
}

void DefaultWindow(DicomImage& im, bool bigEndian) {
  if (im.fileWindowWidth[0] != 0 || im.fileWindowCenter[0] != 0) return;
  if (im.isColour) {
    im.fileWindowWidth[0] = 256;
    im.fileWindowCenter[0] = 128;
    return;
  }
  int32_t lo = 0, hi = 0;
  StoredRange(im, bigEndian, &lo, &hi);
  const double slope = im.rescaleSlope;
  const int64_t mn = TruncToInt32(lo * slope + im.rescaleIntercept);
  const int64_t mx = TruncToInt32(hi * slope + im.rescaleIntercept);
  const int64_t width = mx - mn + 1;
  const int64_t centre = mn + (width >> 1);  // halving rounds toward minus infinity
  auto sat = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  im.fileWindowWidth[0] = sat(width);
  im.fileWindowCenter[0] = sat(centre);
}

}  // namespace

bool RunPixelStage(LoadContext& ctx, DicomImage& im, int viewPos) {
  if (im.rows <= 0 || im.columns <= 0) {
    FailUnsupported(ctx);
    return false;
  }
  const uint64_t frameBytes = im.FrameBytes();
  const int32_t frames = im.Frames();
  const uint64_t total = MulSat(frameBytes, static_cast<uint64_t>(frames));
  // Compressed syntaxes without a decoder (JPEG extended and progressive, MPEG, ...)
  // cannot be decoded: their frames stay black instead of showing
  // compressed bytes as pixels.
  const PixelPath path = ClassifyTransferSyntax(im.transferSyntaxUid.view()).path;

  // The pixel values begin at headerSize; nothing is read past the bytes really read.
  const uint64_t held = std::min<uint64_t>(ctx.readSize, ctx.fileBuffer.size());
  const uint64_t valueOffset = im.headerSize < 0 ? held : std::min<uint64_t>(static_cast<uint64_t>(im.headerSize), held);
  const uint8_t* buffer = ctx.fileBuffer.data();
  const uint8_t* start = buffer + valueOffset;
  const uint8_t* end = buffer + held;
  const uint64_t available = held - valueOffset;

  if (path == PixelPath::kNative && IsNativeYbr422(im)) return LoadNativeYbr422(ctx, im, start, available, frames);

  if (path == PixelPath::kNative) {
    // Checked before anything is allocated: the copy needs every byte the header promises.
    const uint64_t needed = total > UINT64_MAX - static_cast<uint64_t>(std::max(im.headerSize, 0))
                                ? UINT64_MAX
                                : static_cast<uint64_t>(std::max(im.headerSize, 0)) + total;
    if (im.headerSize < 0 || ctx.readSize < needed || total > available) {
      const std::string message = Format(SJ("ヘッダで指定された画像サイズ(%d)よりファイルサイズ(%d)のほうが小さい"),
                                         static_cast<unsigned long long>(needed),
                                         static_cast<unsigned long long>(ctx.readSize));
      ctx.Fail(message, kLogError, 1);
      ctx.Show(SJ("エラー"), message, NoticeIcon::Error);
      return false;
    }
    std::vector<uint8_t>().swap(im.pixelData);
    try {
      im.pixelData.assign(start, start + total);
    } catch (const std::bad_alloc&) {
      if (!Allocate(ctx, im, total)) return false;  // asks the user; never succeeds twice in a row here
      std::memcpy(im.pixelData.data(), start, static_cast<size_t>(total));
    }
    ctx.Write(SJ("読み込んだファイルデータ → 画像データ（DICOMヘッダ情報無し）退避領域へコピー"), kLogNormal, 3);
    // Uncompressed 8-bit interleaved YBR_FULL is shown in true colours, like RLE.
    if (IsYbrFull(im) && im.SamplesInPixelData() == 3 && im.bitsAllocated == 8 && im.planarConfiguration == 0)
      ConvertYbrFullToRgb(im.pixelData.data(), static_cast<size_t>(total / 3));
    DefaultWindow(im, im.syntaxType == kExplicitBig);
    return true;
  }

  // Compressed data: the decoded size can exceed the file's, but not without bound.
  if (total > kMaxPixelBytes || total > std::max(kAlwaysPlausible, MulSat(available, kMaxExpansion))) {
    FailUnsupported(ctx);
    return false;
  }
  if (!Allocate(ctx, im, total)) return false;
  if (path == PixelPath::kJpeg) {
    DecodeJpegFrames(ctx, im, start, end, frameBytes, frames);
  } else if (path == PixelPath::kRle) {
    DecodeRleFrames(im, start, end, frameBytes, frames);
  } else if (path == PixelPath::kJpegLossless || path == PixelPath::kJpegExtended || path == PixelPath::kJpegLs || path == PixelPath::kJpeg2000 ||
             path == PixelPath::kHtj2k) {
    DecodeCodecFrames(ctx, im, path, start, end, frameBytes, frames);
  }
  // Unsupported compression: the frames stay black (the file loader has warned).
  DefaultWindow(im, false);
  return true;
}

}  // namespace velmo
