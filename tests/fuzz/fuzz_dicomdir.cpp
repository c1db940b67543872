// The DICOMDIR reader on an in-memory file: through ReadDicomDir (which needs the
// DICOMDIR media class), and the record walk directly in all three encodings. The
// walk must end on every input, stay within its capacity and yield only paths inside
// the DICOMDIR's folder.
#include <cstring>
#include <string>
#include <vector>

#include "dicom/dicomdir.h"
#include "dicom/file_source.h"

namespace {

class CheckingSink final : public velmo::DicomDirSink {
 public:
  int32_t Capacity() const override { return 40; }
  int32_t Count() const override { return count_; }
  void Append(const velmo::DicomDirImage& image) override {
    if (count_ >= Capacity()) __builtin_trap();
    ++count_;
    const std::string& p = image.filePath;
    if (p.compare(0, 6, "/fuzz/") != 0 || p.size() <= 6) __builtin_trap();
    const std::string rest = "/" + p.substr(6) + "/";
    if (rest.find("/../") != std::string::npos || rest.find("//") != std::string::npos) __builtin_trap();
    if (p.find('\0') != std::string::npos || p.find('\\') != std::string::npos) __builtin_trap();
  }

 private:
  int32_t count_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmo::MemoryFileSource files;
  files.Add("/fuzz/DICOMDIR", std::vector<uint8_t>(data, data + size));
  velmo::SilentNotifier notifier;
  velmo::DicomDirOptions options;
  options.files = &files;
  options.notifier = &notifier;
  options.matchCase = false;
  {
    CheckingSink sink;
    velmo::ReadDicomDir("/fuzz/DICOMDIR", sink, options);
  }
  // The walk itself, whatever the meta group says; a buffer of exactly the input's size.
  const int32_t preamble = size >= 132 && std::memcmp(data + 128, "DICM", 4) == 0 ? 132 : 0;
  std::vector<uint8_t> body(data + preamble, data + size);
  for (int syntax = 0; syntax < 3; ++syntax) {
    CheckingSink sink;
    velmo::ParseDicomDirRecords(body.data(), body.size(), preamble, syntax, "/fuzz/DICOMDIR", sink, options);
  }
  return 0;
}
