#pragma once
// The layout of a whole DICOM file image as the rewrite library and the tag writers
// read it: where the file meta group and the data set start, which encoding the data
// set uses, where the pixel data value begins, and the header of one element.
// Header-only, so the library and the core share one definition.
#include <cstdint>
#include <cstring>

#include "scanner/sifton.h"
#include "scanner/vr_form.h"

namespace velmo::layout {

inline uint16_t Get16(const uint8_t* p, bool big) {
  return big ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p, bool big) {
  return big ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
             : uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline void Put16(uint8_t* p, uint16_t v, bool big) {
  if (big) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
  else { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
}
inline void Put32(uint8_t* p, uint32_t v, bool big) {
  if (big) { p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v); }
  else { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24); }
}

// The scanner takes signed 32-bit lengths; larger images are not handled.
inline constexpr uint32_t kMaxImage = 0x7FFFFFFFu;

inline constexpr char kDeflatedSyntax[] = "1.2.840.10008.1.2.1.99";

// Offset of the top-level element (group, element) inside [begin, end) read with
// `encoding`, or -1.
inline int64_t FindTop(const uint8_t* b, uint32_t begin, uint32_t end, int encoding, uint16_t group,
                       uint16_t element) {
  if (end <= begin) return -1;
  const unsigned char* p = Dll_DcmTagFind(b + begin, end - begin, encoding, 0, group >> 8, group & 0xFF,
                                          element >> 8, element & 0xFF);
  return p ? p - b : -1;
}

// The header of the element at `pos`: size of tag, VR and length fields, and the
// value length as stored. Items and delimiters carry no VR in any encoding.
struct ElementHeader {
  uint32_t headerSize = 0;
  uint32_t length = 0;
  char vr[2] = {0, 0};  // as in the stream; zero in the implicit encoding
  bool longForm = false;
};
inline bool ReadHeader(const uint8_t* b, uint64_t n, uint64_t pos, int encoding, ElementHeader* out) {
  if (pos > n || n - pos < 8) return false;
  const bool big = encoding == 2;
  const uint16_t group = Get16(b + pos, big);
  *out = ElementHeader{};
  if (encoding == 0 || group == 0xFFFE) {
    out->headerSize = 8;
    out->length = Get32(b + pos + 4, big);
    return true;
  }
  out->vr[0] = static_cast<char>(b[pos + 4]);
  out->vr[1] = static_cast<char>(b[pos + 5]);
  if (IsLongFormVr(b[pos + 4], b[pos + 5])) {
    if (n - pos < 12) return false;
    out->headerSize = 12;
    out->longForm = true;
    out->length = Get32(b + pos + 8, big);
  } else {
    out->headerSize = 8;
    out->length = Get16(b + pos + 6, big);
  }
  return true;
}

// The file as the rewrite library sees it.
struct RewriteLayout {
  uint32_t metaStart = 0;     // 132 after a preamble and "DICM", else 0
  uint32_t datasetStart = 0;  // first element outside group 0002 (metaStart without a meta group)
  bool hasMeta = false;       // the image begins (after the preamble) with group 0002
  int encoding = -1;          // 0, 1 or 2; -1 when it cannot be told
  bool deflated = false;
  char transferSyntax[65] = {};  // (0002,0010) up to 64 bytes, zero-filled; "" when absent
  bool hasTransferSyntax = false;
  uint32_t pixelValueStart = 0;  // value start of the top-level (7FE0,0010), else the file length
};

inline uint32_t MetaStartOf(const uint8_t* b, uint32_t n) {
  return n >= 132 && std::memcmp(b + 128, "DICM", 4) == 0 ? 132 : 0;
}

// Copies (0002,0010) from the meta group [metaStart, datasetStart) into out (64 bytes
// at most, zero-filled). Returns false when the element is not there.
inline bool ReadTransferSyntax(const uint8_t* b, uint32_t n, uint32_t metaStart, uint32_t datasetStart,
                               char out[65], uint32_t* valueLength = nullptr) {
  std::memset(out, 0, 65);
  const int64_t at = FindTop(b, metaStart, datasetStart, 1, 0x0002, 0x0010);
  if (at < 0 || n - at < 8) return false;
  uint32_t len = Get16(b + at + 6, false);
  if (valueLength) *valueLength = len;
  uint64_t avail = n - (at + 8);
  uint32_t copy = len > 64 ? 64 : len;
  if (copy > avail) copy = static_cast<uint32_t>(avail);
  std::memcpy(out, b + at + 8, copy);
  return true;
}

inline bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Meta start, data-set start, encoding and pixel-data offset of a file image.
// The encoding follows the transfer syntax (every standard syntax other than
// implicit VR little endian and explicit VR big endian reads as explicit little
// endian); without a recognisable one, (0008,0018) decides: found as little endian
// (implicit, then explicit), the two bytes after its tag tell explicit ("UI") from
// implicit; found only as big endian, explicit big endian; not found, unknown.
inline RewriteLayout ReadRewriteLayout(const uint8_t* b, uint32_t n) {
  RewriteLayout l;
  if (!b || n > kMaxImage) return l;
  l.metaStart = MetaStartOf(b, n);
  const int32_t meta = Dll_SendPtrFind(b + l.metaStart, static_cast<int32_t>(n - l.metaStart), 1);
  l.hasMeta = meta > 0;
  l.datasetStart = l.metaStart + static_cast<uint32_t>(meta > 0 ? meta : 0);
  uint32_t tsLength = 0;
  l.hasTransferSyntax = ReadTransferSyntax(b, n, l.metaStart, l.datasetStart, l.transferSyntax, &tsLength);
  const char* ts = l.transferSyntax;
  int r = -1;
  if (l.hasTransferSyntax) {
    if (std::strcmp(ts, kDeflatedSyntax) == 0) l.deflated = true;
    if (tsLength > 18 && ts[18] == '5') r = 1;
    if (tsLength > 20 && ts[20] != '5') r = 1;
    if (tsLength > 21 && ts[21] != '0') r = 1;
    if (std::strcmp(ts, "1.2.840.10008.1.2") == 0) r = 0;
    if (StartsWith(ts, "1.2.840.10008.1.2.1")) r = 1;
    if (StartsWith(ts, "1.2.840.10008.1.2.2")) r = 2;
    if (StartsWith(ts, "1.2.840.10008.1.2.4.50")) r = 1;
  }
  if (r < 0) {
    // Read as implicit, an explicit data set loses its way at the first element
    // whose VR and short length look like a long length; so look as explicit too.
    int64_t sop = FindTop(b, l.datasetStart, n, 0, 0x0008, 0x0018);
    if (sop < 0) sop = FindTop(b, l.datasetStart, n, 1, 0x0008, 0x0018);
    if (sop >= 0) {
      r = (n - sop >= 6 && b[sop + 4] == 'U' && b[sop + 5] == 'I') ? 1 : 0;
    } else if (FindTop(b, l.datasetStart, n, 2, 0x0008, 0x0018) >= 0) {
      r = 2;
    }
  }
  l.encoding = r;
  l.pixelValueStart = n;
  if (r >= 0) {
    const int64_t pixel = FindTop(b, l.datasetStart, n, r, 0x7FE0, 0x0010);
    if (pixel >= 0) {
      const uint64_t start = static_cast<uint64_t>(pixel) + (r == 0 ? 8 : 12);
      l.pixelValueStart = start < n ? static_cast<uint32_t>(start) : n;
    }
  }
  return l;
}

// The search range and its encoding for elements of `group`: the meta group and
// explicit little endian for group 0002 (the range runs on to the pixel data, so a
// new meta element can go just before the data set), the data set otherwise.
struct Range {
  uint32_t begin = 0, end = 0;
  int encoding = 1;
};
inline Range RangeFor(const RewriteLayout& l, uint16_t group) {
  if (group == 0x0002) return Range{l.metaStart, l.pixelValueStart, 1};
  return Range{l.datasetStart, l.pixelValueStart, l.encoding};
}

}  // namespace velmo::layout
