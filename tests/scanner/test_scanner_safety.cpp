// Damaged and cut streams: the scanner must stay inside its buffer and give results
// that point at real bytes. Buffers sit against inaccessible pages, so a stray read
// crashes the test even without a sanitizer.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "scan_helpers.h"
#include "scanner/vr_form.h"

namespace velmo::test {
namespace {

std::vector<Bytes> Samples() {
  std::vector<Bytes> out;
  for (int syntax : {0, 1, 2}) {
    for (bool undefined : {false, true}) {
      DicomWriter w(syntax);
      w.Text(0x0008, 0x0005, "CS", "ISO_IR 192");
      w.BeginSequence(0x0008, 0x1140, undefined).BeginItem(!undefined);
      w.Text(0x0008, 0x1150, "UI", "1.2.3");
      w.BeginSequence(0x0028, 0x3010, !undefined).BeginItem(undefined);
      w.U16s(0x0028, 0x3002, {4096, 0, 12});
      w.EndItem().EndSequence();
      w.EndItem().EndSequence();
      w.Element(0x0009, 0x1001, "UT", std::string(10, 'u'));
      w.U16(0x0028, 0x0010, 2);
      if (syntax != 0 && undefined) {
        w.Encapsulated({Bytes{0xFF, 0xD8, 0xFF, 0xE0}, Bytes{0xFE, 0xFF, 0x00, 0xE0}});
      } else {
        w.PixelData(Bytes(8, 7), "OW");
      }
      out.push_back(w.bytes());
    }
  }
  Bytes meta = MakeMetaGroup("1.2.840.10008.1.2.1", "1.2.840.10008.5.1.4.1.1.7");
  meta.insert(meta.end(), out[2].begin(), out[2].end());
  out.push_back(meta);
  return out;
}

// Runs every function on the buffer and checks that each result points at bytes
// inside it (and, for a search, at the tag asked for).
void ScanEverything(const Bytes& bytes, Guard guard) {
  GuardedBytes g(bytes, guard);
  const uint8_t* b = g.data();
  const size_t n = g.size();
  const uint16_t targets[][2] = {{0x7FE0, 0x0010}, {0x0028, 0x3002}, {0xFFFE, 0xE0DD}, {0x0009, 0x1001}};
  for (int syntax : {0, 1, 2, 3, -1}) {
    for (int mode : {0, 1, 2}) {
      for (const auto& t : targets) {
        const unsigned char* p = Dll_DcmTagFind(b, static_cast<uint32_t>(n), syntax, mode, t[0] >> 8, t[0] & 0xFF,
                                                t[1] >> 8, t[1] & 0xFF);
        if (p) {
          ASSERT_GE(p, b);
          ASSERT_LE(p + 4, b + n);
          const bool big = syntax == 2;
          const uint16_t group = big ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
          const uint16_t element = big ? (p[2] << 8 | p[3]) : (p[3] << 8 | p[2]);
          ASSERT_EQ(group, t[0]);
          ASSERT_EQ(element, t[1]);
        }
        const unsigned char* q = Dll_DcmTagPosition(b, static_cast<int32_t>(n), syntax, mode, t[0] >> 8,
                                                    t[0] & 0xFF, t[1] >> 8, t[1] & 0xFF);
        if (q) {
          ASSERT_GE(q, b);
          ASSERT_LE(q + 4, b + n);
        }
      }
    }
  }
  const int32_t meta = Dll_SendPtrFind(b, static_cast<int32_t>(n), 1);
  ASSERT_GE(meta, 0);
  ASSERT_LT(static_cast<size_t>(meta), n > 0 ? n : 1);
}

TEST(ScannerSafety, EveryCutOfEverySampleStaysInsideTheBuffer) {
  for (const Bytes& sample : Samples()) {
    for (size_t cut = 0; cut <= sample.size(); ++cut) {
      ASSERT_NO_FATAL_FAILURE(ScanEverything(Prefix(sample, cut), Guard::kAfter)) << cut;
      ASSERT_NO_FATAL_FAILURE(ScanEverything(Prefix(sample, cut), Guard::kBefore)) << cut;
    }
  }
}

TEST(ScannerSafety, EveryDamagedByteOfEverySampleStaysInsideTheBuffer) {
  // Values that turn bytes into delimiters, undefined lengths, huge lengths and VRs.
  const uint8_t damage[] = {0x00, 0xFF, 0xFE, 0xE0, 0xDD, 0x0D, 0x80, 'S', 'Q', 'O', 'U'};
  for (const Bytes& sample : Samples()) {
    for (size_t at = 0; at < sample.size(); ++at) {
      for (uint8_t d : damage) {
        Bytes damaged = sample;
        damaged[at] = d;
        ASSERT_NO_FATAL_FAILURE(ScanEverything(damaged, Guard::kAfter)) << at << " " << int(d);
      }
    }
  }
}

TEST(ScannerSafety, TheSharedLongFormDefinitionHoldsExactlyThirteenVrs) {
  std::set<std::string> longForms;
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      if (IsLongFormVr(static_cast<uint8_t>(a), static_cast<uint8_t>(b))) {
        longForms.insert(std::string{static_cast<char>(a), static_cast<char>(b)});
      }
    }
  }
  const std::set<std::string> expected{"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                       "SV", "UC", "UN", "UR", "UT", "UV"};
  EXPECT_EQ(longForms, expected);
}

TEST(ScannerLibrary, ExportsExactlyTheThreeFunctions) {
  const std::string lib = std::string(VELMO_BIN_DIR) + "/../lib/libSifton.so";
  FILE* in = popen(("nm -D --defined-only '" + lib + "' 2>&1").c_str(), "r");
  ASSERT_NE(in, nullptr);
  std::set<std::string> names;
  std::string all;
  char line[512];
  while (fgets(line, sizeof line, in)) {
    all += line;
    char address[64], type[8], name[256];
    if (sscanf(line, "%63s %7s %255s", address, type, name) == 3) names.insert(name);
  }
  ASSERT_EQ(pclose(in), 0) << all;
  const std::set<std::string> expected{"Dll_DcmTagFind", "Dll_SendPtrFind", "Dll_DcmTagPosition"};
  EXPECT_EQ(names, expected) << all;
}

}  // namespace
}  // namespace velmo::test
