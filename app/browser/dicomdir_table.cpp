#include "browser/dicomdir_table.h"

namespace velmo {

void FillListRecord(const DicomDirImage& image, ListRecord& r) {
  r = ListRecord{};
  r.characterSetRaw = image.characterSetRaw.view();
  for (int i = 0; i < 5; ++i) r.characterSetValues[i] = image.characterSetValues[i].view();
  r.patientId = image.patientId.view();
  r.patientNameRaw = image.patientNameRaw.view();
  for (int g = 0; g < 3; ++g) r.patientNameGroups[g] = image.patientNameGroups[g].view();
  r.studyDate = image.studyDate.view();
  r.studyTime = image.studyTime.view();
  r.accessionNumber = image.accessionNumber.view();
  r.studyInstanceUid = image.studyInstanceUid.view();
  r.seriesTime = image.seriesTime.view();
  r.modality = image.modality.view();
  r.bodyPart = image.bodyPart.view();
  r.protocolName = image.protocolName.view();
  r.convolutionKernel = image.convolutionKernel.view();
  r.receiveCoil = image.receiveCoil.view();
  r.seriesNumber = image.seriesNumber.view();
  r.seriesInstanceUid = image.seriesInstanceUid.view();
  r.instanceNumber = image.instanceNumber.view();
  r.sopInstanceUid = image.sopInstanceUid.view();
  r.filePath = image.filePath;
}

int32_t FileTableDicomDirSink::Capacity() const {
  const int64_t configured = table_.capacity > 0 ? table_.capacity : 5000;  // "最大数" <= 0 means 5000
  const int64_t room = table_.Room();
  return static_cast<int32_t>(configured < room ? configured : room);
}

void FileTableDicomDirSink::Append(const DicomDirImage& image) {
  const int32_t at = table_.pendingEnd.load();
  if (at < 0 || at >= Capacity() || !table_.EnsureEntry(at)) return;
  FileTableEntry& e = table_.entries[static_cast<size_t>(at)];
  FillListRecord(image, e.record);
  e.status = 0;
  table_.pendingEnd = at + 1;
  table_.validCount = at + 1;
}

bool ReadDicomDirIntoTable(FileTable& table, const std::string& path, const DicomDirOptions& options) {
  FileTableDicomDirSink sink(table);
  return ReadDicomDir(path, sink, options);
}

}  // namespace velmo
