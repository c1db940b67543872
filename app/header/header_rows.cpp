#include "header/header_rows.h"

#include <algorithm>
#include <cstring>

#include "base/charset.h"
#include "base/numbers.h"
#include "base/text.h"
#include "dicom/element.h"
#include "scanner/vr_form.h"

namespace velmo {

namespace {

constexpr size_t kMaxShownBytes = 1024;  // byte dumps and texts show at most this much

void AppendHex(std::string& s, const uint8_t* p, size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  s.reserve(s.size() + n * 3);
  for (size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
    s += ' ';
  }
}

std::string Hex4(uint16_t v) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kHex[v & 15];
  return s;
}

// Text as a list cell holds it: up to the first NUL.
std::string CellText(const uint8_t* p, size_t n) {
  const void* nul = std::memchr(p, 0, n);
  if (nul) n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
  return std::string(reinterpret_cast<const char*>(p), n);
}

// The text VRs the data set's Specific Character Set applies to.
bool IsEscapedTextVr(const std::string& code) {
  return code == "LO" || code == "LT" || code == "PN" || code == "SH" || code == "ST" || code == "UT" || code == "UC";
}

// characterSet: the raw (0008,0005) value the text VRs are read in.
std::string FormatValue(const uint8_t* p, size_t available, bool big, bool binary, bool groupLength,
                        const std::string& code, const std::string& flag, std::string_view characterSet) {
  std::string s;
  const size_t shown = std::min(available, kMaxShownBytes);
  if (binary) {
    AppendHex(s, p, shown);
  } else if (groupLength) {
    if (available >= 4) s = Format("%u", static_cast<unsigned>(Get32(p, big)));
  } else if (flag.empty()) {
    AppendHex(s, p, shown);
  } else if (flag != "N") {
    if (IsEscapedTextVr(code)) {
      Iso2022Options o;
      o.caretToSpace = false;
      s = DicomTextToSjis(std::string_view(reinterpret_cast<const char*>(p), shown), characterSet, o);
      const size_t nul = s.find('\0');
      if (nul != std::string::npos) s.resize(nul);
    } else {
      s = CellText(p, shown);
    }
  } else if (code == "AT" || code == "OB" || code == "OW") {
    AppendHex(s, p, shown);
  } else if (code == "UL") {
    if (available >= 4) s = Format("%u", static_cast<unsigned>(Get32(p, big)));
  } else if (code == "SL") {
    if (available >= 4) s = Format("%d", static_cast<int>(static_cast<int32_t>(Get32(p, big))));
  } else if (code == "FL") {
    if (available >= 4) {
      const uint32_t bits = Get32(p, big);
      float f;
      std::memcpy(&f, &bits, 4);
      s = Format("%.8f", static_cast<double>(f));
    }
  } else if (code == "FD") {
    if (available >= 8) {
      const uint64_t a = Get32(p, big), b = Get32(p + 4, big);
      const uint64_t bits = big ? (a << 32) | b : (b << 32) | a;
      double d;
      std::memcpy(&d, &bits, 8);
      s = Format("%.8f", d);
    }
  } else if (code == "SS") {
    for (size_t i = 0; i + 2 <= available; i += 2)
      s += Format("%d    ", static_cast<int>(static_cast<int16_t>(Get16(p + i, big))));
  } else if (code == "US") {
    for (size_t i = 0; i + 2 <= available; i += 2) s += Format("%u    ", static_cast<unsigned>(Get16(p + i, big)));
  }
  return s;
}

std::string Pad(std::string_view text, size_t width) {
  std::string s(text);
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

}  // namespace

std::vector<HeaderRow> BuildHeaderRows(const uint8_t* data, size_t size, int64_t preambleSize, int64_t headerEnd,
                                       int syntax, const Dictionaries& dict, const HeaderOptions& options,
                                       const Log& log) {
  std::vector<HeaderRow> rows;
  if (data == nullptr || preambleSize < 0 || headerEnd <= preambleSize) return rows;
  const size_t end = std::min<uint64_t>(size, static_cast<uint64_t>(headerEnd));
  size_t off = static_cast<size_t>(preambleSize);
  const bool detailLog = log.level() >= 3 && !log.disabled();
  const bool left = options.pane == 0;
  bool meta = true;
  // The data set's Specific Character Set: the first (0008,0005) of the walk, which
  // is the top-level one (it sorts before every element that could hold an item).
  std::string characterSet;
  bool characterSetSeen = false;
  while (off + 4 <= end) {
    const uint8_t* p = data + off;
    const bool metaElement = meta && p[0] == 0x02 && p[1] == 0x00;
    // The file meta group is always little endian; the data set follows its syntax.
    const bool big = syntax == kExplicitBig && !metaElement;
    const bool explicitVr = syntax == kExplicitLittle || syntax == kExplicitBig || metaElement;
    const uint16_t g = Get16(p, big), e = Get16(p + 2, big);
    if (meta && g == 0x0008) meta = false;
    HeaderRow row;
    row.group = Hex4(g);
    row.element = Hex4(e);
    const bool isPrivate = (g & 1) != 0;
    const bool delimiter = g == 0xFFFE && (e == 0xE000 || e == 0xE00D || e == 0xE0DD);
    if (detailLog)
      log.Write(Format(left ? SJ("左側のタグ（%s,%s）の表示") : SJ("右側のタグ（%s,%s）の表示"), row.group, row.element),
                kLogNormal, 3);
    off += 4;

    bool groupLength = false;
    TagEntry entry;
    std::string code, flag;
    if (isPrivate) {
      groupLength = e == 0x0000;
    } else if (e == 0x0000 && g != 0x0002) {
      groupLength = true;
    } else {
      LookupTag(dict, row.group, row.element, &entry);
      row.name = options.english ? entry.englishName : entry.japaneseName;
      row.vr = entry.vr;
      row.vm = entry.vm;
      if (detailLog)
        log.Write(Format(left ? SJ("左側の名前、VR(%s)、VM(%s)の表示") : SJ("右側の名前、VR(%s)、VM(%s)の表示"), row.vr,
                         row.vm),
                  kLogNormal, 3);
    }
    if (!isPrivate) LookupVrFlag(dict, entry.vr, &code, &flag);

    // The length field.
    uint32_t length = 0;
    bool lengthRead = false;
    if (explicitVr && !delimiter) {
      if (off + 2 <= end) {
        const uint8_t v0 = data[off], v1 = data[off + 1];
        if (IsLongFormVr(v0, v1)) {
          if (off + 8 <= end) {
            length = Get32(data + off + 4, big);
            off += 8;
            lengthRead = true;
          }
        } else if (off + 4 <= end) {
          length = Get16(data + off + 2, big);
          off += 4;
          lengthRead = true;
        }
      }
    } else if (off + 4 <= end) {
      length = Get32(data + off, big);
      off += 4;
      lengthRead = true;
    }
    if (!lengthRead) {
      rows.push_back(std::move(row));
      break;  // the bytes end inside the element header
    }
    const int32_t signedLength = static_cast<int32_t>(length);
    row.length = Format("%d", signedLength);
    if (detailLog)
      log.Write(Format(left ? SJ("左側のデータ長の表示(%s)") : SJ("右側のデータ長の表示(%s)"), row.length), kLogNormal, 3);

    // Sequences, items and delimiters are stepped into, so their contents follow as rows.
    const uint32_t step =
        (signedLength < 0 || delimiter || (entry.vr.size() >= 2 && entry.vr.compare(0, 2, "SQ") == 0)) ? 0 : length;
    bool cut = false;
    if (step > 0 && off < end) {
      const size_t room = end - off;
      const size_t available = step < room ? step : room;
      cut = step > room;
      if (!characterSetSeen && !metaElement && g == 0x0008 && e == 0x0005) {
        characterSet = CellText(data + off, available);
        characterSetSeen = true;
      }
      row.value = FormatValue(data + off, available, big, options.binary, groupLength, code, flag, characterSet);
      if (detailLog) log.Write(left ? SJ("左側のデータ部の表示") : SJ("右側のデータ部の表示"), kLogNormal, 3);
    }
    rows.push_back(std::move(row));
    if (cut || step > end - std::min(off, end)) break;
    off += step;
  }
  return rows;
}

std::vector<HeaderRow> BuildHeaderRows(const DicomImage& image, const Dictionaries& dict, const HeaderOptions& options,
                                       const Log& log) {
  return BuildHeaderRows(image.headerCopy.data(), image.headerCopy.size(), image.preambleSize, image.headerSize,
                         image.syntaxType, dict, options, log);
}

std::string HeaderColumnTitle(int column, bool english) {
  static const char* const kJapanese[7] = {"ｸﾞﾙｰﾌﾟ", "ｴﾚﾒﾝﾄ", "名前", "値表現", "値複数度", "値長さ", "値"};
  static const char* const kEnglish[7] = {"Group", "Element", "Name", "VR", "VM", "Length", "Value"};
  if (column < 0 || column > 6) return {};
  return english ? std::string(kEnglish[column]) : SjisFromUtf8(kJapanese[column]);
}

int HeaderColumnWidth(int column) {
  static const int kWidths[7] = {38, 38, 120, 42, 42, 55, 400};
  return column >= 0 && column <= 6 ? kWidths[column] : 0;
}

std::string HeaderTitleLine(bool english) {
  if (english)
    return Pad("Group Element", 14) + Pad("Name", 48) + Pad("VR", 9) + Pad("VM", 9) + Pad("Length", 9) + "Value\r\n";
  return Pad(SJ("ｸﾞﾙｰﾌﾟ ｴﾚﾒﾝﾄ"), 14) + Pad(SJ("名前"), 48) + Pad(SJ("値表現"), 9) + Pad(SJ("値複数度"), 9) +
         Pad(SJ("値長さ"), 9) + SJ("値") + "\r\n";
}

std::string HeaderTextLine(const HeaderRow& row) {
  return "(" + row.group + "," + row.element + ")   " + Pad(row.name, 48) + Pad(row.vr, 9) + Pad(row.vm, 9) +
         Pad(row.length, 9) + row.value + "\r\n";
}

std::string HeaderText(const std::vector<HeaderRow>& rows, bool english) {
  std::string s = HeaderTitleLine(english);
  for (const HeaderRow& r : rows) s += HeaderTextLine(r);
  return s;
}

}  // namespace velmo
