#pragma once
// Helpers shared by the intake, loading-job and study-tree tests: small list-readable
// DICOM files and hand-filled list records.
#include <string>

#include "browser/file_table.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::test {

struct ListFile {
  std::string patientId = "P1";
  std::string patientName = "Doe^John";
  std::string studyUid = "1.2.3.1";
  std::string seriesUid = "1.2.3.1.1";
  std::string sopUid = "1.2.3.1.1.1";
  std::string studyDate = "20200101";
  std::string modality = "CT";
  std::string seriesNumber = "1";
  std::string instanceNumber = "1";
};

// An explicit little endian file with preamble, the list attributes and 8 bytes of pixels.
inline Bytes MakeListFile(const ListFile& f) {
  DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", f.sopUid)
      .Text(0x0008, 0x0020, "DA", f.studyDate)
      .Text(0x0008, 0x0060, "CS", f.modality)
      .Text(0x0010, 0x0010, "PN", f.patientName)
      .Text(0x0010, 0x0020, "LO", f.patientId)
      .Text(0x0020, 0x000D, "UI", f.studyUid)
      .Text(0x0020, 0x000E, "UI", f.seriesUid)
      .Text(0x0020, 0x0011, "IS", f.seriesNumber)
      .Text(0x0020, 0x0013, "IS", f.instanceNumber)
      .U16(0x0028, 0x0010, 2)
      .U16(0x0028, 0x0011, 2)
      .PixelData(Bytes(8, 0x11));
  return MakeFile("1.2.840.10008.1.2.1", w.bytes());
}

// Puts a record straight into the table as a finished read would leave it.
inline ListRecord& AddRecord(FileTable& table, const ListFile& f, const std::string& path = "") {
  const int32_t at = table.pendingEnd.load();
  table.Append(path.empty() ? "/mem/" + f.sopUid : path);
  ListRecord& r = table.entries[static_cast<size_t>(at)].record;
  r.characterSetValues[0] = "ISO 2022 IR 6";
  r.patientId = f.patientId;
  r.patientNameGroups[0] = f.patientName;
  r.studyInstanceUid = f.studyUid;
  r.seriesInstanceUid = f.seriesUid;
  r.sopInstanceUid = f.sopUid;
  r.studyDate = f.studyDate;
  r.modality = f.modality;
  r.seriesNumber = f.seriesNumber;
  r.instanceNumber = f.instanceNumber;
  table.validCount = table.pendingEnd.load();
  return r;
}

}  // namespace velmo::test
