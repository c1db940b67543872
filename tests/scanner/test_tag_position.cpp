// Dll_DcmTagPosition: where an element is, or would be inserted, at the top level.
#include <gtest/gtest.h>

#include "scan_helpers.h"

namespace velmo::test {
namespace {

struct Flat {
  Bytes bytes;
  long at0005, at0018, at0010_0010, at0028_0010, at0028_0011, atPixel;
};
Flat MakeFlat(int syntax) {
  DicomWriter w(syntax);
  Flat f;
  auto here = [&] { return static_cast<long>(w.bytes().size()); };
  f.at0005 = here(); w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  f.at0018 = here(); w.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  f.at0010_0010 = here(); w.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
  f.at0028_0010 = here(); w.U16(0x0028, 0x0010, 512);
  f.at0028_0011 = here(); w.U16(0x0028, 0x0011, 512);
  f.atPixel = here(); w.PixelData(Bytes(32, 0), "OW");
  f.bytes = w.bytes();
  return f;
}

TEST(TagPosition, EmptyOrNegativeLengthGivesNull) {
  Flat f = MakeFlat(1);
  GuardedBytes g(f.bytes);
  EXPECT_EQ(Dll_DcmTagPosition(g.data(), 0, 1, 0, 0x00, 0x08, 0x00, 0x00), nullptr);
  EXPECT_EQ(Dll_DcmTagPosition(g.data(), -1, 1, 0, 0x00, 0x08, 0x00, 0x00), nullptr);
  EXPECT_EQ(Dll_DcmTagPosition(g.data(), INT32_MIN, 1, 0, 0x00, 0x08, 0x00, 0x00), nullptr);
}

TEST(TagPosition, ReturnsTheElementOrTheFirstGreaterOneOrNullPastTheLast) {
  for (int syntax : {0, 1, 2}) {
    for (int mode : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "syntax " << syntax << " mode " << mode);
      Flat f = MakeFlat(syntax);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0008, 0x0005), f.at0005);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0000, 0x0000), f.at0005);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0008, 0x0010), f.at0018);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0008, 0xFFFF), f.at0010_0010);
      // A greater group wins whatever its element number.
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0020, 0x000D), f.at0028_0010);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0027, 0xFFFF), f.at0028_0010);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0028, 0x0000), f.at0028_0010);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0028, 0x0011), f.at0028_0011);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x0028, 0x0012), f.atPixel);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x7FE0, 0x0010), f.atPixel);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0x7FE0, 0x0011), -1);
      EXPECT_EQ(PositionAt(f.bytes, syntax, mode, 0xFFFF, 0xFFFF), -1);
    }
  }
}

TEST(TagPosition, GreaterTagAtTheEndOfACutBufferIsReturnedOnceItsTagIsThere) {
  for (int syntax : {0, 1, 2}) {
    SCOPED_TRACE(syntax);
    Flat f = MakeFlat(syntax);
    for (size_t cut = f.atPixel + 4; cut <= f.bytes.size(); ++cut) {
      EXPECT_EQ(PositionAt(Prefix(f.bytes, cut), syntax, 0, 0x7000, 0x0000), f.atPixel) << cut;
    }
    for (size_t cut = f.atPixel; cut < static_cast<size_t>(f.atPixel + 4); ++cut) {
      EXPECT_EQ(PositionAt(Prefix(f.bytes, cut), syntax, 0, 0x7000, 0x0000), -1) << cut;
    }
    // Cut inside an earlier header or value: the scan stops with null.
    for (size_t cut = f.at0028_0010 + 4; cut < static_cast<size_t>(f.at0028_0011); ++cut) {
      EXPECT_EQ(PositionAt(Prefix(f.bytes, cut), syntax, 0, 0x7000, 0x0000), -1) << cut;
    }
  }
}

// (0008,0005), sequence (0008,1140) holding one item with (0020,000D) and (0020,000E),
// then (0010,0010): the item's tags are greater than the one that follows the sequence.
struct Nested {
  Bytes bytes;
  long sequence, inner, after;
};
Nested MakeNested(int syntax, bool undefinedSequence, bool undefinedItem) {
  DicomWriter w(syntax);
  Nested n;
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  n.sequence = static_cast<long>(w.bytes().size());
  w.BeginSequence(0x0008, 0x1140, undefinedSequence).BeginItem(undefinedItem);
  n.inner = static_cast<long>(w.bytes().size());
  w.Text(0x0020, 0x000D, "UI", "1.2.3.4");
  w.Text(0x0020, 0x000E, "UI", "1.2.3.5");
  w.EndItem().EndSequence();
  n.after = static_cast<long>(w.bytes().size());
  w.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
  n.bytes = w.bytes();
  return n;
}

TEST(TagPosition, SequenceContentsAreNeverReturnedAtTopLevel) {
  for (int syntax : {0, 1, 2}) {
    for (bool undefinedSequence : {false, true}) {
      for (bool undefinedItem : {false, true}) {
        SCOPED_TRACE(testing::Message() << "syntax " << syntax << " undefined sequence " << undefinedSequence
                                        << " undefined item " << undefinedItem);
        Nested n = MakeNested(syntax, undefinedSequence, undefinedItem);
        EXPECT_EQ(PositionAt(n.bytes, syntax, 0, 0x0008, 0x1140), n.sequence);
        // (0020,000D) would sort before (0010,0010)? No: it is greater, but it is hidden.
        EXPECT_EQ(PositionAt(n.bytes, syntax, 0, 0x0009, 0x0000), n.after);
        EXPECT_EQ(PositionAt(n.bytes, syntax, 0, 0x0010, 0x0010), n.after);
        EXPECT_EQ(PositionAt(n.bytes, syntax, 0, 0x0020, 0x000D), -1);
      }
    }
  }
}

TEST(TagPosition, ModeOneReturnsNothingAfterASequence) {
  // An Item marks the scan as inside a sequence until a Sequence Delimitation Item,
  // which a defined-length sequence never has.
  for (int syntax : {0, 1, 2}) {
    SCOPED_TRACE(syntax);
    Nested defined = MakeNested(syntax, false, false);
    EXPECT_EQ(PositionAt(defined.bytes, syntax, 1, 0x0008, 0x1140), defined.sequence);
    EXPECT_EQ(PositionAt(defined.bytes, syntax, 1, 0x0009, 0x0000), -1);
    EXPECT_EQ(PositionAt(defined.bytes, syntax, 1, 0x0010, 0x0010), -1);
    // Only mode 1 enters defined-length sequences; any other mode steps over them.
    EXPECT_EQ(PositionAt(defined.bytes, syntax, 2, 0x0010, 0x0010), defined.after);
    // With its delimiter the scan comes back out.
    Nested undefined = MakeNested(syntax, true, true);
    EXPECT_EQ(PositionAt(undefined.bytes, syntax, 1, 0x0009, 0x0000), undefined.after);
  }
}

TEST(TagPosition, TheOpeningItemIsNeverTakenForAGreaterTag) {
  // In the implicit encoding an undefined-length sequence is entered at top level;
  // the first thing the comparison sees is its Item (group FFFE).
  DicomWriter w(0);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  w.BeginSequence(0x0008, 0x1140, true).BeginItem(true);
  w.Text(0x0020, 0x000D, "UI", "1.2.3.4");
  w.EndItem().EndSequence();
  EXPECT_EQ(PositionAt(w.bytes(), 0, 0, 0x0009, 0x0000), -1);
  EXPECT_EQ(PositionAt(w.bytes(), 0, 0, 0x0010, 0x0010), -1);
}

}  // namespace
}  // namespace velmo::test
