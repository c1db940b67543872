#pragma once
// The rows of a header list: every element of an image's header in stream order,
// sequences and items flattened into the same list, with the dictionary's name, VR
// and VM, the value length and a value text; and the text file "ﾃｷｽﾄ保存" writes
// from them. Qt-free: the list widgets only show these rows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/log.h"
#include "dicom/dicom_image.h"
#include "header/dictionary.h"

namespace velmo {

struct HeaderRow {
  std::string group;    // "%02X%02X", high byte first
  std::string element;
  std::string name;     // Japanese or English name from Tag.csv
  std::string vr, vm;   // fields from Tag.csv
  std::string length;   // "%d" of the length field (-1 for undefined)
  std::string value;    // value text (Shift-JIS)
};

struct HeaderOptions {
  bool english = false;  // names from Tag.csv column 3 instead of column 2
  bool binary = false;   // every value as hexadecimal bytes
  int pane = 0;          // 0 left, 1 right: only chooses the wording of the log lines
};

// Walks the header bytes [preambleSize, headerEnd) of `data` (size bytes) with the
// encoding `syntax` (0, 1, 2). The file meta group (bytes 02 00 before the first
// group 0008 element) is read as explicit VR little endian. The walk stops cleanly
// where the bytes end, and after an element whose value runs past the end.
std::vector<HeaderRow> BuildHeaderRows(const uint8_t* data, size_t size, int64_t preambleSize, int64_t headerEnd,
                                       int syntax, const Dictionaries& dict, const HeaderOptions& options,
                                       const Log& log = Log::Null());
// The rows of an image read by the file loader (headerCopy from preambleSize to headerSize).
std::vector<HeaderRow> BuildHeaderRows(const DicomImage& image, const Dictionaries& dict, const HeaderOptions& options,
                                       const Log& log = Log::Null());

// Column titles (Shift-JIS) and widths of the seven list columns.
std::string HeaderColumnTitle(int column, bool english);
int HeaderColumnWidth(int column);

// The saved text: the title line, then one line per row; Shift-JIS with CR LF.
std::string HeaderTitleLine(bool english);
std::string HeaderTextLine(const HeaderRow& row);
std::string HeaderText(const std::vector<HeaderRow>& rows, bool english);

}  // namespace velmo
