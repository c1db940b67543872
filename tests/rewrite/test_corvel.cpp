// The rewrite library on files built in memory: each rewrite must give exactly the
// original bytes with one element replaced or inserted (and the group length moved
// by the size change), and DCMTK must read the result and show the new value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "rewrite/corvel.h"
#include "support/dcmtk_check.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::test {
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// A file and where the element of interest stands in it: [pos, end) is the element
// that is replaced (pos == end where one is inserted); groupLength is the offset of
// the value of the group's group-length element (kNone without one).
struct Built {
  Bytes file;
  size_t pos = kNone, end = kNone, groupLength = kNone;
  bool bigGroupLength = false;
};

// Builds a file around a data set: `body` writes the data set and marks offsets
// relative to the data set; they are moved to file offsets here.
Built WithMeta(const std::string& ts, int syntax, const std::function<void(DicomWriter&, Built&)>& body) {
  DicomWriter w(syntax);
  Built b;
  body(w, b);
  b.file = MakeFile(ts, w.bytes(), !ts.empty());
  const size_t shift = b.file.size() - w.bytes().size();
  for (size_t* p : {&b.pos, &b.end, &b.groupLength})
    if (*p != kNone) *p += shift;
  b.bigGroupLength = syntax == 2;
  return b;
}
void Mark(DicomWriter& w, size_t* at) { *at = w.bytes().size(); }
void GroupLength(DicomWriter& w, Built& b, uint16_t group) {
  b.groupLength = w.bytes().size() + 8;
  w.U32(group, 0x0000, 1000);
}

Bytes Elem(int syntax, const std::function<void(DicomWriter&)>& f) {
  DicomWriter w(syntax);
  f(w);
  return w.bytes();
}

uint32_t Read32(const Bytes& b, size_t at, bool big) {
  return big ? (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3]
             : uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}
void Write32(Bytes& b, size_t at, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (big ? 24 - 8 * i : 8 * i));
}

Bytes Call(const Bytes& in, uint16_t group, uint16_t element, const char* vr, uint32_t valueLength,
           const void* value, bool* samePointer = nullptr) {
  uint32_t len = static_cast<uint32_t>(in.size());
  auto* buf = static_cast<unsigned char*>(std::malloc(in.size() ? in.size() : 1));
  if (!in.empty()) std::memcpy(buf, in.data(), in.size());
  unsigned char* out = Dll_Corvel(buf, &len, group >> 8, group & 0xFF, element >> 8, element & 0xFF, vr,
                                  valueLength, value);
  if (samePointer) *samePointer = out == buf;
  Bytes result(out, out + len);
  std::free(out);
  return result;
}

struct Row {
  const char* name;
  std::function<Built()> make;
  uint16_t group, element;
  const char* vr;
  std::string value;      // value bytes, or the decimal text of a number
  uint32_t valueLength;
  Bytes newElement;       // the element as it must stand in the result
  const char* dumpShows;  // what dcmdump must print for it
};

