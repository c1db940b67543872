// Dll_DcmTagFind: top-level and any-depth searches over streams in the three encodings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan_helpers.h"

namespace velmo::test {
namespace {

constexpr int kAllSyntaxes[] = {0, 1, 2};

struct Placed {
  uint16_t group, element;
  size_t offset;
};

// Writes a handful of ordinary elements and remembers where each one starts.
std::vector<Placed> SomeHeader(DicomWriter& w) {
  std::vector<Placed> at;
  auto mark = [&](uint16_t g, uint16_t e) { at.push_back({g, e, w.bytes().size()}); };
  mark(0x0008, 0x0005); w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  mark(0x0008, 0x0018); w.Text(0x0008, 0x0018, "UI", "1.2.392.200036.9116.2.6.1.48");
  mark(0x0010, 0x0010); w.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
  mark(0x0018, 0x0050); w.Text(0x0018, 0x0050, "DS", "5.0");
  mark(0x0028, 0x0010); w.U16(0x0028, 0x0010, 512);
  mark(0x0028, 0x0011); w.U16(0x0028, 0x0011, 512);
  return at;
}

TEST(TagFind, EmptyBufferGivesNullEvenWhenTheBytesWouldMatch) {
  DicomWriter w(1);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  GuardedBytes g(w.bytes());
  EXPECT_EQ(Dll_DcmTagFind(g.data(), 0, 1, 0, 0x00, 0x08, 0x00, 0x05), nullptr);
  EXPECT_EQ(Dll_DcmTagFind(g.data(), 0, 1, 1, 0x00, 0x08, 0x00, 0x05), nullptr);
  EXPECT_EQ(Dll_DcmTagFind(nullptr, 0, 1, 0, 0x00, 0x08, 0x00, 0x05), nullptr);
}

TEST(TagFind, EveryTopLevelElementIsFoundAtItsOwnOffsetInEachEncoding) {
  for (int syntax : kAllSyntaxes) {
    SCOPED_TRACE(syntax);
    DicomWriter w(syntax);
    std::vector<Placed> at = SomeHeader(w);
    const size_t pixelAt = w.bytes().size();
    w.PixelData(Bytes(64, 0xAB), "OW");
    at.push_back({0x7FE0, 0x0010, pixelAt});
    for (const Placed& p : at) {
      EXPECT_EQ(FindAt(w.bytes(), syntax, 0, p.group, p.element), static_cast<long>(p.offset));
      EXPECT_EQ(FindAt(w.bytes(), syntax, 1, p.group, p.element), static_cast<long>(p.offset));
    }
    // Byte-swapped tags and absent tags are not found.
    EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x2800, 0x1000), -1);
    EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x0010, 0x0020), -1);
  }
}

TEST(TagFind, PixelDataInExplicitLittleEndianHasItsValueTwelveBytesOn) {
  DicomWriter w(1);
  SomeHeader(w);
  const size_t at = w.bytes().size();
  w.PixelData(Bytes(64, 0xAB), "OW");
  GuardedBytes g(w.bytes());
  const unsigned char* p = Dll_DcmTagFind(g.data(), static_cast<uint32_t>(g.size()), 1, 0, 0x7F, 0xE0, 0x00, 0x10);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p - g.data(), static_cast<long>(at));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 4), 2), "OW");
  EXPECT_EQ(p[8] | (p[9] << 8) | (p[10] << 16) | (p[11] << 24), 64);
  EXPECT_EQ(p[12], 0xAB);
}

