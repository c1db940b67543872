// The rewrite library: replaces or inserts one top-level element in the image of a
// whole DICOM file. Everything is checked before the buffer is touched, so every
// refusal returns the caller's bytes exactly as they were.
#include "rewrite/corvel.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "rewrite/file_layout.h"

namespace {

using namespace velmo::layout;

// atoi-like reading of a decimal integer: leading white space, an optional sign, the
// leading digits; 0 when there are none. Read in 64 bits (saturating), so values up
// to 4294967295 reach a UL whole; the caller keeps the low bits it stores.
int64_t ParseInteger(const char* s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    if (v > (std::numeric_limits<int64_t>::max() - 9) / 10) {
      v = std::numeric_limits<int64_t>::max();
      while (*s >= '0' && *s <= '9') ++s;
      break;
    }
    v = v * 10 + (*s - '0');
  }
  return negative ? -v : v;
}

// atof-like reading in the C locale: the leading decimal number; 0 for none, for
// "nan"/"inf" and for values out of double range.
double ParseDecimal(const char* s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  if (!((*s >= '0' && *s <= '9') || *s == '.')) return 0;
  double v = 0;
  const char* end = s + std::strlen(s);
  auto r = std::from_chars(s, end, v, std::chars_format::general);
  if (r.ec != std::errc() || !std::isfinite(v)) return 0;
  return negative ? -v : v;
}

// Binary size of a numeric VR, 0 for every other.
uint32_t NumericSize(const char* vr) {
  if ((vr[0] == 'U' || vr[0] == 'S') && vr[1] == 'S') return 2;
  if ((vr[0] == 'U' || vr[0] == 'S') && vr[1] == 'L') return 4;
  if (vr[0] == 'F' && vr[1] == 'L') return 4;
  if (vr[0] == 'F' && vr[1] == 'D') return 8;
  return 0;
}

// The value bytes as they will stand in the file.
void EncodeNumber(const char* vr, const char* text, bool big, uint8_t* out) {
  if (vr[0] == 'F') {
    const double d = ParseDecimal(text);
    if (vr[1] == 'L') {
      // Out-of-range doubles become infinities as a float; keep them finite instead.
      const double limit = std::numeric_limits<float>::max();
      const float f = static_cast<float>(d > limit ? limit : d < -limit ? -limit : d);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      Put32(out, bits, big);
    } else {
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      if (big) {
        for (int i = 0; i < 8; ++i) out[i] = uint8_t(bits >> (56 - 8 * i));
      } else {
        for (int i = 0; i < 8; ++i) out[i] = uint8_t(bits >> (8 * i));
      }
    }
    return;
  }
  const uint64_t v = static_cast<uint64_t>(ParseInteger(text));
  if (vr[1] == 'S') Put16(out, static_cast<uint16_t>(v), big);
  else Put32(out, static_cast<uint32_t>(v), big);
}

bool IsVrLetter(char c) { return c >= 'A' && c <= 'Z'; }

