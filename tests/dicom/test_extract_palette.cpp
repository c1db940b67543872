// Palette colour tables and the lookup table, including data that disagrees with
// its descriptor.
#include <algorithm>

#include "test_extract_support.h"

namespace velmo::test {
namespace {

ImageShape PaletteShape(uint16_t bits = 8) {
  ImageShape shape;
  shape.photometric = "PALETTE COLOR";
  shape.bits = bits;
  return shape;
}

// Descriptors and data for the given colours (0 red, 1 green, 2 blue).
void WritePalette(DicomWriter& w, const std::vector<uint16_t>& descriptor, const Bytes& data, bool segmented,
                  std::initializer_list<int> colours = {0, 1, 2}) {
  for (int c : colours) w.U16s(0x0028, static_cast<uint16_t>(0x1101 + c), descriptor, "US");
  for (int c : colours) w.Element(0x0028, static_cast<uint16_t>((segmented ? 0x1221 : 0x1201) + c), "OW", data);
}

class PaletteTest : public ExtractFixture, public ::testing::WithParamInterface<int> {};

// Entries are 16-bit words in the stream's byte order; tables hold 65,536 entries.
TEST_P(PaletteTest, PlainSixteenBitData) {
  const int syntax = GetParam();
  ASSERT_TRUE(LoadDataset(syntax, [&](DicomWriter& w) {
    WritePalette(w, {4, 0, 16}, Words({0x0000, 0x1234, 0xFF00, 0xFFFF}, syntax), false);
  }, PaletteShape()));
  const DicomImage& r = im();
  EXPECT_EQ(r.hasPalette, 1);
  EXPECT_EQ(r.isColour, 1);
  for (const auto* table : {&r.paletteRed, &r.paletteGreen, &r.paletteBlue}) {
    ASSERT_EQ(table->size(), 65536u);
    EXPECT_EQ((*table)[1], 0x1234);
    EXPECT_EQ((*table)[2], 0xFF00);
    EXPECT_EQ((*table)[3], 0xFFFF);
    EXPECT_EQ((*table)[4], 0);
  }
  EXPECT_EQ(r.paletteDescriptor[2][0], 4);
  EXPECT_EQ(r.paletteDescriptor[2][1], 0);
  EXPECT_EQ(r.paletteDescriptor[2][2], 16);
}

// Segments are 16-bit words in the stream's byte order.
TEST_P(PaletteTest, SegmentedData) {
  const int syntax = GetParam();
  struct Case {
    const char* what;
    uint16_t entries;
    std::vector<uint16_t> segments;
    std::vector<uint16_t> expected;  // table from slot 0; the slot after stays 0
  };
  const Case cases[] = {
      {"discrete then linear", 5, {0, 1, 0, 1, 4, 400}, {0, 100, 200, 300, 400}},
      {"falling linear", 3, {0, 1, 300, 1, 2, 100}, {300, 200, 100}},
      {"linear first starts from 0", 2, {1, 2, 100}, {50, 100}},
      {"segments overrun the table", 3, {0, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {1, 2, 3}},
      {"discrete overruns the value", 10, {0, 100, 5, 6}, {5, 6}},
      {"linear without its end value", 10, {0, 1, 5, 1, 4}, {5}},
      {"discrete without its count", 10, {0, 1, 5, 0}, {5}},
      {"linear of length 0", 10, {0, 1, 8, 1, 0, 100, 0, 1, 9}, {8, 9}},
      {"indirect is passed over", 10, {0, 1, 3, 2, 0, 0, 1, 4}, {3, 4}},
      {"unknown opcode", 10, {7, 0, 1, 5}, {5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(LoadDataset(syntax, [&](DicomWriter& w) {
      WritePalette(w, {c.entries, 0, 16}, Words(c.segments, syntax), true);
    }, PaletteShape()));
    const std::vector<uint16_t>& red = im().paletteRed;
    ASSERT_EQ(red.size(), 65536u);
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(red[i], c.expected[i]) << i;
    EXPECT_EQ(red[c.expected.size()], 0);
    EXPECT_EQ(im().hasPalette, 1);
  }
}

// Descriptor 0 means 65,536 entries; a negative first mapped value wraps around
// the 65,536-entry table instead of writing before it.
TEST_P(PaletteTest, FullTableWithNegativeFirstMappedValue) {
  const int syntax = GetParam();
  std::vector<uint16_t> data(65536);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint16_t>(i);
  ASSERT_TRUE(LoadDataset(syntax, [&](DicomWriter& w) {
    WritePalette(w, {0, 0xFFFE, 16}, Words(data, syntax), false);
  }, PaletteShape(16)));
  const DicomImage& r = im();
  EXPECT_EQ(r.paletteDescriptor[0][0], 65536);
  EXPECT_EQ(r.paletteDescriptor[0][1], -2);
  ASSERT_EQ(r.paletteGreen.size(), 65536u);
  EXPECT_EQ(r.paletteGreen[65534], 0);
  EXPECT_EQ(r.paletteGreen[65535], 1);
  EXPECT_EQ(r.paletteGreen[0], 2);
  EXPECT_EQ(r.paletteGreen[65533], 65535);
  EXPECT_EQ(r.hasPalette, 1);
}

INSTANTIATE_TEST_SUITE_P(Syntaxes, PaletteTest, ::testing::Values(0, 1, 2));

TEST_F(ExtractFixture, PaletteDataShorterThanItsDescriptor) {
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    WritePalette(w, {300, 0, 16}, Words({7, 9}, 1), false, {0});
    WritePalette(w, {300, 0, 8}, Bytes{1, 2}, false, {1});
    WritePalette(w, {300, 0, 16}, Bytes{}, false, {2});
  }, PaletteShape()));
  const DicomImage& r = im();
  EXPECT_EQ(r.paletteRed[0], 7);
  EXPECT_EQ(r.paletteRed[1], 9);
  EXPECT_EQ(r.paletteRed[2], 0);
  EXPECT_EQ(r.paletteGreen[0], 1);
  EXPECT_EQ(r.paletteGreen[1], 2);
  EXPECT_EQ(r.paletteGreen[2], 0);
  EXPECT_TRUE(std::all_of(r.paletteBlue.begin(), r.paletteBlue.end(), [](uint16_t v) { return v == 0; }));
  EXPECT_EQ(r.hasPalette, 1);
}

TEST_F(ExtractFixture, EightBitPaletteEntriesStartAtTheFirstMappedValue) {
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    WritePalette(w, {4, 10, 8}, Bytes{1, 2, 3, 4}, false);
  }, PaletteShape()));
  EXPECT_EQ(im().paletteRed[9], 0);
  EXPECT_EQ(im().paletteRed[10], 1);
  EXPECT_EQ(im().paletteRed[13], 4);
  EXPECT_EQ(im().paletteRed[14], 0);
}

