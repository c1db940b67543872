#include "support/dicom_writer.h"

#include <cstring>

#include "scanner/vr_form.h"

namespace velmo::test {

void DicomWriter::Put16(uint16_t v) {
  if (syntax_ == 2) {
    out_.push_back(static_cast<uint8_t>(v >> 8));
    out_.push_back(static_cast<uint8_t>(v));
  } else {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
  }
}
void DicomWriter::Put32(uint32_t v) {
  if (syntax_ == 2) {
    Put16(static_cast<uint16_t>(v >> 16));
    Put16(static_cast<uint16_t>(v));
  } else {
    Put16(static_cast<uint16_t>(v));
    Put16(static_cast<uint16_t>(v >> 16));
  }
}
void DicomWriter::Patch32(size_t at, uint32_t v) {
  uint8_t b[4];
  if (syntax_ == 2) {
    b[0] = v >> 24; b[1] = v >> 16; b[2] = v >> 8; b[3] = v;
  } else {
    b[0] = v; b[1] = v >> 8; b[2] = v >> 16; b[3] = v >> 24;
  }
  std::memcpy(out_.data() + at, b, 4);
}
void DicomWriter::Tag(uint16_t group, uint16_t element) {
  Put16(group);
  Put16(element);
}

DicomWriter& DicomWriter::Header(uint16_t group, uint16_t element, const char* vr, uint32_t length) {
  Tag(group, element);
  if (syntax_ == 0 || group == 0xFFFE) {
    Put32(length);
  } else {
    out_.push_back(static_cast<uint8_t>(vr[0]));
    out_.push_back(static_cast<uint8_t>(vr[1]));
    if (IsLongFormVr(vr)) {
      Put16(0);
      Put32(length);
    } else {
      Put16(static_cast<uint16_t>(length));
    }
  }
  return *this;
}

DicomWriter& DicomWriter::Element(uint16_t group, uint16_t element, const char* vr, std::string_view value) {
  Header(group, element, vr, static_cast<uint32_t>(value.size()));
  out_.insert(out_.end(), value.begin(), value.end());
  return *this;
}
DicomWriter& DicomWriter::Element(uint16_t group, uint16_t element, const char* vr, const Bytes& value) {
  return Element(group, element, vr, std::string_view(reinterpret_cast<const char*>(value.data()), value.size()));
}
DicomWriter& DicomWriter::Text(uint16_t group, uint16_t element, const char* vr, std::string_view text) {
  std::string v(text);
  if (v.size() % 2) v.push_back(std::strcmp(vr, "UI") == 0 ? '\0' : ' ');
  return Element(group, element, vr, v);
}
DicomWriter& DicomWriter::U16(uint16_t group, uint16_t element, uint16_t value, const char* vr) {
  return U16s(group, element, {value}, vr);
}
DicomWriter& DicomWriter::U16s(uint16_t group, uint16_t element, const std::vector<uint16_t>& values,
                               const char* vr) {
  Header(group, element, vr, static_cast<uint32_t>(values.size() * 2));
  for (uint16_t v : values) Put16(v);
  return *this;
}
DicomWriter& DicomWriter::U32(uint16_t group, uint16_t element, uint32_t value, const char* vr) {
  Header(group, element, vr, 4);
  Put32(value);
  return *this;
}
DicomWriter& DicomWriter::F64(uint16_t group, uint16_t element, double value) {
  Header(group, element, "FD", 8);
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  if (syntax_ == 2) {
    Put32(static_cast<uint32_t>(bits >> 32));
    Put32(static_cast<uint32_t>(bits));
  } else {
    Put32(static_cast<uint32_t>(bits));
    Put32(static_cast<uint32_t>(bits >> 32));
  }
  return *this;
}

DicomWriter& DicomWriter::BeginSequence(uint16_t group, uint16_t element, bool undefinedLength, const char* vr) {
  Header(group, element, vr, undefinedLength ? 0xFFFFFFFFu : 0);
  open_.push_back({out_.size() - 4, out_.size(), undefinedLength, false});
  return *this;
}
DicomWriter& DicomWriter::EndSequence() {
  Open o = open_.back();
  open_.pop_back();
  if (o.undefined) {
    Tag(0xFFFE, 0xE0DD);
    Put32(0);
  } else {
    Patch32(o.lengthAt, static_cast<uint32_t>(out_.size() - o.valueStart));
  }
  return *this;
}
DicomWriter& DicomWriter::BeginItem(bool undefinedLength) {
  Tag(0xFFFE, 0xE000);
  Put32(undefinedLength ? 0xFFFFFFFFu : 0);
  open_.push_back({out_.size() - 4, out_.size(), undefinedLength, true});
  return *this;
}
DicomWriter& DicomWriter::EndItem() {
  Open o = open_.back();
  open_.pop_back();
  if (o.undefined) {
    Tag(0xFFFE, 0xE00D);
    Put32(0);
  } else {
    Patch32(o.lengthAt, static_cast<uint32_t>(out_.size() - o.valueStart));
  }
  return *this;
}

DicomWriter& DicomWriter::Encapsulated(const std::vector<Bytes>& fragments, bool withOffsetTable,
                                       const std::vector<uint32_t>& offsets) {
  Header(0x7FE0, 0x0010, "OB", 0xFFFFFFFFu);
  if (withOffsetTable) {
    Tag(0xFFFE, 0xE000);
    Put32(static_cast<uint32_t>(offsets.size() * 4));
    for (uint32_t o : offsets) {  // the offset table is always little endian in practice
      out_.push_back(o); out_.push_back(o >> 8); out_.push_back(o >> 16); out_.push_back(o >> 24);
    }
  }
  for (const Bytes& f : fragments) {
    Tag(0xFFFE, 0xE000);
    Put32(static_cast<uint32_t>(f.size()));
    out_.insert(out_.end(), f.begin(), f.end());
  }
  Tag(0xFFFE, 0xE0DD);
  Put32(0);
  return *this;
}
DicomWriter& DicomWriter::PixelData(const Bytes& pixels, const char* vr) {
  return Element(0x7FE0, 0x0010, vr, pixels);
}
DicomWriter& DicomWriter::Raw(const Bytes& bytes) {
  out_.insert(out_.end(), bytes.begin(), bytes.end());
  return *this;
}
DicomWriter& DicomWriter::Raw(std::string_view bytes) {
  out_.insert(out_.end(), bytes.begin(), bytes.end());
  return *this;
}

Bytes MakeMetaGroup(const std::string& transferSyntax, const std::string& sopClassUid) {
  DicomWriter body(1);
  body.Element(0x0002, 0x0001, "OB", std::string_view("\0\1", 2));
  body.Text(0x0002, 0x0002, "UI", sopClassUid);
  body.Text(0x0002, 0x0003, "UI", "1.2.3.4.5.6.7.8.9");
  if (!transferSyntax.empty()) body.Text(0x0002, 0x0010, "UI", transferSyntax);
  DicomWriter meta(1);
  meta.U32(0x0002, 0x0000, static_cast<uint32_t>(body.bytes().size()));
  meta.Raw(body.bytes());
  return meta.bytes();
}

Bytes MakeFile(const std::string& transferSyntax, const Bytes& dataset, bool preamble,
               const std::string& sopClassUid) {
  Bytes out;
  if (preamble) {
    out.assign(128, 0);
    out.insert(out.end(), {'D', 'I', 'C', 'M'});
    Bytes meta = MakeMetaGroup(transferSyntax, sopClassUid);
    out.insert(out.end(), meta.begin(), meta.end());
  }
  out.insert(out.end(), dataset.begin(), dataset.end());
  return out;
}

}  // namespace velmo::test
