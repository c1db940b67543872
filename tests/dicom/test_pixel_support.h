#pragma once
// In-memory image files for the pixel tests, and a load context that reads them.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dicom/load_context.h"
#include "dicom/view_load.h"
#include "base/text.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::test {

inline constexpr const char* kExplicitLe = "1.2.840.10008.1.2.1";
inline constexpr const char* kExplicitBe = "1.2.840.10008.1.2.2";
inline constexpr const char* kJpegBaseline = "1.2.840.10008.1.2.4.50";
inline constexpr const char* kRleLossless = "1.2.840.10008.1.2.5";

struct Image {
  uint16_t rows = 4, columns = 4;
  uint16_t bitsAllocated = 8, bitsStored = 0;  // 0: same as allocated
  uint16_t pixelRepresentation = 0;
  uint16_t samples = 1;
  uint16_t planar = 0;
  std::string photometric = "MONOCHROME2";
  std::string frames;  // (0028,0008) text, "" for none
  std::string windowCenter, windowWidth, intercept, slope;
};

// The data set of `im` up to, not including, the pixel data element.
inline DicomWriter ImageHeader(const Image& im, int syntax) {
  DicomWriter w(syntax);
  w.Text(0x0008, 0x0018, "UI", "1.2.392.200036.9999.1");
  w.Text(0x0008, 0x0060, "CS", "OT");
  w.Text(0x0020, 0x000E, "UI", "1.2.392.200036.9999.2");
  w.U16(0x0028, 0x0002, im.samples);
  w.Text(0x0028, 0x0004, "CS", im.photometric);
  if (im.samples > 1) w.U16(0x0028, 0x0006, im.planar);
  if (!im.frames.empty()) w.Text(0x0028, 0x0008, "IS", im.frames);
  w.U16(0x0028, 0x0010, im.rows);
  w.U16(0x0028, 0x0011, im.columns);
  w.U16(0x0028, 0x0100, im.bitsAllocated);
  w.U16(0x0028, 0x0101, im.bitsStored ? im.bitsStored : im.bitsAllocated);
  w.U16(0x0028, 0x0102, static_cast<uint16_t>((im.bitsStored ? im.bitsStored : im.bitsAllocated) - 1));
  w.U16(0x0028, 0x0103, im.pixelRepresentation);
  if (!im.windowCenter.empty()) w.Text(0x0028, 0x1050, "DS", im.windowCenter);
  if (!im.windowWidth.empty()) w.Text(0x0028, 0x1051, "DS", im.windowWidth);
  if (!im.intercept.empty()) w.Text(0x0028, 0x1052, "DS", im.intercept);
  if (!im.slope.empty()) w.Text(0x0028, 0x1053, "DS", im.slope);
  return w;
}

// A complete file with native pixel data (OW for more than 8 bits, else OB).
inline Bytes NativeFile(const Image& im, const Bytes& pixels, const char* ts = kExplicitLe) {
  const int syntax = std::string(ts) == kExplicitBe ? 2 : 1;
  DicomWriter w = ImageHeader(im, syntax);
  w.PixelData(pixels, im.bitsAllocated > 8 ? "OW" : "OB");
  return MakeFile(ts, w.bytes());
}

// A complete file with encapsulated fragments.
inline Bytes EncapsulatedFile(const Image& im, const std::vector<Bytes>& fragments, const char* ts,
                              bool withOffsetTable = true, const std::vector<uint32_t>& offsets = {}) {
  DicomWriter w = ImageHeader(im, 1);
  w.Encapsulated(fragments, withOffsetTable, offsets);
  return MakeFile(ts, w.bytes());
}

// Loads files from memory at view position 1, as a pane would.
class MemoryLoad {
 public:
  MemoryLoad() {
    ctx.files = &files;
    ctx.notifier = &notes;
    ctx.paneReset = [this](int viewPos) { resets.push_back(viewPos); };
  }
  bool Load(const Bytes& file, const std::string& name = "/mem/image.dcm") {
    files.Add(name, file);
    PrepareSingleFile(ctx, name);
    return LoadImageAtViewPosition(ctx, 1);
  }
  DicomImage& im() { return ctx.records[0]; }
  const uint8_t* frame(int f) { return im().pixelData.data() + static_cast<size_t>(f) * im().FrameBytes(); }
  Bytes FrameBytes(int f) { return Bytes(frame(f), frame(f) + im().FrameBytes()); }
  bool Shown(const std::string& captionUtf8) const {
    for (const auto& e : notes.entries)
      if (Utf8FromSjis(e.caption) == captionUtf8) return true;
    return false;
  }
  std::string Failure() const { return Utf8FromSjis(ctx.failureMessage); }

  MemoryFileSource files;
  RecordingNotifier notes;
  LoadContext ctx;
  std::vector<int> resets;
};

// A PackBits encoding of `data` (literal runs of up to 128 bytes, repeats of 3..128).
inline Bytes PackBits(const Bytes& data) {
  Bytes out;
  size_t i = 0;
  while (i < data.size()) {
    size_t run = 1;
    while (i + run < data.size() && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    size_t lit = 0;
    while (i + lit < data.size() && lit < 128) {
      if (i + lit + 2 < data.size() && data[i + lit] == data[i + lit + 1] && data[i + lit] == data[i + lit + 2]) break;
      ++lit;
    }
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + lit));
    i += lit;
  }
  return out;
}

// An RLE fragment: header (segment count, offsets) and PackBits segments.
inline Bytes RleFragment(const std::vector<Bytes>& segments) {
  Bytes out(64, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, static_cast<uint32_t>(segments.size()));
  for (size_t k = 0; k < segments.size(); ++k) {
    put32(4 + 4 * k, static_cast<uint32_t>(out.size()));
    const Bytes packed = PackBits(segments[k]);
    out.insert(out.end(), packed.begin(), packed.end());
  }
  if (out.size() % 2) out.push_back(0);
  return out;
}

// Splits interleaved samples into the RLE segments a lossless encoder writes: for each
// sample, the high bytes first when `bytesPerSample` is 2.
inline std::vector<Bytes> RleSegments(const Bytes& interleaved, int samples, int bytesPerSample) {
  const size_t stride = static_cast<size_t>(samples) * bytesPerSample;
  std::vector<Bytes> segments;
  for (int s = 0; s < samples; ++s)
    for (int b = bytesPerSample - 1; b >= 0; --b) {
      Bytes seg;
      for (size_t i = static_cast<size_t>(s * bytesPerSample + b); i < interleaved.size(); i += stride)
        seg.push_back(interleaved[i]);
      segments.push_back(std::move(seg));
    }
  return segments;
}

inline Bytes Le16(const std::vector<int>& values) {
  Bytes out;
  for (int v : values) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
  return out;
}

}  // namespace velmo::test
