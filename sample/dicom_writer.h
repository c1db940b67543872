// A small writer for DICOM files (preamble, "DICM", file meta group) in explicit VR little endian, enough
// for the sample study: text, binary numbers, tags and pixel data at top level.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velmo_sample {

class DicomWriter {
 public:
  // Text value (CS, DA, DS, IS, LO, PN, SH, TM, UI, ...). The value is taken as
  // bytes; it is padded to an even length (NUL for UI, space otherwise).
  void Text(uint16_t group, uint16_t element, std::string_view vr, std::string_view value);
  void US(uint16_t group, uint16_t element, uint16_t value);
  void UL(uint16_t group, uint16_t element, uint32_t value);
  // Attribute tag value (VR AT).
  void AT(uint16_t group, uint16_t element, uint16_t tagGroup, uint16_t tagElement);
  // Binary value such as OB or OW pixel data; padded with a zero byte when odd.
  void Bytes(uint16_t group, uint16_t element, std::string_view vr, std::vector<uint8_t> value);

  // Writes preamble, "DICM", the file meta group and the data set to `path`.
  // The file is written under a temporary name and renamed into place, so a
  // failure never leaves a half-written file. On failure returns false and
  // puts the reason into `error`.
  bool WriteFile(const std::string& path, std::string* error) const;

  // The encoded bytes WriteFile would write.
  std::vector<uint8_t> Encode() const;

 private:
  struct Element {
    char vr[2];
    std::vector<uint8_t> value;
  };
  void Put(uint16_t group, uint16_t element, std::string_view vr, std::vector<uint8_t> value);
  std::string Value(uint16_t group, uint16_t element) const;

  std::map<uint32_t, Element> elements_;
};

// True for the VRs that carry two reserved bytes and a 4-byte length.
bool IsLongFormVr(std::string_view vr);

}  // namespace velmo_sample