TEST(TagFind, OnlyTheThirteenLongFormVrsTakeAFourByteLength) {
  for (bool big : {false, true}) {
    const int syntax = big ? 2 : 1;
    for (const char* vr : kLongFormVrs) {
      SCOPED_TRACE(std::string(vr) + (big ? " BE" : " LE"));
      Bytes b;
      RawElement(b, big, 0x0009, 0x1010, vr, true, 6, "ABCDEF");
      const size_t at = b.size();
      RawElement(b, big, 0x0010, 0x0010, "PN", false, 4, "AB^C");
      EXPECT_EQ(FindAt(b, syntax, 0, 0x0010, 0x0010), static_cast<long>(at));
      EXPECT_EQ(FindAt(b, syntax, 1, 0x0010, 0x0010), static_cast<long>(at));
    }
    for (const char* vr : kShortFormVrs) {
      SCOPED_TRACE(std::string(vr) + (big ? " BE" : " LE"));
      Bytes b;
      RawElement(b, big, 0x0009, 0x1010, vr, false, 6, "ABCDEF");
      const size_t at = b.size();
      RawElement(b, big, 0x0010, 0x0010, "PN", false, 4, "AB^C");
      EXPECT_EQ(FindAt(b, syntax, 0, 0x0010, 0x0010), static_cast<long>(at));
    }
  }
}

TEST(TagFind, LongValuesUseAllFourLengthBytesAndAShortLengthAfterThemStartsFresh) {
  // A long-form length with high bits set, then a short-form element: nothing of the
  // first length may leak into the second.
  for (bool big : {false, true}) {
    SCOPED_TRACE(big);
    const int syntax = big ? 2 : 1;
    Bytes b;
    RawElement(b, big, 0x0009, 0x1010, "UT", true, 0x00010002, std::string(0x00010002, 'x'));
    RawElement(b, big, 0x0010, 0x0010, "PN", false, 4, "AB^C");
    const size_t at = b.size();
    RawElement(b, big, 0x0010, 0x0020, "LO", false, 2, "42");
    RawElement(b, big, 0x0010, 0x0030, "DA", false, 8, "20240101");
    EXPECT_EQ(FindAt(b, syntax, 0, 0x0010, 0x0020), static_cast<long>(at));
    EXPECT_EQ(PositionAt(b, syntax, 0, 0x0010, 0x0015), static_cast<long>(at));
  }
}