TEST_F(ExtractFixture, MissingDescriptorLeavesThatColourWithoutTable) {
  ImageShape shape = PaletteShape();
  shape.samples = 3;  // without usable tables the image counts as three-sample colour
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    WritePalette(w, {4, 0, 16}, Words({1, 2, 3, 4}, 1), false, {0, 1});
    w.U16s(0x0028, 0x1103, {4, 0}, "US");  // too short to be a descriptor
  }, shape));
  EXPECT_EQ(im().hasPalette, 0);
  EXPECT_EQ(im().paletteRed.size(), 65536u);
  EXPECT_TRUE(im().paletteBlue.empty());
  EXPECT_EQ(im().paletteDescriptor[2][0], 0);
}

TEST_F(ExtractFixture, PaletteOnGreyImageIsReadButNotUsed) {
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    WritePalette(w, {4, 0, 16}, Words({1, 2, 3, 4}, 1), false);
  }));
  EXPECT_EQ(im().hasPalette, 0);
  EXPECT_EQ(im().paletteRed[3], 4);
}

class LookupTableTest : public ExtractFixture, public ::testing::WithParamInterface<int> {};

// The first LUT of the data set, inside its sequence; short data leaves zeros.
TEST_P(LookupTableTest, ReadsTheFirstTableInTheStreamsByteOrder) {
  const int syntax = GetParam();
  ASSERT_TRUE(LoadDataset(syntax, [&](DicomWriter& w) {
    w.BeginSequence(0x0028, 0x3010, false);
    w.BeginItem(true);
    w.U16s(0x0028, 0x3002, {3, 5, 12}, "US");
    w.Element(0x0028, 0x3006, "US", Words({0x0102, 0x0FFF}, syntax));
    w.EndItem();
    w.BeginItem(true);
    w.U16s(0x0028, 0x3002, {1, 0, 16}, "US");
    w.Element(0x0028, 0x3006, "OW", Words({77}, syntax));
    w.EndItem();
    w.EndSequence();
  }));
  const DicomImage& r = im();
  EXPECT_EQ(r.hasVoiLut, 1);
  EXPECT_EQ(r.voiLutEntries, 3);
  EXPECT_EQ(r.voiLutFirstMapped, 5);
  EXPECT_EQ(r.voiLutBits, 12);
  ASSERT_EQ(r.voiLutData.size(), 3u);
  EXPECT_EQ(r.voiLutData[0], 0x0102);
  EXPECT_EQ(r.voiLutData[1], 0x0FFF);
  EXPECT_EQ(r.voiLutData[2], 0);
}

