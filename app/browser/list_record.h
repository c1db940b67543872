#pragma once
// ListRecord: one file's list attributes as fixed-width text fields (Shift-JIS bytes),
// filled by the list entry reader and grouped, sorted and shown by the study lists.
// Widths are the bytes of each field without its terminating zero; longer values are cut.
#include <cstdint>
#include <string>

#include "base/fixed_text.h"

namespace velmo {

struct ListRecord {
  FixedText<80> characterSetRaw;            // (0008,0005) raw value
  FixedText<16> characterSetValues[5];      // its values; "ISO 2022 IR 6" when missing or empty
  FixedText<64> sopInstanceUid;             // (0008,0018), duplicate key
  FixedText<10> studyDate;                  // (0008,0020)
  FixedText<16> studyTime;                  // (0008,0030)
  FixedText<16> seriesTime;                 // (0008,0031)
  FixedText<16> contentTime;                // (0008,0033)
  FixedText<16> accessionNumber;            // (0008,0050)
  FixedText<16> modality;                   // (0008,0060)
  FixedText<64> institutionName;            // (0008,0080), JIS converted
  FixedText<192> referringPhysicianRaw;     // (0008,0090)
  FixedText<64> referringPhysicianGroups[3];
  FixedText<64> studyDescription;           // (0008,1030), JIS converted
  FixedText<64> departmentName;             // (0008,1040), JIS converted
  FixedText<192> operatorsNameRaw;          // (0008,1070)
  FixedText<64> operatorsNameGroups[3];
  FixedText<192> patientNameRaw;            // (0010,0010)
  FixedText<64> patientNameGroups[3];
  FixedText<64> patientId;                  // (0010,0020), JIS converted, patient key
  FixedText<10> birthDate;                  // (0010,0030)
  FixedText<16> sex;                        // (0010,0040)
  FixedText<64> otherPatientIds;            // (0010,1000), JIS converted
  FixedText<4> patientAge;                  // (0010,1010)
  FixedText<16> bodyPart;                   // (0018,0015)
  FixedText<64> protocolName;               // (0018,1030), JIS converted
  FixedText<16> convolutionKernel;          // (0018,1210), JIS converted
  FixedText<16> receiveCoil;                // (0018,1250), JIS converted
  FixedText<64> studyInstanceUid;           // (0020,000D), study key
  FixedText<64> seriesInstanceUid;          // (0020,000E), series key
  FixedText<16> studyId;                    // (0020,0010)
  FixedText<12> seriesNumber;               // (0020,0011)
  FixedText<12> instanceNumber;             // (0020,0013)
  FixedText<16> sliceLocation;              // (0020,1041)
  FixedText<192> requestingPhysicianRaw;    // (0032,1032)
  FixedText<64> requestingPhysicianGroups[3];
  FixedText<64> requestingService;          // (0032,1033), JIS converted
  // The file path, filled by intake before reading. Kept whole: cutting a Linux path
  // at a fixed width would lose the file.
  std::string filePath;
};

// A ListRecord as the file table holds it: the record and its status byte, copied together.
struct FileTableEntry {
  ListRecord record;
  uint8_t status = 0;
};

}  // namespace velmo