// (0008,0005), a sequence (0008,1140) with one item holding (0008,1150) and (0008,1155),
// then optionally (0008,1150) again at the top level.
struct SequenceStream {
  Bytes bytes;
  long inner = -1, trailing = -1;
};
SequenceStream MakeSequenceStream(int syntax, bool undefinedSequence, bool undefinedItem, bool withTrailing) {
  DicomWriter w(syntax);
  SequenceStream s;
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  w.BeginSequence(0x0008, 0x1140, undefinedSequence);
  w.BeginItem(undefinedItem);
  s.inner = static_cast<long>(w.bytes().size());
  w.Text(0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.2");
  w.Text(0x0008, 0x1155, "UI", "1.2.3.4.5");
  w.EndItem();
  w.EndSequence();
  if (withTrailing) {
    s.trailing = static_cast<long>(w.bytes().size());
    w.Text(0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.4");
  }
  w.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
  s.bytes = w.bytes();
  return s;
}

TEST(TagFind, DefinedLengthSequenceIsSteppedOverAtTopLevelAndEnteredAtAnyDepth) {
  for (int syntax : kAllSyntaxes) {
    for (bool undefinedItem : {false, true}) {
      SCOPED_TRACE(testing::Message() << "syntax " << syntax << " undefined item " << undefinedItem);
      SequenceStream alone = MakeSequenceStream(syntax, false, undefinedItem, false);
      EXPECT_EQ(FindAt(alone.bytes, syntax, 0, 0x0008, 0x1150), -1);
      EXPECT_EQ(FindAt(alone.bytes, syntax, 1, 0x0008, 0x1150), alone.inner);
      SequenceStream both = MakeSequenceStream(syntax, false, undefinedItem, true);
      EXPECT_EQ(FindAt(both.bytes, syntax, 0, 0x0008, 0x1150), both.trailing);
      EXPECT_EQ(FindAt(both.bytes, syntax, 1, 0x0008, 0x1150), both.inner);
      // Whatever follows the sequence is top level again.
      EXPECT_NE(FindAt(both.bytes, syntax, 0, 0x0010, 0x0010), -1);
    }
  }
}

TEST(TagFind, ExplicitUndefinedLengthSequenceHidesItsContentsUntilItsDelimiter) {
  for (int syntax : {1, 2}) {
    for (bool undefinedItem : {false, true}) {
      SCOPED_TRACE(testing::Message() << "syntax " << syntax << " undefined item " << undefinedItem);
      SequenceStream alone = MakeSequenceStream(syntax, true, undefinedItem, false);
      EXPECT_EQ(FindAt(alone.bytes, syntax, 0, 0x0008, 0x1150), -1);
      EXPECT_EQ(FindAt(alone.bytes, syntax, 0, 0x0008, 0x1155), -1);
      EXPECT_EQ(FindAt(alone.bytes, syntax, 1, 0x0008, 0x1150), alone.inner);
      SequenceStream both = MakeSequenceStream(syntax, true, undefinedItem, true);
      EXPECT_EQ(FindAt(both.bytes, syntax, 0, 0x0008, 0x1150), both.trailing);
      EXPECT_EQ(FindAt(both.bytes, syntax, 1, 0x0008, 0x1150), both.inner);
    }
  }
}

TEST(TagFind, ImplicitUndefinedSequenceIsEnteredAndItsUndefinedItemsCountAsTopLevel) {
  // No VR in the implicit encoding, so the sequence never marks itself; the item flag
  // is cleared as soon as the scan passes the first Item.
  SequenceStream undefinedItems = MakeSequenceStream(0, true, true, true);
  EXPECT_EQ(FindAt(undefinedItems.bytes, 0, 0, 0x0008, 0x1150), undefinedItems.inner);
  EXPECT_EQ(FindAt(undefinedItems.bytes, 0, 0, 0x0008, 0x1155), undefinedItems.inner + 34);
  // Items of defined length are stepped over one by one.
  SequenceStream definedItems = MakeSequenceStream(0, true, false, true);
  EXPECT_EQ(FindAt(definedItems.bytes, 0, 0, 0x0008, 0x1150), definedItems.trailing);
  EXPECT_EQ(FindAt(definedItems.bytes, 0, 0, 0x0008, 0x1155), -1);
  EXPECT_NE(FindAt(definedItems.bytes, 0, 0, 0x0010, 0x0010), -1);
}

TEST(TagFind, ModesOtherThanZeroAndOneFindNothing) {
  DicomWriter w(1);
  SomeHeader(w);
  for (int mode : {2, 3, -1, 0x100}) {
    EXPECT_EQ(FindAt(w.bytes(), 1, mode, 0x0008, 0x0005), -1) << mode;
    EXPECT_EQ(FindAt(w.bytes(), 1, mode, 0x0028, 0x0011), -1) << mode;
  }
}

TEST(TagFind, OnlyTheLowByteOfEachTagArgumentCounts) {
  DicomWriter w(1);
  SomeHeader(w);
  GuardedBytes g(w.bytes());
  const unsigned char* a = Dll_DcmTagFind(g.data(), static_cast<uint32_t>(g.size()), 1, 0, 0x00, 0x10, 0x00, 0x10);
  const unsigned char* b =
      Dll_DcmTagFind(g.data(), static_cast<uint32_t>(g.size()), 1, 0, 0x7700, 0x110, -256, 0x12345610);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
}

TEST(TagFind, MatchingTagAtTheVeryEndOfACutBufferIsFound) {
  for (int syntax : kAllSyntaxes) {
    SCOPED_TRACE(syntax);
    DicomWriter w(syntax);
    SomeHeader(w);
    const size_t at = w.bytes().size();
    w.PixelData(Bytes(16, 1), "OW");
    const Bytes& all = w.bytes();
    for (size_t cut = at + 4; cut <= all.size(); ++cut) {
      EXPECT_EQ(FindAt(Prefix(all, cut), syntax, 0, 0x7FE0, 0x0010), static_cast<long>(at)) << cut;
      EXPECT_EQ(FindAt(Prefix(all, cut), syntax, 1, 0x7FE0, 0x0010), static_cast<long>(at)) << cut;
    }
    for (size_t cut = at; cut < at + 4; ++cut) {
      EXPECT_EQ(FindAt(Prefix(all, cut), syntax, 0, 0x7FE0, 0x0010), -1) << cut;
    }
    // Cut inside the previous element's value: its length runs past the end.
    EXPECT_EQ(FindAt(Prefix(all, at - 1), syntax, 0, 0x7FE0, 0x0010), -1);
  }
}

TEST(TagFind, ElementWhoseValueFillsTheBufferExactlyEndsTheScan) {
  // The step past the last value lands on the end: null, no read beyond it.
  DicomWriter w(1);
  SomeHeader(w);
  EXPECT_EQ(FindAt(w.bytes(), 1, 0, 0x7FE0, 0x0010), -1);
  EXPECT_EQ(FindAt(w.bytes(), 1, 1, 0x7FE0, 0x0010), -1);
}

TEST(TagFind, LengthsPastTheEndOrWrappingThirtyTwoBitsEndTheScan) {
  const uint32_t lengths[] = {0x100, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFF7, 0xFFFFFFF8, 0xFFFFFFFE};
  for (int syntax : {0, 1, 2}) {
    for (uint32_t len : lengths) {
      SCOPED_TRACE(testing::Message() << "syntax " << syntax << " length " << std::hex << len);
      DicomWriter w(syntax);
      w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
      w.Header(0x0009, 0x1010, "OB", len);  // lying length; the target follows at once
      w.Raw(Bytes(8, 0));
      w.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
      EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x0010, 0x0010), -1);
      EXPECT_EQ(FindAt(w.bytes(), syntax, 1, 0x0010, 0x0010), -1);
      EXPECT_EQ(PositionAt(w.bytes(), syntax, 0, 0x0010, 0x0010), -1);
      EXPECT_EQ(PositionAt(w.bytes(), syntax, 1, 0x0010, 0x0010), -1);
    }
  }
}