// Long-form data (OW) starts 12 bytes after its element in the explicit encodings.
TEST_P(LookupTableTest, LongFormData) {
  const int syntax = GetParam();
  ASSERT_TRUE(LoadDataset(syntax, [&](DicomWriter& w) {
    w.U16s(0x0028, 0x3002, {2, 0, 16}, "US");
    w.Element(0x0028, 0x3006, "OW", Words({4000, 4001}, syntax));
  }));
  ASSERT_EQ(im().voiLutData.size(), 2u);
  EXPECT_EQ(im().voiLutData[0], 4000);
  EXPECT_EQ(im().voiLutData[1], 4001);
}

INSTANTIATE_TEST_SUITE_P(Syntaxes, LookupTableTest, ::testing::Values(0, 1, 2));

TEST_F(ExtractFixture, LookupTableEdgeCases) {
  // Data without descriptor: nothing.
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) { w.Element(0x0028, 0x3006, "OW", Words({1}, 1)); }));
  EXPECT_EQ(im().hasVoiLut, 0);
  EXPECT_TRUE(im().voiLutData.empty());
  // An empty descriptor (as some files carry) counts as none.
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.Element(0x0028, 0x3002, "US", Bytes{});
    w.Element(0x0028, 0x3006, "US", Bytes{});
  }));
  EXPECT_EQ(im().hasVoiLut, 0);
  // 0 entries: an empty table.
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.U16s(0x0028, 0x3002, {0, 0, 16}, "US");
    w.Element(0x0028, 0x3006, "OW", Words({1, 2}, 1));
  }));
  EXPECT_EQ(im().voiLutEntries, 0);
  EXPECT_TRUE(im().voiLutData.empty());
  // Descriptor without data: a zero table, not flagged.
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) { w.U16s(0x0028, 0x3002, {4, 0, 16}, "US"); }));
  EXPECT_EQ(im().hasVoiLut, 0);
  EXPECT_EQ(im().voiLutData.size(), 4u);
}

TEST_F(ExtractFixture, PalettesOfRealFiles) {
  const std::string dir = TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public test corpus not present";
  auto load = [&](const std::string& name) {
    files.Add(name, ReadBytes(dir + "/" + name));
    PrepareSingleFile(ctx, name);
    return ReadDicomFile(ctx, name, 1, true) && ExtractImageAttributes(ctx, 1);
  };
  // Entries 0000\0100\0100...: the second entry is 0x0100, not byte-swapped.
  ASSERT_TRUE(load("pydicom/examples_palette.dcm"));
  EXPECT_EQ(im().hasPalette, 1);
  EXPECT_EQ(im().paletteDescriptor[0][0], 256);
  EXPECT_EQ(im().paletteRed[1], 0x0100);
  EXPECT_NEAR(im().pixelSpacing[0], 0.26228787, 1e-6);  // from the ultrasound deltas

  ASSERT_TRUE(load("pydicom-data/OT-PAL-8-face.dcm"));
  EXPECT_EQ(im().hasPalette, 1);
  EXPECT_EQ(im().paletteDescriptor[1][0], 200);
  EXPECT_EQ(im().paletteRed[5], 0x0300);
  EXPECT_EQ(im().paletteGreen[0], 0x8700);

  // Segmented 16-bit tables of 65,536 entries in an implicit file.
  ASSERT_TRUE(load("pydicom-data/gdcm-US-ALOKA-16.dcm"));
  EXPECT_EQ(im().syntaxType, 0);
  EXPECT_EQ(im().hasPalette, 1);
  EXPECT_EQ(im().paletteDescriptor[0][0], 65536);
  EXPECT_EQ(im().paletteDescriptor[0][2], 16);
  EXPECT_TRUE(std::any_of(im().paletteBlue.begin(), im().paletteBlue.end(), [](uint16_t v) { return v != 0; }));
  EXPECT_NEAR(im().pixelSpacing[1], 0.38265306, 1e-6);
}

}  // namespace
}  // namespace velmo::test
