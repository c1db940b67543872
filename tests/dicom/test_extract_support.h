#pragma once
// Loading in-memory DICOM files through the file loader and attribute extraction.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dicom/load_context.h"
#include "dicom/read_dicom.h"
#include "dicom/view_load.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::test {

inline const char* TransferSyntaxOf(int syntax) {
  return syntax == 0 ? "1.2.840.10008.1.2" : syntax == 1 ? "1.2.840.10008.1.2.1" : "1.2.840.10008.1.2.2";
}

// 16-bit words as bytes in the byte order of `syntax`.
inline Bytes Words(const std::vector<uint16_t>& words, int syntax) {
  Bytes out;
  for (uint16_t w : words) {
    if (syntax == 2) {
      out.push_back(static_cast<uint8_t>(w >> 8));
      out.push_back(static_cast<uint8_t>(w));
    } else {
      out.push_back(static_cast<uint8_t>(w));
      out.push_back(static_cast<uint8_t>(w >> 8));
    }
  }
  return out;
}

struct ImageShape {
  std::string photometric = "MONOCHROME2";
  uint16_t rows = 2, columns = 3, bits = 8;
  int samples = 1;
};

// A small but complete image data set: SOP instance UID, the elements `body` writes,
// then photometric, size, bits and native pixel data of the right length.
inline Bytes ImageDataset(int syntax, const std::function<void(DicomWriter&)>& body, const ImageShape& shape = {}) {
  DicomWriter w(syntax);
  w.Text(0x0008, 0x0018, "UI", "1.2.392.1.2.3");
  if (body) body(w);
  if (!shape.photometric.empty()) w.Text(0x0028, 0x0004, "CS", shape.photometric);
  w.U16(0x0028, 0x0002, static_cast<uint16_t>(shape.samples));
  w.U16(0x0028, 0x0010, shape.rows);
  w.U16(0x0028, 0x0011, shape.columns);
  w.U16(0x0028, 0x0100, shape.bits);
  w.U16(0x0028, 0x0101, shape.bits);
  const size_t bytes = size_t{shape.rows} * shape.columns * static_cast<size_t>(shape.samples) * (shape.bits > 8 ? 2 : 1);
  Bytes pixels(bytes + (bytes % 2), 0x11);
  w.PixelData(pixels, shape.bits > 8 ? "OW" : "OB");
  return w.bytes();
}

// A load context reading from memory, with a recording notifier.
class ExtractFixture : public ::testing::Test {
 protected:
  ExtractFixture() {
    ctx.files = &files;
    ctx.notifier = &notifier;
  }
  // Reads the file whole and extracts its attributes at view position 1.
  bool Load(const Bytes& file, const std::string& path = "/mem/image.dcm") {
    files.Add(path, file);
    PrepareSingleFile(ctx, path);
    if (!ReadDicomFile(ctx, path, 1, true)) return false;
    return ExtractImageAttributes(ctx, 1);
  }
  bool LoadDataset(int syntax, const std::function<void(DicomWriter&)>& body, const ImageShape& shape = {}) {
    return Load(MakeFile(TransferSyntaxOf(syntax), ImageDataset(syntax, body, shape)));
  }
  const DicomImage& im() const { return ctx.records[0]; }

  MemoryFileSource files;
  RecordingNotifier notifier;
  LoadContext ctx;
};

}  // namespace velmo::test