TEST(TagFind, LengthThatWouldWrapBackOntoAnEarlierElementIsNotFollowed) {
  // A hidden (0008,1150) inside a defined-length sequence, then an element whose length
  // would bring a 32-bit position back exactly onto it, or back onto itself.
  for (int syntax : kAllSyntaxes) {
    SCOPED_TRACE(syntax);
    SequenceStream s = MakeSequenceStream(syntax, false, false, false);
    DicomWriter w(syntax);
    w.Raw(s.bytes);
    const long elementAt = static_cast<long>(w.bytes().size());
    const long valueStart = elementAt + (syntax == 0 ? 8 : 12);
    w.Header(0x0009, 0x1010, "OB", static_cast<uint32_t>(0x100000000ull - (valueStart - s.inner)));
    w.Raw(Bytes(16, 0));
    EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x0008, 0x1150), -1);

    // The same for the insertion search: (0020,000D) sits inside a sequence.
    DicomWriter p(syntax);
    p.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
    p.BeginSequence(0x0008, 0x1140, false).BeginItem(false);
    const long hidden = static_cast<long>(p.bytes().size());
    p.Text(0x0020, 0x000D, "UI", "1.2.3");
    p.EndItem().EndSequence();
    const long lyingStart = static_cast<long>(p.bytes().size()) + (syntax == 0 ? 8 : 12);
    p.Header(0x0009, 0x1010, "OB", static_cast<uint32_t>(0x100000000ull - (lyingStart - hidden)));
    p.Raw(Bytes(16, 0));
    EXPECT_EQ(PositionAt(p.bytes(), syntax, 0, 0x0010, 0x0010), -1);

    DicomWriter self(syntax);
    self.Header(0x0009, 0x1010, "OB", static_cast<uint32_t>(0x100000000ull - (syntax == 0 ? 8 : 12)));
    self.Raw(Bytes(16, 0));
    EXPECT_EQ(FindAt(self.bytes(), syntax, 0, 0x7FE0, 0x0010), -1);
    EXPECT_EQ(PositionAt(self.bytes(), syntax, 0, 0x7FE0, 0x0010), -1);
  }
}

