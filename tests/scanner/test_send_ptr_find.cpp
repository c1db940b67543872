// Dll_SendPtrFind: the byte size of the leading file meta group.
#include <gtest/gtest.h>

#include <string>

#include "scan_helpers.h"

namespace velmo::test {
namespace {

Bytes Dataset(int syntax) {
  DicomWriter w(syntax);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  return w.bytes();
}
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SendPtrFind, MetaGroupFollowedByADatasetGivesTheGroupSizeInAnyEncoding) {
  const Bytes meta = MakeMetaGroup("1.2.840.10008.1.2.1", "1.2.840.10008.5.1.4.1.1.2");
  for (int syntax : {0, 1, 2}) {
    const Bytes stream = Concat(meta, Dataset(syntax));
    // The third argument does not matter: the group is always explicit VR little endian.
    for (int unused : {0, 1, 2, -7}) {
      EXPECT_EQ(MetaSize(stream, unused), static_cast<int32_t>(meta.size())) << syntax << " " << unused;
    }
  }
}

TEST(SendPtrFind, ZeroWhenThereIsNoMetaGroupOrNothingAfterIt) {
  EXPECT_EQ(MetaSize(Dataset(0)), 0);
  EXPECT_EQ(MetaSize(Dataset(2)), 0);
  EXPECT_EQ(MetaSize(MakeMetaGroup("1.2.840.10008.1.2", "1.2.3")), 0);
  GuardedBytes g(MakeMetaGroup("1.2.840.10008.1.2", "1.2.3"));
  EXPECT_EQ(Dll_SendPtrFind(g.data(), 0, 1), 0);
  EXPECT_EQ(Dll_SendPtrFind(g.data(), -5, 1), 0);
  EXPECT_EQ(Dll_SendPtrFind(nullptr, 0, 1), 0);
}

TEST(SendPtrFind, LongFormMetaElementsTakeTheReservedBytesAndAFourByteLength) {
  for (const char* vr : kLongFormVrs) {
    Bytes b;
    RawElement(b, false, 0x0002, 0x0001, vr, true, 6, "ABCDEF");
    RawElement(b, false, 0x0002, 0x0002, "UI", false, 4, "1.20");
    const int32_t size = static_cast<int32_t>(b.size());
    EXPECT_EQ(MetaSize(Concat(b, Dataset(1))), size) << vr;
  }
  for (const char* vr : kShortFormVrs) {
    Bytes b;
    RawElement(b, false, 0x0002, 0x0001, vr, false, 6, "ABCDEF");
    const int32_t size = static_cast<int32_t>(b.size());
    EXPECT_EQ(MetaSize(Concat(b, Dataset(1))), size) << vr;
  }
}

TEST(SendPtrFind, ShortLengthAfterALongLengthCarriesNoHighBits) {
  Bytes b;
  RawElement(b, false, 0x0002, 0x0001, "OB", true, 0x00010002, std::string(0x00010002, '\0'));
  RawElement(b, false, 0x0002, 0x0002, "UI", false, 4, "1.20");
  RawElement(b, false, 0x0002, 0x0010, "UI", false, 4, "1.20");
  const int32_t size = static_cast<int32_t>(b.size());
  EXPECT_EQ(MetaSize(Concat(b, Dataset(1))), size);
}

TEST(SendPtrFind, UndefinedLengthCountsAsZeroOtherHighBitLengthsAreDamage) {
  Bytes undefined;
  RawElement(undefined, false, 0x0002, 0x0001, "OB", true, 0xFFFFFFFF, "");
  RawElement(undefined, false, 0x0002, 0x0002, "UI", false, 4, "1.20");
  EXPECT_EQ(MetaSize(Concat(undefined, Dataset(1))), static_cast<int32_t>(undefined.size()));

  for (uint32_t len : {0x80000000u, 0xFFFFFFFEu, 0xFFFFFFF8u}) {
    Bytes b;
    RawElement(b, false, 0x0002, 0x0001, "OB", true, len, "");
    EXPECT_EQ(MetaSize(Concat(b, Dataset(1))), 0) << std::hex << len;
  }
}

TEST(SendPtrFind, DamagedOrCutGroupGivesZero) {
  const Bytes meta = MakeMetaGroup("1.2.840.10008.1.2.1", "1.2.840.10008.5.1.4.1.1.2");
  const Bytes stream = Concat(meta, Dataset(1));
  // Every cut inside the meta group (or right at its end) leaves nothing to point at.
  for (size_t cut = 1; cut <= meta.size(); ++cut) {
    EXPECT_EQ(MetaSize(Prefix(stream, cut)), 0) << cut;
  }
  // Once a whole element header of the dataset is there, the group is known.
  EXPECT_EQ(MetaSize(Prefix(stream, meta.size() + 8)), static_cast<int32_t>(meta.size()));

  // A length that points past the end.
  Bytes lying;
  RawElement(lying, false, 0x0002, 0x0001, "OB", true, 0x7FFFFFF0, "ab");
  EXPECT_EQ(MetaSize(Concat(lying, Dataset(1))), 0);
}

}  // namespace
}  // namespace velmo::test
