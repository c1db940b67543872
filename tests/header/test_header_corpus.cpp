// The header rows of every public corpus file against DCMTK's listing of the same
// file: the same elements in the same stream order (sequences and items flattened;
// the delimiters the listing adds for explicit lengths are not in the stream), the
// same lengths, and the same values of text VRs (read in the file's character set).
// Japanese person names of the
// character-set files decode to the text pydicom gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cctype>
#include <sstream>

#include "base/charset.h"
#include "base/text.h"
#include "dicom/read_dicom.h"
#include "header/header_rows.h"
#include "header_test_support.h"
#include "support/test_util.h"

namespace velmo::test {
namespace {

struct ListedElement {
  std::string group, element, vr, value;
  long long length = 0;
  bool hasValue = false;  // a bracketed value was printed
  int line = 0;
};

// Parses a listing: one element per "(gggg,eeee) VR value # length, vm Name" line.
struct Listing {
  std::vector<ListedElement> elements;
  bool complete = true;  // DCMTK read the whole file (exit status 0)
};
// One element line of a listing: "(gggg,eeee) VR value   # length, vm name", where the
// value runs up to the first "#" followed by a length ("u/l" or a number), a comma and
// a digit. Parsed by hand: a regular expression recurses per character and overflows
// the stack on the longest value lines under the address sanitizer.
bool ParseListingLine(const std::string& line, ListedElement* e, std::string* value) {
  size_t p = line.find_first_not_of(" \t");
  if (p == std::string::npos || line.size() < p + 15 || line[p] != '(' || line[p + 5] != ',' || line[p + 10] != ')' ||
      line[p + 11] != ' ' || line[p + 14] != ' ')
    return false;
  auto hex4 = [&](size_t at) {
    for (size_t k = at; k < at + 4; ++k)
      if (!std::isxdigit(static_cast<unsigned char>(line[k]))) return false;
    return true;
  };
  if (!hex4(p + 1) || !hex4(p + 6) || std::isspace(static_cast<unsigned char>(line[p + 12])) ||
      std::isspace(static_cast<unsigned char>(line[p + 13])))
    return false;
  e->group = line.substr(p + 1, 4);
  e->element = line.substr(p + 6, 4);
  e->vr = line.substr(p + 12, 2);
  const size_t valueStart = p + 15;
  for (size_t hash = line.find('#', valueStart); hash != std::string::npos; hash = line.find('#', hash + 1)) {
    size_t q = line.find_first_not_of(" \t", hash + 1);
    if (q == std::string::npos) return false;
    std::string length;
    if (line.compare(q, 3, "u/l") == 0) {
      length = "u/l";
      q += 3;
    } else {
      const size_t digits = q + (line[q] == '-' ? 1 : 0);
      size_t end = digits;
      while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) ++end;
      if (end == digits) continue;
      length = line.substr(q, end - q);
      q = end;
    }
    if (q >= line.size() || line[q] != ',') continue;
    q = line.find_first_not_of(" \t", q + 1);
    if (q == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[q]))) continue;
    e->length = length == "u/l" ? -1 : std::stoll(length);
    size_t valueEnd = hash;
    while (valueEnd > valueStart && (line[valueEnd - 1] == ' ' || line[valueEnd - 1] == '\t')) --valueEnd;
    *value = valueEnd > valueStart ? line.substr(valueStart, valueEnd - valueStart) : std::string();
    return true;
  }
  return false;
}

Listing ReadListing(const std::string& path) {
  Listing listing;
  std::vector<ListedElement>& out = listing.elements;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.rfind("# dcmdump exit status:", 0) == 0 && line != "# dcmdump exit status: 0") listing.complete = false;
    ListedElement e;
    std::string v;
    if (!ParseListingLine(line, &e, &v)) continue;
    if (line.find("for re-encoding") != std::string::npos || line.find("for re-encod.") != std::string::npos) continue;
    for (auto& c : e.group) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (auto& c : e.element) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (v.size() >= 2 && v.front() == '[' && v.back() == ']') {
      e.hasValue = true;
      e.value = v.substr(1, v.size() - 2);
    }
    e.line = number;
    out.push_back(e);
  }
  return listing;
}

// The listing writes ESC and bytes above 7F as octal escapes (\\033, \\351); a
// backslash followed by anything else is a value separator.
std::string UnescapeOctal(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 3 < v.size()) {
      const std::string d = v.substr(i + 1, 3);
      if (d.size() == 3 && d.find_first_not_of("01234567") == std::string::npos) {
        const int b = std::stoi(d, nullptr, 8);
        if (b == 033 || (b >= 0200 && b <= 0377)) {
          out += static_cast<char>(b);
          i += 3;
          continue;
        }
      }
    }
    out += v[i];
  }
  return out;
}

std::string Trim(std::string s) {
  while (s.size() >= 4 && s.compare(s.size() - 4, 4, "\\000") == 0) s.resize(s.size() - 4);  // NUL padding
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

bool TextVr(const std::string& vr) {
  static const char* const kText[] = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT",
                                      "PN", "SH", "ST", "TM", "UI", "UT", "UC", "UR"};
  for (const char* t : kText)
    if (vr == t) return true;
  return false;
}

struct Loaded {
  bool ok = false;
  DicomImage image;
};
Loaded Load(const std::string& path) {
  LoadContext ctx;
  SilentNotifier quiet;
  ctx.notifier = &quiet;
  PrepareSingleFile(ctx, path);
  Loaded l;
  l.ok = ReadDicomFile(ctx, path, 1, true);
  if (l.ok) l.image = std::move(ctx.records[0]);
  return l;
}

