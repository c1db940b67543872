#pragma once
// Reading a DICOMDIR into the file table: every IMAGE record becomes one list record
// appended at pendingEnd (validCount follows, since these records need no loading
// job). The table's capacity is the configured maximum ("リスト" "最大数"; <= 0
// means 5000); reaching it ends the walk with the reader's limit message.
#include <string>

#include "browser/file_table.h"
#include "dicom/dicomdir.h"

namespace velmo {

// Copies what a DICOMDIR image record yields into a zeroed list record (path included).
void FillListRecord(const DicomDirImage& image, ListRecord& out);

class FileTableDicomDirSink final : public DicomDirSink {
 public:
  explicit FileTableDicomDirSink(FileTable& table) : table_(table) {}
  int32_t Capacity() const override;
  int32_t Count() const override { return table_.pendingEnd.load(); }
  void Append(const DicomDirImage& image) override;

 private:
  FileTable& table_;
};

// ReadDicomDir over the table. True when the file was a DICOMDIR and was walked.
bool ReadDicomDirIntoTable(FileTable& table, const std::string& path, const DicomDirOptions& options = {});

}  // namespace velmo
