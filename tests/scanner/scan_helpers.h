#pragma once
// Helpers for the scanner suites: buffers that sit right against an inaccessible
// page (so any read outside [data, data + size) faults, with or without a sanitizer),
// hand-made element bytes that do not depend on the shared VR definition, and
// offset-returning wrappers around the three scanner functions.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "scanner/sifton.h"
#include "support/dicom_writer.h"

namespace velmo::test {

enum class Guard { kAfter, kBefore };

// A copy of some bytes placed so that the byte just past the end (kAfter) or just
// before the start (kBefore) lies on a PROT_NONE page.
class GuardedBytes {
 public:
  explicit GuardedBytes(const uint8_t* bytes, size_t size, Guard guard = Guard::kAfter) : size_(size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (size + page - 1) / page;
    total_ = (dataPages + 2) * page;
    void* m = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<uint8_t*>(m);
    mprotect(base_, page, PROT_NONE);
    mprotect(base_ + total_ - page, page, PROT_NONE);
    data_ = guard == Guard::kAfter ? base_ + total_ - page - size : base_ + page;
    if (size) std::memcpy(data_, bytes, size);
  }
  explicit GuardedBytes(const Bytes& b, Guard guard = Guard::kAfter) : GuardedBytes(b.data(), b.size(), guard) {}
  ~GuardedBytes() { munmap(base_, total_); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t total_ = 0;
  size_t size_ = 0;
};

inline Bytes Prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }

// Offset of the result from the buffer start, or -1 for null.
inline long FindAt(const Bytes& b, int syntax, int mode, uint16_t group, uint16_t element) {
  GuardedBytes g(b);
  const unsigned char* p = Dll_DcmTagFind(g.data(), static_cast<uint32_t>(g.size()), syntax, mode, group >> 8,
                                          group & 0xFF, element >> 8, element & 0xFF);
  return p ? static_cast<long>(p - g.data()) : -1;
}
inline long PositionAt(const Bytes& b, int syntax, int mode, uint16_t group, uint16_t element) {
  GuardedBytes g(b);
  const unsigned char* p = Dll_DcmTagPosition(g.data(), static_cast<int32_t>(g.size()), syntax, mode, group >> 8,
                                              group & 0xFF, element >> 8, element & 0xFF);
  return p ? static_cast<long>(p - g.data()) : -1;
}
inline int32_t MetaSize(const Bytes& b, int32_t unused = 1) {
  GuardedBytes g(b);
  return Dll_SendPtrFind(g.data(), static_cast<int32_t>(g.size()), unused);
}

// One element written byte by byte: the caller says whether the VR takes the long
// form, so these bytes do not rely on the definition under test.
inline void PutRaw16(Bytes& out, uint16_t v, bool big) {
  if (big) { out.push_back(v >> 8); out.push_back(v & 0xFF); }
  else { out.push_back(v & 0xFF); out.push_back(v >> 8); }
}
inline void PutRaw32(Bytes& out, uint32_t v, bool big) {
  if (big) { PutRaw16(out, v >> 16, true); PutRaw16(out, v & 0xFFFF, true); }
  else { PutRaw16(out, v & 0xFFFF, false); PutRaw16(out, v >> 16, false); }
}
inline void RawElement(Bytes& out, bool big, uint16_t group, uint16_t element, const char* vr, bool longForm,
                       uint32_t lengthField, std::string_view value) {
  PutRaw16(out, group, big);
  PutRaw16(out, element, big);
  out.push_back(static_cast<uint8_t>(vr[0]));
  out.push_back(static_cast<uint8_t>(vr[1]));
  if (longForm) {
    out.push_back(0);
    out.push_back(0);
    PutRaw32(out, lengthField, big);
  } else {
    PutRaw16(out, static_cast<uint16_t>(lengthField), big);
  }
  out.insert(out.end(), value.begin(), value.end());
}

inline const char* const kLongFormVrs[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                           "SV", "UC", "UN", "UR", "UT", "UV"};
// Standard short-form VRs, plus spellings that only look like long-form ones.
inline const char* const kShortFormVrs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS",
                                            "LO", "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL",
                                            "US", "XX", "ob", "Ob", "OA", "UA", "SA", "QS", "  ", "\x01\x02"};

}  // namespace velmo::test
