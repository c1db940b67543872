#pragma once
// Test-only writer of DICOM streams in memory: implicit/explicit, little/big endian,
// sequences and items of defined and undefined length, encapsulated fragments.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::test {

using Bytes = std::vector<uint8_t>;

class DicomWriter {
 public:
  // syntax: 0 implicit VR LE, 1 explicit VR LE, 2 explicit VR BE.
  explicit DicomWriter(int syntax) : syntax_(syntax) {}

  // One element with the given raw value bytes (no padding added). The VR decides the
  // long or short form in the explicit encodings.
  DicomWriter& Element(uint16_t group, uint16_t element, const char* vr, std::string_view value);
  DicomWriter& Element(uint16_t group, uint16_t element, const char* vr, const Bytes& value);
  // Text value padded to even length with a space (NUL for UI).
  DicomWriter& Text(uint16_t group, uint16_t element, const char* vr, std::string_view text);
  // US / SS / UL / FD values written in the stream's byte order.
  DicomWriter& U16(uint16_t group, uint16_t element, uint16_t value, const char* vr = "US");
  DicomWriter& U16s(uint16_t group, uint16_t element, const std::vector<uint16_t>& values, const char* vr = "US");
  DicomWriter& U32(uint16_t group, uint16_t element, uint32_t value, const char* vr = "UL");
  DicomWriter& F64(uint16_t group, uint16_t element, double value);
  // An element header with an explicit length field value (for lying lengths).
  DicomWriter& Header(uint16_t group, uint16_t element, const char* vr, uint32_t length);

  DicomWriter& BeginSequence(uint16_t group, uint16_t element, bool undefinedLength, const char* vr = "SQ");
  DicomWriter& EndSequence();  // writes (FFFE,E0DD) for undefined length, else patches the length
  DicomWriter& BeginItem(bool undefinedLength);
  DicomWriter& EndItem();      // writes (FFFE,E00D) for undefined length, else patches the length

  // (7FE0,0010) OB with undefined length, an (optionally empty) Basic Offset Table
  // item, one item per fragment and the sequence delimiter.
  DicomWriter& Encapsulated(const std::vector<Bytes>& fragments, bool withOffsetTable = true,
                            const std::vector<uint32_t>& offsets = {});
  // Native pixel data (7FE0,0010) with the given VR.
  DicomWriter& PixelData(const Bytes& pixels, const char* vr = "OW");

  DicomWriter& Raw(const Bytes& bytes);
  DicomWriter& Raw(std::string_view bytes);
  const Bytes& bytes() const { return out_; }
  int syntax() const { return syntax_; }

 private:
  void Tag(uint16_t group, uint16_t element);
  void Put16(uint16_t v);
  void Put32(uint32_t v);
  void Patch32(size_t at, uint32_t v);
  struct Open { size_t lengthAt; size_t valueStart; bool undefined; bool item; };
  int syntax_;
  Bytes out_;
  std::vector<Open> open_;
};

// A complete file: optional 128-byte preamble and "DICM", the meta group in explicit VR
// little endian with (0002,0000), (0002,0001), (0002,0002), (0002,0003), (0002,0010),
// then the data set bytes.
Bytes MakeFile(const std::string& transferSyntax, const Bytes& dataset, bool preamble = true,
               const std::string& sopClassUid = "1.2.840.10008.5.1.4.1.1.2");
// Meta group only (for tests that build their own layout).
Bytes MakeMetaGroup(const std::string& transferSyntax, const std::string& sopClassUid);

}  // namespace velmo::test
