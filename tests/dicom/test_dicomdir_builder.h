#pragma once
// Builds DICOMDIR files in memory for the DICOMDIR tests: directory records in file
// order, each knowing its parent; next and lower offsets are computed from that
// (next: the following record with the same parent; lower: the first child) unless a
// test forces raw values to build damaged directories.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dicom/dicomdir.h"
#include "support/dicom_writer.h"

namespace velmo::test {

struct DirRecord {
  std::string type;  // as stored: "PATIENT ", "STUDY ", "SERIES", "IMAGE ", ...
  int parent = -1;
  uint16_t inUse = 0xFFFF;
  bool hasInUse = true;
  struct Attr { uint16_t group, element; std::string vr, text; };
  std::vector<Attr> attrs;
  std::optional<uint32_t> next, lower;  // raw file offsets that replace the computed ones
};

class DicomDirBuilder {
 public:
  explicit DicomDirBuilder(int syntax = 1, bool preamble = true) : syntax_(syntax), preamble_(preamble) {}

  int Add(std::string type, int parent, std::vector<DirRecord::Attr> attrs = {}) {
    DirRecord r;
    r.type = std::move(type);
    r.parent = parent;
    r.attrs = std::move(attrs);
    records.push_back(std::move(r));
    return static_cast<int>(records.size()) - 1;
  }
  int Patient(const std::string& id, const std::string& name) {
    return Add("PATIENT ", -1, {{0x0010, 0x0010, "PN", name}, {0x0010, 0x0020, "LO", id}});
  }
  int Study(int patient, const std::string& uid, const std::string& date = "20240101") {
    return Add("STUDY ", patient, {{0x0008, 0x0020, "DA", date}, {0x0020, 0x000D, "UI", uid}});
  }
  int Series(int study, const std::string& uid, const std::string& modality = "CT") {
    return Add("SERIES", study, {{0x0008, 0x0060, "CS", modality}, {0x0020, 0x000E, "UI", uid}});
  }
  int Image(int series, const std::string& fileId, const std::string& number = "1") {
    return Add("IMAGE ", series, {{0x0004, 0x1500, "CS", fileId}, {0x0004, 0x1511, "UI", "1.2.9." + number},
                                  {0x0020, 0x0013, "IS", number}});
  }

  // The whole file. After Build, offsets[i] is the file offset of record i.
  Bytes Build(const std::string& mediaClass = "1.2.840.10008.1.3.10") {
    Layout(mediaClass, /*measure=*/true);
    return Layout(mediaClass, /*measure=*/false);
  }

  std::vector<DirRecord> records;
  std::vector<uint32_t> offsets;
  bool withFirstRecordOffset = true;  // write (0004,1200)
  std::string transferSyntax;         // the meta group's UID; empty: the one of the syntax

 private:
  std::string TransferSyntax() const {
    if (!transferSyntax.empty()) return transferSyntax;
    return syntax_ == 0 ? "1.2.840.10008.1.2" : syntax_ == 2 ? "1.2.840.10008.1.2.2" : "1.2.840.10008.1.2.1";
  }
  uint32_t NextOf(size_t i) const {
    if (records[i].next) return *records[i].next;
    for (size_t j = i + 1; j < records.size(); ++j)
      if (records[j].parent == records[i].parent) return offsets[j];
    return 0;
  }
  uint32_t LowerOf(size_t i) const {
    if (records[i].lower) return *records[i].lower;
    for (size_t j = i + 1; j < records.size(); ++j)
      if (records[j].parent == static_cast<int>(i)) return offsets[j];
    return 0;
  }
  Bytes Layout(const std::string& mediaClass, bool measure) {
    Bytes prefix;
    if (preamble_) {
      prefix.assign(128, 0);
      prefix.insert(prefix.end(), {'D', 'I', 'C', 'M'});
      const Bytes meta = MakeMetaGroup(TransferSyntax(), mediaClass);
      prefix.insert(prefix.end(), meta.begin(), meta.end());
    }
    if (measure) offsets.assign(records.size(), 0);
    uint32_t firstRoot = 0;
    for (size_t i = 0; i < records.size(); ++i)
      if (records[i].parent < 0) { firstRoot = offsets[i]; break; }
    DicomWriter w(syntax_);
    w.Text(0x0004, 0x1130, "CS", "TESTSET");
    if (withFirstRecordOffset) w.U32(0x0004, 0x1200, firstRoot, "UL");
    w.U32(0x0004, 0x1202, 0, "UL");
    w.U16(0x0004, 0x1212, 0);
    w.BeginSequence(0x0004, 0x1220, false);
    for (size_t i = 0; i < records.size(); ++i) {
      if (measure) offsets[i] = static_cast<uint32_t>(prefix.size() + w.bytes().size());
      const DirRecord& r = records[i];
      w.BeginItem(false);
      w.U32(0x0004, 0x1400, measure ? 0 : NextOf(i), "UL");
      if (r.hasInUse) w.U16(0x0004, 0x1410, r.inUse);
      w.U32(0x0004, 0x1420, measure ? 0 : LowerOf(i), "UL");
      w.Text(0x0004, 0x1430, "CS", r.type);
      for (const auto& a : r.attrs) w.Text(a.group, a.element, a.vr.c_str(), a.text);
      w.EndItem();
    }
    w.EndSequence();
    Bytes out = prefix;
    out.insert(out.end(), w.bytes().begin(), w.bytes().end());
    return out;
  }