std::vector<Row> Rows() {
  const std::string implicitTs = "1.2.840.10008.1.2", explicitTs = "1.2.840.10008.1.2.1",
                    bigTs = "1.2.840.10008.1.2.2";
  std::vector<Row> rows;
  rows.push_back({"ImplicitShrinkWithGroupLength",
                  [=] {
                    return WithMeta(implicitTs, 0, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      GroupLength(w, b, 0x0010);
                      Mark(w, &b.pos);
                      w.Text(0x0010, 0x0010, "PN", "YAMADA^TAROU");
                      Mark(w, &b.end);
                      w.Text(0x0010, 0x0020, "LO", "ID1");
                      w.PixelData(Bytes(8, 1));
                    });
                  },
                  0x0010, 0x0010, "PN", "SATO^JI ", 8,
                  Elem(0, [](DicomWriter& w) { w.Text(0x0010, 0x0010, "PN", "SATO^JI"); }),
                  "[SATO^JI]"});
  rows.push_back({"ExplicitInsertBeforeGreaterTag",
                  [=] {
                    return WithMeta(explicitTs, 1, [](DicomWriter& w, Built& b) {
                      GroupLength(w, b, 0x0008);
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      w.Text(0x0008, 0x0060, "CS", "CT");
                      Mark(w, &b.pos);
                      b.end = b.pos;
                      w.Text(0x0008, 0x0090, "PN", "DR");
                      w.PixelData(Bytes(8, 1));
                    });
                  },
                  0x0008, 0x0080, "LO", "HOSP", 4,
                  Elem(1, [](DicomWriter& w) { w.Text(0x0008, 0x0080, "LO", "HOSP"); }), "[HOSP]"});
  rows.push_back({"MetaInsertIsExplicitLittleEndianInAnImplicitFile",
                  [=] {
                    Built b = WithMeta(implicitTs, 0, [](DicomWriter& w, Built&) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                    });
                    b.groupLength = 132 + 8;
                    b.pos = b.end = 132 + MakeMetaGroup(implicitTs, "1.2.840.10008.5.1.4.1.1.2").size();
                    b.bigGroupLength = false;
                    return b;
                  },
                  0x0002, 0x0013, "SH", "VELMO ", 6,
                  Elem(1, [](DicomWriter& w) { w.Text(0x0002, 0x0013, "SH", "VELMO"); }), "[VELMO]"});
  rows.push_back({"BigEndianNumberAndGroupLength",
                  [=] {
                    return WithMeta(bigTs, 2, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      GroupLength(w, b, 0x0028);
                      w.U16(0x0028, 0x0002, 1);
                      Mark(w, &b.pos);
                      w.U16(0x0028, 0x0010, 64);
                      Mark(w, &b.end);
                      w.U16(0x0028, 0x0011, 64);
                    });
                  },
                  0x0028, 0x0010, "US", "512", 2,
                  Elem(2, [](DicomWriter& w) { w.U16(0x0028, 0x0010, 512); }), "US 512"});
  rows.push_back({"BigEndianTextInsert",
                  [=] {
                    return WithMeta(bigTs, 2, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      GroupLength(w, b, 0x0010);
                      w.Text(0x0010, 0x0010, "PN", "A^B");
                      Mark(w, &b.pos);
                      b.end = b.pos;
                      w.Text(0x0010, 0x0030, "DA", "20000101");
                    });
                  },
                  0x0010, 0x0020, "LO", "ID42", 4,
                  Elem(2, [](DicomWriter& w) { w.Text(0x0010, 0x0020, "LO", "ID42"); }), "[ID42]"});
  rows.push_back({"LittleEndianUs512",
                  [=] {
                    return WithMeta(explicitTs, 1, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      Mark(w, &b.pos);
                      w.U16(0x0028, 0x0010, 7);
                      Mark(w, &b.end);
                    });
                  },
                  0x0028, 0x0010, "US", "512", 2,
                  Elem(1, [](DicomWriter& w) { w.U16(0x0028, 0x0010, 512); }), "US 512"});
  rows.push_back({"FdHalfInserted",
                  [=] {
                    return WithMeta(explicitTs, 1, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      Mark(w, &b.pos);
                      b.end = b.pos;
                      w.U16(0x0028, 0x0010, 7);
                    });
                  },
                  0x0018, 0x9087, "FD", "0.5", 8,
                  Elem(1, [](DicomWriter& w) { w.F64(0x0018, 0x9087, 0.5); }), "FD 0.5"});
  rows.push_back({"ElementOnlyInsideASequenceIsInsertedAtTopLevel",
                  [=] {
                    return WithMeta(explicitTs, 1, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      w.BeginSequence(0x0008, 0x1110, true).BeginItem(true);
                      w.Text(0x0008, 0x1150, "UI", "1.2.9");
                      w.EndItem().EndSequence();
                      Mark(w, &b.pos);
                      b.end = b.pos;
                      w.Text(0x0008, 0x1155, "UI", "1.2.10");
                    });
                  },
                  0x0008, 0x1150, "UI", std::string("1.2.77\0", 7) + "8", 8,
                  Elem(1, [](DicomWriter& w) { w.Element(0x0008, 0x1150, "UI", std::string("1.2.77\0" "8", 8)); }),
                  "(0008,1150) UI"});
  rows.push_back({"NoTransferSyntaxButUiAfterTheTagReadsExplicit",
                  [=] {
                    return WithMeta("", 1, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7");
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      Mark(w, &b.pos);
                      b.end = b.pos;
                      w.Text(0x0010, 0x0010, "PN", "A^B");
                    });
                  },
                  0x0008, 0x0060, "CS", "OT", 2,
                  Elem(1, [](DicomWriter& w) { w.Text(0x0008, 0x0060, "CS", "OT"); }), "[OT]"});
  rows.push_back({"LongFormValueKeepsItsLongHeader",
                  [=] {
                    return WithMeta(explicitTs, 1, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      GroupLength(w, b, 0x0020);
                      Mark(w, &b.pos);
                      w.Element(0x0020, 0x4000, "UT", "short text");
                      Mark(w, &b.end);
                      w.PixelData(Bytes(4, 2));
                    });
                  },
                  0x0020, 0x4000, "LT", std::string(300, 'x'), 300,
                  Elem(1, [](DicomWriter& w) { w.Element(0x0020, 0x4000, "UT", std::string(300, 'x')); }),
                  "(0020,4000) UT [xxxx"});
  rows.push_back({"LongFormInsertGetsReservedBytesAndFourByteLength",
                  [=] {
                    return WithMeta(explicitTs, 1, [](DicomWriter& w, Built& b) {
                      w.Text(0x0008, 0x0018, "UI", "1.2.3");
                      Mark(w, &b.pos);
                      b.end = b.pos;
                      w.Text(0x0010, 0x0010, "PN", "A^B");
                    });
                  },
                  0x0009, 0x1010, "OB", "\x01\x02\x03\x04", 4,
                  Elem(1, [](DicomWriter& w) { w.Element(0x0009, 0x1010, "OB", "\x01\x02\x03\x04"); }),
                  "(0009,1010) OB 01\\02\\03\\04"});
  return rows;
}

