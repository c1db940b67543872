// A DICOMDIR read into the file table.
#include <gtest/gtest.h>

#include "browser/dicomdir_table.h"
#include "base/text.h"
#include "support/test_util.h"
#include "../dicom/test_dicomdir_builder.h"

namespace velmo {
namespace {

test::Bytes ThreePatients(int imagesEach) {
  test::DicomDirBuilder b;
  for (int p = 1; p <= 3; ++p) {
    const int se = b.Series(b.Study(b.Patient("P" + std::to_string(p), "Name^" + std::to_string(p)), "1." + std::to_string(p)),
                            "1." + std::to_string(p) + ".1", "MR");
    for (int i = 1; i <= imagesEach; ++i) b.Image(se, "D" + std::to_string(p) + "\\I" + std::to_string(i));
  }
  return b.Build();
}

TEST(DicomDirIntoTable, AppendsAtPendingEndUpToTheCapacity) {
  FileTable table;
  table.entries.resize(4);
  table.capacity = 4;
  table.entries[0].record.filePath = "/kept";
  table.pendingEnd = 1;
  table.validCount = 1;
  MemoryFileSource files;
  files.Add("/cd/DICOMDIR", ThreePatients(1));
  test::RecordingNotifier notifier;
  DicomDirOptions options;
  options.files = &files;
  options.notifier = &notifier;
  options.matchCase = false;
  ASSERT_TRUE(ReadDicomDirIntoTable(table, "/cd/DICOMDIR", options));
  EXPECT_EQ(table.pendingEnd.load(), 4);
  EXPECT_EQ(table.validCount.load(), 4);  // no loading job follows: every entry is valid
  EXPECT_TRUE(notifier.entries.empty());
  EXPECT_EQ(table.entries[0].record.filePath, "/kept");
  const ListRecord& r = table.entries[3].record;
  EXPECT_EQ(r.filePath, "/cd/D3/I1");
  EXPECT_EQ(r.patientId.view(), "P3");
  EXPECT_EQ(r.patientNameGroups[0].view(), "Name 3");
  EXPECT_EQ(r.studyInstanceUid.view(), "1.3");
  EXPECT_EQ(r.seriesInstanceUid.view(), "1.3.1");
  EXPECT_EQ(r.modality.view(), "MR");
  EXPECT_EQ(r.sopInstanceUid.view(), "1.2.9.1");
  EXPECT_EQ(r.characterSetValues[0].view(), "ISO 2022 IR 6");

  // One more image than fits: the limit message names the table's capacity.
  table.Clear();
  files.Add("/cd/DICOMDIR", ThreePatients(2));
  ASSERT_TRUE(ReadDicomDirIntoTable(table, "/cd/DICOMDIR", options));
  EXPECT_EQ(table.pendingEnd.load(), 4);
  ASSERT_EQ(notifier.entries.size(), 1u);
  EXPECT_EQ(notifier.entries[0].message, SJ("DICOMDIRの画像数が設定値（4）を超えました"));
}

TEST(DicomDirIntoTable, AnUnsetCapacityNeverWritesPastTheEntries) {
  FileTable table;
  table.entries.resize(2);
  table.capacity = 0;  // "最大数" <= 0 stands for 5000, but only two entries exist
  MemoryFileSource files;
  files.Add("/cd/DICOMDIR", ThreePatients(1));
  DicomDirOptions options;
  options.files = &files;
  options.matchCase = false;
  ASSERT_TRUE(ReadDicomDirIntoTable(table, "/cd/DICOMDIR", options));
  EXPECT_EQ(table.pendingEnd.load(), 2);
}

}  // namespace
}  // namespace velmo
