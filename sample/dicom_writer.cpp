#include "dicom_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace velmo_sample {
namespace {

constexpr const char* kExplicitLittle = "1.2.840.10008.1.2.1";
// Implementation identification of this generator (a UUID-derived root).
constexpr const char* kImplementationClassUid = "2.25.219077404518642712117644046251518254946.9";
constexpr const char* kImplementationVersion = "VELMO_SAMPLE_1";

void Append16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Append32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

void AppendElement(std::vector<uint8_t>& out, uint32_t tag, const char vr[2],
                   const std::vector<uint8_t>& value) {
  Append16(out, static_cast<uint16_t>(tag >> 16));
  Append16(out, static_cast<uint16_t>(tag & 0xFFFF));
  out.push_back(static_cast<uint8_t>(vr[0]));
  out.push_back(static_cast<uint8_t>(vr[1]));
  if (IsLongFormVr(std::string_view(vr, 2))) {
    Append16(out, 0);
    Append32(out, static_cast<uint32_t>(value.size()));
  } else {
    if (value.size() > 0xFFFF) throw std::length_error("value too long for a short-form VR");
    Append16(out, static_cast<uint16_t>(value.size()));
  }
  out.insert(out.end(), value.begin(), value.end());
}

std::vector<uint8_t> PaddedText(std::string_view value, char pad) {
  std::vector<uint8_t> bytes(value.begin(), value.end());
  if (bytes.size() % 2 != 0) bytes.push_back(static_cast<uint8_t>(pad));
  return bytes;
}

}  // namespace

bool IsLongFormVr(std::string_view vr) {
  static constexpr std::string_view kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                               "SV", "UC", "UN", "UR", "UT", "UV"};
  for (auto v : kLong)
    if (v == vr) return true;
  return false;
}

void DicomWriter::Put(uint16_t group, uint16_t element, std::string_view vr,
                      std::vector<uint8_t> value) {
  if (vr.size() != 2) throw std::invalid_argument("VR must have two characters");
  Element e;
  e.vr[0] = vr[0];
  e.vr[1] = vr[1];
  e.value = std::move(value);
  elements_[(uint32_t{group} << 16) | element] = std::move(e);
}

void DicomWriter::Text(uint16_t group, uint16_t element, std::string_view vr,
                       std::string_view value) {
  Put(group, element, vr, PaddedText(value, vr == "UI" ? '\0' : ' '));
}

void DicomWriter::US(uint16_t group, uint16_t element, uint16_t value) {
  std::vector<uint8_t> bytes;
  Append16(bytes, value);
  Put(group, element, "US", std::move(bytes));
}

void DicomWriter::UL(uint16_t group, uint16_t element, uint32_t value) {
  std::vector<uint8_t> bytes;
  Append32(bytes, value);
  Put(group, element, "UL", std::move(bytes));
}

void DicomWriter::AT(uint16_t group, uint16_t element, uint16_t tagGroup, uint16_t tagElement) {
  std::vector<uint8_t> bytes;
  Append16(bytes, tagGroup);
  Append16(bytes, tagElement);
  Put(group, element, "AT", std::move(bytes));
}

void DicomWriter::Bytes(uint16_t group, uint16_t element, std::string_view vr,
                        std::vector<uint8_t> value) {
  if (value.size() % 2 != 0) value.push_back(0);
  Put(group, element, vr, std::move(value));
}

std::string DicomWriter::Value(uint16_t group, uint16_t element) const {
  auto it = elements_.find((uint32_t{group} << 16) | element);
  if (it == elements_.end()) return {};
  std::string s(it->second.value.begin(), it->second.value.end());
  while (!s.empty() && (s.back() == '\0' || s.back() == ' ')) s.pop_back();
  return s;
}

std::vector<uint8_t> DicomWriter::Encode() const {
  // File meta information: its group length covers the elements after it.
  std::vector<uint8_t> meta;
  AppendElement(meta, 0x00020001, "OB", {0x00, 0x01});
  AppendElement(meta, 0x00020002, "UI", PaddedText(Value(0x0008, 0x0016), '\0'));
  AppendElement(meta, 0x00020003, "UI", PaddedText(Value(0x0008, 0x0018), '\0'));
  AppendElement(meta, 0x00020010, "UI", PaddedText(kExplicitLittle, '\0'));
  AppendElement(meta, 0x00020012, "UI", PaddedText(kImplementationClassUid, '\0'));
  AppendElement(meta, 0x00020013, "SH", PaddedText(kImplementationVersion, ' '));

  std::vector<uint8_t> out(132, 0);
  std::memcpy(out.data() + 128, "DICM", 4);
  std::vector<uint8_t> length;
  Append32(length, static_cast<uint32_t>(meta.size()));
  AppendElement(out, 0x00020000, "UL", length);
  out.insert(out.end(), meta.begin(), meta.end());

  for (const auto& [tag, e] : elements_) {
    if ((tag >> 16) == 0x0002) continue;  // the meta group is written above
    AppendElement(out, tag, e.vr, e.value);
  }
  return out;
}

bool DicomWriter::WriteFile(const std::string& path, std::string* error) const {
  std::vector<uint8_t> bytes = Encode();
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot create " + tmp + ": " + std::strerror(errno);
    return false;
  }
  size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
  int writeErrno = errno;
  bool ok = written == bytes.size();
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    writeErrno = errno;
  }
  if (!ok) {
    if (error) *error = "cannot write " + tmp + ": " + std::strerror(writeErrno);
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot rename " + tmp + " to " + path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace velmo_sample