TEST(Corvel, RewritesExactlyOneElementAndItsGroupLength) {
  const bool dcmdump = HaveDcmdump();
  if (!dcmdump) std::printf("dcmdump not found: the DCMTK read-back is skipped\n");
  TempDir tmp;
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    const Built b = row.make();
    ASSERT_NE(b.pos, kNone);
    Bytes expected(b.file.begin(), b.file.begin() + b.pos);
    expected.insert(expected.end(), row.newElement.begin(), row.newElement.end());
    expected.insert(expected.end(), b.file.begin() + b.end, b.file.end());
    const int64_t change = static_cast<int64_t>(row.newElement.size()) - static_cast<int64_t>(b.end - b.pos);
    if (b.groupLength != kNone) {
      ASSERT_LT(b.groupLength, b.pos);
      Write32(expected, b.groupLength,
              Read32(b.file, b.groupLength, b.bigGroupLength) + static_cast<uint32_t>(change), b.bigGroupLength);
    }
    const Bytes got = Call(b.file, row.group, row.element, row.vr, row.valueLength, row.value.c_str());
    ASSERT_EQ(got.size(), b.file.size() + change);
    EXPECT_EQ(got, expected);
    if (dcmdump) {
      const std::string path = tmp.File(std::string(row.name) + ".dcm");
      WriteBytes(path, got);
      std::string listing;
      EXPECT_TRUE(DcmdumpParses(path, &listing)) << listing;
      EXPECT_NE(listing.find(row.dumpShows), std::string::npos) << listing;
    }
  }
}

