// Writes a small starting corpus for the fuzz targets: scanner inputs (six argument
// bytes followed by a stream) under OUT/scanner and whole files under OUT/file.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/dicom_writer.h"

using velmo::test::Bytes;
using velmo::test::DicomWriter;

namespace {

void Save(const std::string& path, const Bytes& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

Bytes Dataset(int syntax, bool undefined, bool encapsulated) {
  DicomWriter w(syntax);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2");
  w.Text(0x0008, 0x0018, "UI", "1.2.392.200036.9116.2.6.1.48.1");
  w.BeginSequence(0x0008, 0x1140, undefined).BeginItem(!undefined);
  w.Text(0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.2");
  w.EndItem().EndSequence();
  w.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
  w.Element(0x0018, 0x9999, "UC", std::string(6, 'c'));
  w.U16(0x0028, 0x0010, 4);
  w.U16(0x0028, 0x0011, 4);
  w.U16(0x0028, 0x0100, 16);
  if (encapsulated && syntax != 0) {
    w.Encapsulated({Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0}, Bytes{0xFF, 0xD9}});
  } else {
    w.PixelData(Bytes(32, 0x11), "OW");
  }
  return w.bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  std::filesystem::create_directories(out + "/scanner");
  std::filesystem::create_directories(out + "/file");
  const char* uids[] = {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2"};
  int n = 0;
  for (int syntax : {0, 1, 2}) {
    for (bool undefined : {false, true}) {
      const Bytes ds = Dataset(syntax, undefined, undefined);
      // Scanner inputs: encoding, mode, then a tag to look for.
      const uint8_t targets[][4] = {{0x7F, 0xE0, 0x00, 0x10}, {0x00, 0x08, 0x11, 0x50}, {0x00, 0x10, 0x00, 0x10}};
      for (int mode : {0, 1}) {
        for (const auto& t : targets) {
          Bytes in{static_cast<uint8_t>(syntax), static_cast<uint8_t>(mode), t[0], t[1], t[2], t[3]};
          in.insert(in.end(), ds.begin(), ds.end());
          Save(out + "/scanner/seed" + std::to_string(n++), in);
        }
      }
      Save(out + "/file/plain" + std::to_string(syntax) + (undefined ? "u" : "d") + ".dcm", ds);
      Save(out + "/file/meta" + std::to_string(syntax) + (undefined ? "u" : "d") + ".dcm",
           velmo::test::MakeFile(uids[syntax], ds));
    }
  }
  // A meta group on its own for the group-size search (argument byte, then the stream).
  Bytes meta{1};
  const Bytes m = velmo::test::MakeMetaGroup("1.2.840.10008.1.2.4.70", "1.2.840.10008.1.3.10");
  meta.insert(meta.end(), m.begin(), m.end());
  Save(out + "/scanner/meta", meta);
  Save(out + "/file/dicomdir.dcm", velmo::test::MakeFile("1.2.840.10008.1.2.1", Dataset(1, true, false), true,
                                                         "1.2.840.10008.1.3.10"));
  Save(out + "/file/jpeg.dcm", velmo::test::MakeFile("1.2.840.10008.1.2.4.70", Dataset(1, true, true)));
  return 0;
}