TEST(HeaderCorpus, RowsFollowTheListingOfEveryFile) {
  const std::string dir = TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public corpus not present (../shared/testdata)";
  const Dictionaries& dict = ShippedDictionaries();
  ASSERT_FALSE(dict.tags.bytes.empty()) << "the staged Config/Tag.csv is missing";
  int compared = 0, skipped = 0, rowsCompared = 0;
  for (const auto& f : std::filesystem::recursive_directory_iterator(dir + "/dcmdump")) {
    if (!f.is_regular_file() || f.path().extension() != ".txt") continue;
    std::string rel = std::filesystem::relative(f.path(), dir + "/dcmdump").string();
    rel.resize(rel.size() - 4);
    const std::string file = dir + "/" + rel;
    if (!std::filesystem::exists(file)) continue;
    const Loaded l = Load(file);
    if (!l.ok) {
      ++skipped;  // not a file the loader reads (no pixel data, unsupported)
      continue;
    }
    const Listing listing = ReadListing(f.path().string());
    const std::vector<ListedElement>& listed = listing.elements;
    const std::vector<HeaderRow> rows = BuildHeaderRows(l.image, dict, HeaderOptions{});
    SCOPED_TRACE(rel);
    ASSERT_FALSE(rows.empty());
    // Text values are read in the data set's character set (its first (0008,0005)).
    std::string characterSet;
    for (const ListedElement& e : listed)
      if (e.group == "0008" && e.element == "0005") {
        characterSet = e.value;
        break;
      }
    // The rows end with the pixel data element (its value lies past the header).
    size_t n = 0;
    for (; n < rows.size() && n < listed.size(); ++n) {
      const HeaderRow& r = rows[n];
      const ListedElement& e = listed[n];
      SCOPED_TRACE("listing line " + std::to_string(e.line));
      ASSERT_EQ(r.group + "," + r.element, e.group + "," + e.element) << "row " << n;
      // The listing rounds odd lengths up to the even length it would write.
      const long long length = std::stoll(r.length);
      EXPECT_TRUE(length == e.length || (length % 2 == 1 && length + 1 == e.length)) << length << " vs " << e.length;
      // Private elements have no dictionary entry and show their bytes in hexadecimal.
      const bool isPrivate = (std::stoi(r.group, nullptr, 16) & 1) != 0;
      if (!isPrivate && e.hasValue && TextVr(e.vr) && TextVr(r.vr.substr(0, 2))) {
        std::string expected = e.value;
        if (e.vr == "LO" || e.vr == "LT" || e.vr == "PN" || e.vr == "SH" || e.vr == "ST" || e.vr == "UT" ||
            e.vr == "UC") {
          expected = UnescapeOctal(expected);
          Iso2022Options o;
          o.caretToSpace = false;
          expected = DicomTextToSjis(expected, characterSet, o);
        }
        // Values over 1024 bytes are shown cut.
        if (expected.size() > 1024) expected.resize(1024);
        EXPECT_EQ(Trim(r.value), Trim(expected)) << r.group << "," << r.element;
      }
      ++rowsCompared;
    }
    // Where DCMTK gave up on a malformed file the rows carry on past its listing.
    if (listing.complete) {
      EXPECT_EQ(n, rows.size()) << "rows after the listing's elements";
      EXPECT_EQ(rows.back().group + rows.back().element, "7FE00010");
    } else {
      EXPECT_EQ(n, listed.size());
    }
    ++compared;
  }
  std::printf("compared %d files (%d rows), %d files the loader does not read\n", compared, rowsCompared, skipped);
  EXPECT_GT(compared, 50);
}

TEST(HeaderCorpus, JapanesePersonNamesDecodeLikeTheReference) {
  const std::string dir = TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public corpus not present (../shared/testdata)";
  int checked = 0;
  for (const TsvRow& ref : ReadReferenceTsv()) {
    const std::string cs = ref.at("specific_character_set");
    if (cs.find("IR 87") == std::string::npos && cs.find("IR 13") == std::string::npos) continue;
    const std::string expected = ref.at("patient_name_unicode");
    if (expected.empty()) continue;
    const Loaded l = Load(dir + "/" + ref.at("file"));
    SCOPED_TRACE(ref.at("file"));
    if (!l.ok) {
      // Files without pixel data are not loaded; walk their header from the bytes.
      std::vector<uint8_t> bytes = ReadBytes(dir + "/" + ref.at("file"));
      const int64_t pre = bytes.size() >= 132 && std::memcmp(bytes.data() + 128, "DICM", 4) == 0 ? 132 : 0;
      const std::vector<HeaderRow> rows =
          BuildHeaderRows(bytes.data(), bytes.size(), pre, static_cast<int64_t>(bytes.size()), 1, ShippedDictionaries(), {});
      bool found = false;
      for (const HeaderRow& r : rows)
        if (r.group == "0010" && r.element == "0010") {
          EXPECT_EQ(Trim(Utf8FromSjis(r.value)), Trim(expected));
          found = true;
          break;
        }
      EXPECT_TRUE(found);
      ++checked;
      continue;
    }
    bool found = false;
    for (const HeaderRow& r : BuildHeaderRows(l.image, ShippedDictionaries(), {}))
      if (r.group == "0010" && r.element == "0010") {
        EXPECT_EQ(Trim(Utf8FromSjis(r.value)), Trim(expected));
        found = true;
        break;
      }
    EXPECT_TRUE(found);
    ++checked;
  }
  std::printf("checked %d Japanese person names\n", checked);
  EXPECT_GE(checked, 3);
}

}  // namespace
}  // namespace velmo::test
