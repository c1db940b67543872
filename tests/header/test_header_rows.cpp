// Header rows: stream order with sequences flattened, the value rules, lying
// lengths, the big-endian file meta group, and the saved text layout.
#include <gtest/gtest.h>

#include "base/text.h"
#include "header/header_rows.h"
#include "header_test_support.h"
#include "support/dicom_writer.h"

namespace velmo::test {
namespace {

std::vector<HeaderRow> RowsOf(const Bytes& file, int syntax, HeaderOptions o = {}) {
  const int64_t pre = file.size() >= 132 && file[128] == 'D' ? 132 : 0;
  return BuildHeaderRows(file.data(), file.size(), pre, static_cast<int64_t>(file.size()), syntax,
                         ShippedDictionaries(), o);
}

std::string Tags(const std::vector<HeaderRow>& rows) {
  std::string s;
  for (const HeaderRow& r : rows) s += r.group + "," + r.element + ":" + r.length + " ";
  return s;
}

TEST(HeaderRows, SequencesPrivateGroupsAndValueRules) {
  for (int syntax = 0; syntax <= 2; ++syntax) {
    SCOPED_TRACE("syntax " + std::to_string(syntax));
    static const char* const kTs[] = {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2"};
    DicomWriter w(syntax);
    w.U32(0x0008, 0x0000, 1234)
        .Text(0x0010, 0x0010, "PN", "Yamada^Tarou=\x1b$B;3ED\x1b(B")
        .U16s(0x0028, 0x0010, {512, 7})
        .BeginSequence(0x0008, 0x1140, true)
        .BeginItem(true)
        .Text(0x0008, 0x1150, "UI", "1.2")
        .EndItem()
        .EndSequence()
        .U32(0x0009, 0x0000, 16)
        .Text(0x0009, 0x1001, "LO", "AB")
        .Element(0x0029, 0x1010, "OB", Bytes(3000, 0xAB))
        .F64(0x0018, 0x9306, -0.5)
        .PixelData(Bytes(8, 1));
    const Bytes file = MakeFile(kTs[syntax], w.bytes());
    const std::vector<HeaderRow> rows = RowsOf(file, syntax);
    EXPECT_EQ(Tags(rows),
              "0002,0000:" + rows[0].length + " 0002,0001:2 0002,0002:26 0002,0003:" + rows[3].length + " 0002,0010:" +
                  rows[4].length + " 0008,0000:4 0010,0010:24 0028,0010:4 0008,1140:-1 FFFE,E000:-1 0008,1150:4 "
                  "FFFE,E00D:0 FFFE,E0DD:0 0009,0000:4 0009,1001:2 0029,1010:3000 0018,9306:8 7FE0,0010:8 ");
    auto row = [&](const char* g, const char* e) -> const HeaderRow& {
      for (const HeaderRow& r : rows)
        if (r.group == g && r.element == e) return r;
      static HeaderRow none;
      ADD_FAILURE() << g << "," << e;
      return none;
    };
    EXPECT_EQ(row("0002", "0001").value, "00 01 ");
    EXPECT_EQ(row("0008", "0000").value, "1234");
    EXPECT_TRUE(row("0008", "0000").name.empty());   // group lengths are not looked up
    EXPECT_FALSE(row("0002", "0000").name.empty());  // except (0002,0000)
    EXPECT_EQ(Utf8FromSjis(row("0010", "0010").value), "Yamada^Tarou=山田 ");  // padded to even length
    EXPECT_EQ(Utf8FromSjis(row("0010", "0010").name), "患者名");
    EXPECT_EQ(row("0028", "0010").value, "512    7    ");
    EXPECT_EQ(row("0009", "0000").value, "16");
    EXPECT_EQ(row("0009", "1001").value, "41 42 ");
    EXPECT_TRUE(row("0009", "1001").name.empty() && row("0009", "1001").vr.empty());
    EXPECT_EQ(row("0029", "1010").value.size(), 1024u * 3);
    EXPECT_EQ(row("0018", "9306").value, "-0.50000000");
    HeaderOptions english;
    english.english = true;
    english.binary = true;
    const std::vector<HeaderRow> bin = RowsOf(file, syntax, english);
    EXPECT_EQ(bin[7].name, "Rows");
    EXPECT_EQ(bin[7].value, syntax == 2 ? "02 00 00 07 " : "00 02 07 00 ");
  }
}

TEST(HeaderRows, LyingLengthsStopWhereTheBytesEnd) {
  DicomWriter w(1);
  w.Text(0x0010, 0x0020, "LO", "ID").Header(0x0010, 0x0030, "DA", 0xFFF0).Raw("2019");
  const Bytes file = MakeFile("1.2.840.10008.1.2.1", w.bytes());
  std::vector<HeaderRow> rows = RowsOf(file, 1);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows.back().group + rows.back().element, "00100030");
  EXPECT_EQ(rows.back().length, "65520");
  EXPECT_EQ(rows.back().value, "2019");
  // Every prefix of the file, in every syntax, ends cleanly.
  for (int syntax = 0; syntax <= 2; ++syntax)
    for (size_t n = 0; n <= file.size(); ++n) {
      std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<long>(n));
      cut.shrink_to_fit();
      const auto r = BuildHeaderRows(cut.data(), cut.size(), 0, static_cast<int64_t>(file.size()), syntax,
                                     ShippedDictionaries(), {});
      EXPECT_LE(r.size(), file.size() / 4 + 1);
    }
  // Nonsense bounds give no rows.
  EXPECT_TRUE(BuildHeaderRows(file.data(), file.size(), 200, 100, 1, ShippedDictionaries(), {}).empty());
  EXPECT_TRUE(BuildHeaderRows(nullptr, 0, 0, 100, 1, ShippedDictionaries(), {}).empty());
}

TEST(HeaderRows, WithoutDictionaryValuesShowAsBytes) {
  DicomWriter w(1);
  w.Text(0x0010, 0x0020, "LO", "ID");
  const Bytes file = MakeFile("1.2.840.10008.1.2.1", w.bytes());
  const Dictionaries empty;
  const auto rows = BuildHeaderRows(file.data(), file.size(), 132, static_cast<int64_t>(file.size()), 1, empty, {});
  EXPECT_EQ(rows.back().value, "49 44 ");
  EXPECT_TRUE(rows.back().name.empty() && rows.back().vr.empty() && rows.back().vm.empty());
}

TEST(HeaderRows, SavedTextLayout) {
  EXPECT_EQ(HeaderTitleLine(true), "Group Element Name" + std::string(44, ' ') + "VR       VM       Length   Value\r\n");
  const std::string ja = HeaderTitleLine(false);
  EXPECT_EQ(ja.substr(0, 14), SJ("ｸﾞﾙｰﾌﾟ ｴﾚﾒﾝﾄ") + "  ");
  EXPECT_EQ(ja.size(), 14u + 48 + 9 + 9 + 9 + SJ("値").size() + 2);
  HeaderRow r{"0010", "0010", std::string(60, 'N'), "PN", "1", "10", "Value"};
  EXPECT_EQ(HeaderTextLine(r), "(0010,0010)   " + std::string(60, 'N') + "PN       1        10       Value\r\n");
  r.name = "Name";
  EXPECT_EQ(HeaderTextLine(r).substr(14, 48), "Name" + std::string(44, ' '));
  EXPECT_EQ(HeaderText({r, r}, true).size(), HeaderTitleLine(true).size() + 2 * HeaderTextLine(r).size());
}

}  // namespace
}  // namespace velmo::test
