#pragma once
// Reading one element found by the scanner: its VR, length and value, bounded by the
// end of the region that was searched. A value that runs past the region is cut.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "scanner/sifton.h"
#include "scanner/vr_form.h"

namespace velmo {

inline uint16_t Get16(const uint8_t* p, bool big) {
  return big ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p, bool big) {
  return big ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
             : uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

struct ElementView {
  const uint8_t* tag = nullptr;    // first byte of the element
  const uint8_t* value = nullptr;  // first value byte (may equal end when cut)
  uint32_t length = 0;             // the length field as stored
  uint32_t available = 0;          // value bytes really inside the region: min(length, end - value)
  char vr[3] = {0, 0, 0};          // explicit encodings only
  bool found() const { return tag != nullptr; }
  std::string_view text() const { return std::string_view(reinterpret_cast<const char*>(value), available); }
};

// Decodes the element header at `tag` (syntax 0, 1, 2). Long-form VRs take the
// reserved bytes and a 4-byte length. Returns an empty view when the header itself
// does not fit before `end`.
inline ElementView ReadElementAt(const uint8_t* tag, const uint8_t* end, int syntax) {
  ElementView v;
  if (tag == nullptr || end - tag < 8) return v;
  const bool big = syntax == 2;
  size_t header;
  if (syntax == 0) {
    v.length = Get32(tag + 4, false);
    header = 8;
  } else if (IsLongFormVr(tag[4], tag[5])) {
    if (end - tag < 12) return v;
    v.length = Get32(tag + 8, big);
    header = 12;
  } else {
    v.length = Get16(tag + 6, big);
    header = 8;
  }
  if (syntax != 0) {
    v.vr[0] = static_cast<char>(tag[4]);
    v.vr[1] = static_cast<char>(tag[5]);
  }
  v.tag = tag;
  v.value = tag + header;
  const uint64_t room = static_cast<uint64_t>(end - v.value);
  v.available = v.length == 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(v.length < room ? v.length : room);
  return v;
}

// Finds (group, element) in [begin, end) with the scanner and decodes it.
inline ElementView FindElement(const uint8_t* begin, const uint8_t* end, int syntax, int mode, uint16_t group,
                               uint16_t element) {
  if (begin == nullptr || end <= begin) return {};
  const uint64_t n = static_cast<uint64_t>(end - begin);
  const uint32_t len = n > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(n);
  const uint8_t* p = Dll_DcmTagFind(begin, len, syntax, mode, group >> 8, group & 0xFF, element >> 8, element & 0xFF);
  return ReadElementAt(p, end, syntax);
}

}  // namespace velmo