TEST(Corvel, RefusalsReturnTheSameBufferUntouched) {
  const Bytes plain = MakeFile("1.2.840.10008.1.2.1", Elem(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0018, "UI", "1.2.3");
    w.BeginSequence(0x0008, 0x1140, false).BeginItem(false).Text(0x0008, 0x1150, "UI", "1.2").EndItem().EndSequence();
    w.Header(0x0009, 0x1001, "UN", 0xFFFFFFFFu);
    w.Raw(Bytes{0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0});
    w.Text(0x0010, 0x0010, "PN", "A^B");
    w.PixelData(Bytes(4, 1));
  }));
  Bytes deflated = MakeFile("1.2.840.10008.1.2.1.99", Elem(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0018, "UI", "1.2.3");
  }));
  const Bytes noMeta = Elem(0, [](DicomWriter& w) { w.Text(0x0008, 0x0018, "UI", "1.2.3"); });
  const Bytes unknown = Elem(0, [](DicomWriter& w) { w.Text(0x0008, 0x0060, "CS", "CT"); });
  const std::string big(70000, 'a');
  struct Refusal {
    const char* name;
    const Bytes* file;
    uint16_t group, element;
    const char* vr;
    uint32_t valueLength;
    const char* value;
  } refusals[] = {
      {"ExistingSequence", &plain, 0x0008, 0x1140, "SQ", 2, "AB"},
      {"NewSequence", &plain, 0x0008, 0x1141, "SQ", 2, "AB"},
      {"UndefinedLengthElement", &plain, 0x0009, 0x1001, "UN", 2, "AB"},
      {"AfterThePixelData", &plain, 0x7FE1, 0x0010, "LO", 2, "AB"},
      {"DeflatedFile", &deflated, 0x0010, 0x0010, "PN", 2, "AB"},
      {"MetaElementWithoutAMetaGroup", &noMeta, 0x0002, 0x0013, "SH", 2, "AB"},
      {"EncodingCannotBeTold", &unknown, 0x0010, 0x0010, "PN", 2, "AB"},
      {"ValueTooLongForTheLengthField", &plain, 0x0010, 0x0010, "LT", 70000, big.c_str()},
      {"NumberWithTheWrongSize", &plain, 0x0028, 0x0010, "US", 4, "512"},
      {"NotAVr", &plain, 0x0010, 0x0010, "p1", 2, "AB"},
      {"ItemTag", &plain, 0xFFFE, 0xE000, "OB", 2, "AB"},
      {"NullNumber", &plain, 0x0028, 0x0010, "US", 2, nullptr},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    bool same = false;
    const Bytes got = Call(*r.file, r.group, r.element, r.vr, r.valueLength, r.value, &same);
    EXPECT_TRUE(same);
    EXPECT_EQ(got, *r.file);
  }
}

TEST(Corvel, NumbersAreReadWithoutTheLocaleAndKeepTheirWidth) {
  if (!UseCommaLocale()) std::printf("no comma locale: numbers checked in the C locale only\n");
  const Bytes file = MakeFile("1.2.840.10008.1.2.1", Elem(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0018, "UI", "1.2.3");
    w.PixelData(Bytes(2, 0));
  }));
  struct {
    const char* vr;
    const char* text;
    uint32_t size;
    Bytes value;
  } cases[] = {
      {"UL", "4294967295", 4, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"SL", "-2", 4, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"SS", " -1x", 2, {0xFF, 0xFF}},
      {"US", "abc", 2, {0, 0}},
      {"FL", "1.5", 4, {0x00, 0x00, 0xC0, 0x3F}},
      {"FD", "nan", 8, Bytes(8, 0)},
      {"FD", "2.5e0", 8, {0, 0, 0, 0, 0, 0, 0x04, 0x40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.vr) + " " + c.text);
    const Bytes got = Call(file, 0x0018, 0x1000, c.vr, c.size, c.text);
    ASSERT_EQ(got.size(), file.size() + 8 + c.size);
    const auto value = got.end() - 14 - c.size;  // before the 14-byte pixel data element
    EXPECT_EQ(Bytes(value, value + c.size), c.value);
  }
  RestoreCLocale();
}

TEST(CorvelLibrary, ExportsExactlyDllCorvel) {
  const std::string lib = std::string(VELMO_BIN_DIR) + "/../lib/libCorvel.so";
  const CommandResult r = RunCommand("nm -D --defined-only " + ShellQuote(lib));
  ASSERT_EQ(r.status, 0) << r.err;
  std::set<std::string> names;
  char address[64], type[8], name[256];
  for (size_t start = 0; start < r.out.size();) {
    size_t end = r.out.find('\n', start);
    if (end == std::string::npos) end = r.out.size();
    if (std::sscanf(r.out.substr(start, end - start).c_str(), "%63s %7s %255s", address, type, name) == 3)
      names.insert(name);
    start = end + 1;
  }
  EXPECT_EQ(names, std::set<std::string>{"Dll_Corvel"}) << r.out;
  const CommandResult deps = RunCommand("ldd " + ShellQuote(lib));
  EXPECT_NE(deps.out.find("libSifton.so"), std::string::npos) << deps.out;
}

}  // namespace
}  // namespace velmo::test
