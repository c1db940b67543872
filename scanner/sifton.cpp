// The element scanner. Every read is preceded by a check that the bytes lie inside
// the buffer; positions are kept in 64 bits so no length from the stream can wrap.
#include "scanner/sifton.h"

#include <cstdint>

#include "scanner/vr_form.h"

namespace {

constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;

enum Delimiter { kNone, kItem, kItemEnd, kSequenceEnd };

struct Layout {
  bool big;       // byte order of tags and lengths
  bool explicitVr;
  bool shortLengthPossible;  // 2-byte length for short-form VRs (syntax 1 and 2)
};

Layout LayoutOf(int32_t syntax) {
  // Callers pass 0, 1 or 2. Anything else reads its VR like 1 and its length like 0.
  return Layout{syntax == 2, syntax != 0, syntax == 1 || syntax == 2};
}

inline uint16_t Read16(const unsigned char* p, bool big) {
  return big ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Read32(const unsigned char* p, bool big) {
  return big ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
             : uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Recognises the three group FFFE tags by their raw bytes in the given byte order.
inline Delimiter DelimiterAt(const unsigned char* p, bool big) {
  if (big) {
    if (p[0] != 0xFF || p[1] != 0xFE || p[2] != 0xE0) return kNone;
    return p[3] == 0x00 ? kItem : p[3] == 0x0D ? kItemEnd : p[3] == 0xDD ? kSequenceEnd : kNone;
  }
  if (p[0] != 0xFE || p[1] != 0xFF || p[3] != 0xE0) return kNone;
  return p[2] == 0x00 ? kItem : p[2] == 0x0D ? kItemEnd : p[2] == 0xDD ? kSequenceEnd : kNone;
}
inline bool IsItemTag(const unsigned char* p, bool big) { return DelimiterAt(p, big) == kItem; }

// The VR and length fields of one element after its tag. Shared by the two
// searching functions; `pos` points just past the tag on entry and at the value
// start on success. Returns false when a field would not lie inside the buffer.
struct ElementFields {
  bool isSequence = false;
  uint32_t length = 0;
};
inline bool ReadVrAndLength(const unsigned char* buffer, int64_t length, const Layout& layout, bool delimiter,
                            int64_t& pos, ElementFields& out) {
  if (length - pos < 2) return false;
  bool shortLength = false;
  if (layout.explicitVr && !delimiter) {
    const unsigned char* vr = buffer + pos;
    out.isSequence = vr[0] == 'S' && vr[1] == 'Q';
    if (velmo::IsLongFormVr(vr[0], vr[1])) {
      pos += 4;
    } else {
      pos += 2;
      shortLength = layout.shortLengthPossible;
    }
  }
  if (length - pos < 4) return false;
  if (shortLength) {
    out.length = Read16(buffer + pos, layout.big);
    pos += 2;
  } else {
    out.length = Read32(buffer + pos, layout.big);
    pos += 4;
  }
  return true;
}

}  // namespace

extern "C" const unsigned char* Dll_DcmTagFind(const unsigned char* buffer, uint32_t length, int32_t syntax,
                                               int32_t mode, int32_t groupHigh, int32_t groupLow,
                                               int32_t elementHigh, int32_t elementLow) {
  if (length == 0 || buffer == nullptr) return nullptr;
  const Layout layout = LayoutOf(syntax);
  unsigned char target[4];
  if (layout.big) {
    target[0] = static_cast<unsigned char>(groupHigh);
    target[1] = static_cast<unsigned char>(groupLow);
    target[2] = static_cast<unsigned char>(elementHigh);
    target[3] = static_cast<unsigned char>(elementLow);
  } else {
    target[0] = static_cast<unsigned char>(groupLow);
    target[1] = static_cast<unsigned char>(groupHigh);
    target[2] = static_cast<unsigned char>(elementLow);
    target[3] = static_cast<unsigned char>(elementHigh);
  }
  const int64_t end = length;
  int64_t pos = 0;
  int64_t sequenceEnd = end;
  bool inItem = false;
  bool inSequence = false;
  for (;;) {
    if (end - pos < 4) return nullptr;
    if (sequenceEnd < pos) inItem = false;
    const unsigned char* p = buffer + pos;
    if ((mode == 1 || (mode == 0 && !inItem && !inSequence)) && p[0] == target[0] && p[1] == target[1] &&
        p[2] == target[2] && p[3] == target[3]) {
      return p;
    }
    bool delimiter = true;
    switch (DelimiterAt(p, layout.big)) {
      case kItem: inItem = true; break;
      case kItemEnd: inItem = false; break;
      case kSequenceEnd: inSequence = false; break;
      case kNone: delimiter = false; break;
    }
    pos += 4;
    ElementFields f;
    if (!ReadVrAndLength(buffer, end, layout, delimiter, pos, f)) return nullptr;
    if (end - pos < 4) return nullptr;
    uint32_t valueLength = f.length;
    if (valueLength == kUndefinedLength) {
      if (f.isSequence) inSequence = true;
      valueLength = 0;
    }
    if (IsItemTag(buffer + pos, layout.big)) {
      delimiter = true;
      sequenceEnd = pos + valueLength;
    }
    if (mode == 1 && delimiter) valueLength = 0;
    pos += valueLength;
    if (pos >= end) return nullptr;
  }
}

extern "C" int32_t Dll_SendPtrFind(const unsigned char* buffer, int32_t length, int32_t /*unused*/) {
  if (length <= 0 || buffer == nullptr) return 0;
  const int64_t end = length;
  int64_t pos = 0;
  while (pos < end) {
    if (end - pos < 2) return 0;
    const unsigned char* p = buffer + pos;
    if (p[0] != 0x02 || p[1] != 0x00) return static_cast<int32_t>(pos);
    if (end - pos < 8) return 0;
    int64_t header;
    uint32_t valueLength;
    if (velmo::IsLongFormVr(p[4], p[5])) {
      if (end - pos < 12) return 0;
      header = 12;
      valueLength = Read32(p + 8, false);
    } else {
      header = 8;
      valueLength = Read16(p + 6, false);
    }
    if (valueLength == kUndefinedLength) {
      valueLength = 0;
    } else if (valueLength & 0x80000000u) {
      return 0;
    }
    pos += header + valueLength;
  }
  return 0;
}

extern "C" const unsigned char* Dll_DcmTagPosition(const unsigned char* buffer, int32_t length, int32_t syntax,
                                                   int32_t mode, int32_t groupHigh, int32_t groupLow,
                                                   int32_t elementHigh, int32_t elementLow) {
  if (length <= 0 || buffer == nullptr) return nullptr;
  const Layout layout = LayoutOf(syntax);
  const uint16_t targetGroup = static_cast<uint16_t>(((groupHigh & 0xFF) << 8) | (groupLow & 0xFF));
  const uint16_t targetElement = static_cast<uint16_t>(((elementHigh & 0xFF) << 8) | (elementLow & 0xFF));
  const int64_t end = length;
  int64_t pos = 0;
  int64_t sequenceEnd = end;
  bool inItem = false;
  bool inSequence = false;
  while (pos < end) {
    if (sequenceEnd < pos) inItem = false;
    if (end - pos < 4) return nullptr;
    const unsigned char* p = buffer + pos;
    if (!inItem && !inSequence) {
      const uint16_t group = Read16(p, layout.big);
      const uint16_t element = Read16(p + 2, layout.big);
      if ((group == targetGroup && element >= targetElement) || (group != 0xFFFE && group > targetGroup)) {
        return p;
      }
    }
    bool delimiter = true;
    switch (DelimiterAt(p, layout.big)) {
      case kItem: inItem = true; inSequence = true; break;
      case kItemEnd: inItem = false; break;
      case kSequenceEnd: inSequence = false; break;
      case kNone: delimiter = false; break;
    }
    pos += 4;
    ElementFields f;
    if (!ReadVrAndLength(buffer, end, layout, delimiter, pos, f)) return nullptr;
    if (f.isSequence && f.length == kUndefinedLength) inSequence = true;
    if (end - pos < 4) return nullptr;
    if (IsItemTag(buffer + pos, layout.big)) {
      delimiter = true;
      // The length as read: an undefined length gives the value start minus one.
      sequenceEnd = f.length == kUndefinedLength ? pos - 1 : pos + f.length;
    }
    uint32_t valueLength = f.length == kUndefinedLength ? 0 : f.length;
    if (mode == 1 && delimiter) valueLength = 0;
    pos += valueLength;
  }
  return nullptr;
}