  int syntax_;
  bool preamble_;
};

// Collects what the reader yields, up to a capacity.
class VectorSink final : public DicomDirSink {
 public:
  explicit VectorSink(int32_t capacity = 5000) : capacity_(capacity) {}
  int32_t Capacity() const override { return capacity_; }
  int32_t Count() const override { return static_cast<int32_t>(images.size()); }
  void Append(const DicomDirImage& image) override { images.push_back(image); }
  std::vector<DicomDirImage> images;

 private:
  int32_t capacity_;
};

// DICOM files made at test time with DCMTK.
inline bool HaveTools(std::initializer_list<const char*> tools) {
  for (const char* t : tools) {
    const std::string cmd = std::string("command -v ") + t + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
  }
  return true;
}

// Builds one CT image with dump2dcm and returns its path.
inline std::string MakeCtFile(const std::string& folder, const std::string& name, const std::string& patientId,
                       const std::string& patientName, const std::string& study, const std::string& series,
                       int instance, int rows, int columns) {
  const std::string dump = folder + "/" + name + ".txt";
  std::ofstream out(dump);
  out << "(0002,0010) UI =LittleEndianExplicit\n"
      << "(0008,0016) UI =CTImageStorage\n"
      << "(0008,0018) UI [" << series << "." << instance << "]\n"
      << "(0008,0020) DA [20240101]\n(0008,0030) TM [101010]\n(0008,0060) CS [CT]\n"
      << "(0010,0010) PN [" << patientName << "]\n(0010,0020) LO [" << patientId << "]\n"
      << "(0020,000d) UI [" << study << "]\n(0020,000e) UI [" << series << "]\n"
      << "(0020,0011) IS [1]\n(0020,0013) IS [" << instance << "]\n"
      << "(0028,0002) US 1\n(0028,0004) CS [MONOCHROME2]\n(0028,0010) US " << rows << "\n(0028,0011) US "
      << columns << "\n(0028,0100) US 16\n(0028,0101) US 12\n(0028,0102) US 11\n(0028,0103) US 0\n";
  out.close();
  // Pixel data appended by dump2dcm from a generated raw file.
  const std::string raw = folder + "/" + name + ".raw";
  {
    std::ofstream px(raw, std::ios::binary);
    std::string zeros(static_cast<size_t>(rows) * columns * 2, '\0');
    px.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  {
    std::ofstream app(dump, std::ios::app);
    app << "(7fe0,0010) OW =" << raw << "\n";
  }
  const std::string path = folder + "/" + name;
  const std::string cmd = "dump2dcm -q +E --write-xfer-little '" + dump + "' '" + path + "' 2>&1";
  if (std::system(cmd.c_str()) != 0) return "";
  std::filesystem::remove(dump);
  std::filesystem::remove(raw);
  return path;
}

}  // namespace velmo::test