TEST(TagFind, UndefinedLengthsNestedWithoutDelimitersNeverEndTheSequence) {
  // Sequence, item, sequence, item, all of undefined length, and no delimiter at all.
  for (int syntax : kAllSyntaxes) {
    SCOPED_TRACE(syntax);
    DicomWriter w(syntax);
    w.BeginSequence(0x0008, 0x1140, true).BeginItem(true);
    w.BeginSequence(0x0008, 0x1199, true).BeginItem(true);
    const long inner = static_cast<long>(w.bytes().size());
    w.Text(0x0008, 0x1150, "UI", "1.2.3");
    w.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
    EXPECT_EQ(FindAt(w.bytes(), syntax, 1, 0x0008, 0x1150), inner);
    if (syntax == 0) {
      // No VR, so nothing marks the sequences: the content counts as top level.
      EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x0008, 0x1150), inner);
    } else {
      EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x0008, 0x1150), -1);
      EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x0010, 0x0010), -1);
    }
    EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x7FE0, 0x0010), -1);
    EXPECT_EQ(FindAt(w.bytes(), syntax, 1, 0x7FE0, 0x0010), -1);
  }
}

TEST(TagFind, UndefinedLengthOfAnElementThatIsNoSequenceIsSteppedInto) {
  // The value of an undefined-length UN is scanned as elements; it does not hide them.
  DicomWriter w(1);
  w.Header(0x0009, 0x1010, "UN", 0xFFFFFFFFu);
  const long inner = static_cast<long>(w.bytes().size());
  w.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
  EXPECT_EQ(FindAt(w.bytes(), 1, 0, 0x0010, 0x0010), inner);
}

TEST(TagFind, ElementsAfterEncapsulatedPixelDataAreTopLevel) {
  for (int syntax : {1, 2}) {
    SCOPED_TRACE(syntax);
    DicomWriter w(syntax);
    SomeHeader(w);
    const long pixel = static_cast<long>(w.bytes().size());
    w.Encapsulated({Bytes{0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4}, Bytes{0xFF, 0xD9, 0, 0}});
    const long padding = static_cast<long>(w.bytes().size());
    w.Element(0xFFFC, 0xFFFC, "OB", Bytes(4, 0));
    EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0x7FE0, 0x0010), pixel);
    EXPECT_EQ(FindAt(w.bytes(), syntax, 0, 0xFFFC, 0xFFFC), padding);
  }
}

TEST(TagFind, BigEndianDelimitersAreRecognisedByTheirBigEndianBytes) {
  // The same structure written little endian but searched as big endian must not
  // be taken for delimiters, and vice versa; this checks the big-endian side.
  SequenceStream s = MakeSequenceStream(2, true, true, true);
  EXPECT_EQ(FindAt(s.bytes, 2, 0, 0x0008, 0x1150), s.trailing);
  EXPECT_EQ(FindAt(s.bytes, 2, 1, 0x0008, 0x1150), s.inner);
  EXPECT_EQ(FindAt(s.bytes, 2, 1, 0xFFFE, 0xE00D), s.inner + 34 + 18);
  EXPECT_EQ(FindAt(s.bytes, 2, 1, 0xFFFE, 0xE0DD), s.inner + 34 + 18 + 8);
}

}  // namespace
}  // namespace velmo::test