unsigned char* Rewrite(unsigned char* buffer, uint32_t* lengthInOut, uint16_t group, uint16_t element,
                       const char* vr, uint32_t valueLength, const void* value) {
  const uint32_t n = *lengthInOut;
  if (!vr || !IsVrLetter(vr[0]) || !IsVrLetter(vr[1])) return buffer;
  // Items and delimiters are structure, not elements.
  if (group == 0xFFFE) return buffer;
  const RewriteLayout l = ReadRewriteLayout(buffer, n);
  if (l.encoding < 0 || l.deflated) return buffer;
  // A meta element needs a meta group to go into.
  if (group == 0x0002 && !l.hasMeta) return buffer;
  const Range range = RangeFor(l, group);
  if (range.end <= range.begin) return buffer;
  const bool big = range.encoding == 2;

  const uint32_t numeric = NumericSize(vr);
  if (numeric != 0 && valueLength != numeric) return buffer;
  if ((numeric != 0 || valueLength != 0) && !value) return buffer;

  const unsigned char* at = Dll_DcmTagPosition(buffer + range.begin, static_cast<int32_t>(range.end - range.begin),
                                               range.encoding, 0, group >> 8, group & 0xFF, element >> 8,
                                               element & 0xFF);
  if (!at) return buffer;
  const uint64_t pos = static_cast<uint64_t>(at - buffer);
  const bool replace = n - pos >= 4 && Get16(buffer + pos, big) == group && Get16(buffer + pos + 2, big) == element;

  // Old extent [pos, oldEnd) and the new element's header.
  uint64_t oldEnd = pos;
  uint32_t newHeader = 8;
  bool newLongForm = false;
  uint8_t header[12] = {};
  if (replace) {
    ElementHeader h;
    if (!ReadHeader(buffer, n, pos, range.encoding, &h)) return buffer;
    if (h.vr[0] == 'S' && h.vr[1] == 'Q') return buffer;
    if (h.length == 0xFFFFFFFFu) return buffer;  // its extent is not known without walking it
    oldEnd = pos + h.headerSize + uint64_t{h.length};
    if (oldEnd > n) return buffer;
    newHeader = h.headerSize;
    newLongForm = h.longForm;
    std::memcpy(header, buffer + pos, newHeader);
  } else {
    if (range.encoding != 0) {
      if (vr[0] == 'S' && vr[1] == 'Q') return buffer;
      newLongForm = velmo::IsLongFormVr(static_cast<uint8_t>(vr[0]), static_cast<uint8_t>(vr[1]));
      newHeader = newLongForm ? 12 : 8;
      header[4] = static_cast<uint8_t>(vr[0]);
      header[5] = static_cast<uint8_t>(vr[1]);
    }
    Put16(header, group, big);
    Put16(header + 2, element, big);
  }
  // The new length field.
  if (range.encoding == 0) {
    Put32(header + 4, valueLength, big);
  } else if (newLongForm) {
    if (valueLength == 0xFFFFFFFFu) return buffer;
    header[6] = header[7] = 0;
    Put32(header + 8, valueLength, big);
  } else {
    if (valueLength > 0xFFFF) return buffer;
    Put16(header + 6, static_cast<uint16_t>(valueLength), big);
  }

  const uint64_t newElement = uint64_t{newHeader} + valueLength;
  const uint64_t newLength = uint64_t{n} - (oldEnd - pos) + newElement;
  if (newLength > kMaxImage) return buffer;

  // The group length, when the group has one that lies outside the changed element.
  int64_t groupLengthAt = -1;
  if (element != 0x0000) {
    const int64_t gl = FindTop(buffer, range.begin, range.end, range.encoding, group, 0x0000);
    ElementHeader h;
    if (gl >= 0 && ReadHeader(buffer, n, gl, range.encoding, &h) && h.length == 4 &&
        static_cast<uint64_t>(gl) + h.headerSize + 4 <= n &&
        (static_cast<uint64_t>(gl) + h.headerSize + 4 <= pos || static_cast<uint64_t>(gl) >= oldEnd)) {
      groupLengthAt = gl + h.headerSize;
    }
  }

  // The value bytes, prepared before the buffer moves (the value may not outlive it).
  uint8_t number[8];
  const uint8_t* valueBytes = static_cast<const uint8_t*>(value);
  if (numeric != 0) {
    EncodeNumber(vr, static_cast<const char*>(value), big, number);
    valueBytes = number;
  }
  unsigned char* copy = nullptr;
  if (numeric == 0 && valueLength > 0) {
    copy = static_cast<unsigned char*>(std::malloc(valueLength));
    if (!copy) return buffer;
    std::memcpy(copy, value, valueLength);
    valueBytes = copy;
  }

  const uint64_t tail = n - oldEnd;
  unsigned char* out = buffer;
  if (newLength > n) {
    out = static_cast<unsigned char*>(std::realloc(buffer, newLength));
    if (!out) {
      std::free(copy);
      return buffer;
    }
  }
  std::memmove(out + pos + newElement, out + oldEnd, tail);
  std::memcpy(out + pos, header, newHeader);
  if (valueLength) std::memcpy(out + pos + newHeader, valueBytes, valueLength);
  std::free(copy);
  if (groupLengthAt >= 0) {
    uint64_t where = static_cast<uint64_t>(groupLengthAt);
    if (where >= oldEnd) where = where - (oldEnd - pos) + newElement;
    const uint32_t old = Get32(out + where, big);
    const uint32_t updated = old - static_cast<uint32_t>(oldEnd - pos) + static_cast<uint32_t>(newElement);
    Put32(out + where, updated, big);
  }
  if (newLength < n) {
    // Shrinking cannot fail to keep the data; keep the larger block if it does.
    unsigned char* smaller = static_cast<unsigned char*>(std::realloc(out, newLength ? newLength : 1));
    if (smaller) out = smaller;
  }
  *lengthInOut = static_cast<uint32_t>(newLength);
  return out;
}

}  // namespace

extern "C" unsigned char* Dll_Corvel(unsigned char* buffer, uint32_t* length, int32_t groupHigh, int32_t groupLow,
                                     int32_t elementHigh, int32_t elementLow, const char* vr,
                                     uint32_t valueLength, const void* value) {
  if (!buffer || !length) return buffer;
  const uint16_t group = static_cast<uint16_t>(((groupHigh & 0xFF) << 8) | (groupLow & 0xFF));
  const uint16_t element = static_cast<uint16_t>(((elementHigh & 0xFF) << 8) | (elementLow & 0xFF));
  return Rewrite(buffer, length, group, element, vr, valueLength, value);
}
