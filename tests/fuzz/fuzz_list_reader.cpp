// The list entry reader on an in-memory file. An accepted file must describe bytes
// that are really there; and the same reader must then read a known file exactly,
// so nothing of the fuzzed file survives in its reused buffer.
#include <string>
#include <vector>

#include "browser/list_reader.h"
#include "dicom/file_source.h"
#include "base/log.h"

namespace {

// A small explicit little endian file with meta group, patient ID "KNOWN" and pixel data.
std::vector<uint8_t> KnownFile() {
  std::vector<uint8_t> f(128, 0);
  auto put = [&](std::initializer_list<uint8_t> b) { f.insert(f.end(), b); };
  auto text = [&](const std::string& s) { f.insert(f.end(), s.begin(), s.end()); };
  text("DICM");
  put({0x02, 0x00, 0x10, 0x00, 'U', 'I', 20, 0});
  text(std::string("1.2.840.10008.1.2.1") + '\0');
  put({0x10, 0x00, 0x20, 0x00, 'L', 'O', 6, 0});
  text("KNOWN ");
  put({0xE0, 0x7F, 0x10, 0x00, 'O', 'W', 0, 0, 4, 0, 0, 0, 1, 2, 3, 4});
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One reader for the whole run, as one loading job reads many files with one
  // scratch buffer: whatever an input leaves behind meets the next input.
  static velmo::MemoryFileSource& files = *[] {
    auto* f = new velmo::MemoryFileSource;
    f->Add("/fuzz/known", KnownFile());
    return f;
  }();
  static velmo::ListEntryReader& reader = *new velmo::ListEntryReader(velmo::Log::Null(), &files);
  files.Add("/fuzz/image", std::vector<uint8_t>(data, data + size));
  velmo::ListRecord record;
  record.filePath = "/fuzz/image";
  if (reader.Read("/fuzz/image", record)) {
    if (reader.readSize() > size || reader.readSize() == 0) __builtin_trap();
    if (reader.headerSize() <= 0 || static_cast<uint64_t>(reader.headerSize()) > reader.readSize()) __builtin_trap();
    if (reader.syntaxType() < 0 || reader.syntaxType() > 2) __builtin_trap();
  } else if (reader.failureMessage().empty()) {
    __builtin_trap();
  }
  if (record.filePath != "/fuzz/image") __builtin_trap();
  record.filePath = "/fuzz/known";
  if (!reader.Read("/fuzz/known", record)) __builtin_trap();
  if (record.patientId.view() != "KNOWN " || !record.sopInstanceUid.empty()) __builtin_trap();
  return 0;
}
