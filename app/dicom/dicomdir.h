#pragma once
// The DICOMDIR reader: walks the directory records of a DICOMDIR file and yields one
// entry per IMAGE record, carrying the values of the PATIENT, STUDY and SERIES
// records above it and the path of the referenced file. The referenced files are
// not read here.
//
// The reader knows nothing of the file table: it hands every image to a sink, and
// the browser's sink appends it to the table (browser/dicomdir_table.h).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "dicom/file_source.h"
#include "base/fixed_text.h"
#include "base/log.h"
#include "base/notifier.h"

namespace velmo {

// What one IMAGE record yields. Text is Shift-JIS; widths are those of the list record.
struct DicomDirImage {
  // PATIENT record
  FixedText<80> characterSetRaw;        // (0008,0005) whole value
  FixedText<16> characterSetValues[5];  // its values; the first is "ISO 2022 IR 6" when empty or absent
  FixedText<64> patientId;              // (0010,0020), JIS converted, trailing spaces removed
  FixedText<192> patientNameRaw;        // (0010,0010) as stored
  FixedText<64> patientNameGroups[3];   // its three converted component groups
  // STUDY record
  FixedText<10> studyDate;              // (0008,0020)
  FixedText<16> studyTime;              // (0008,0030)
  FixedText<16> accessionNumber;        // (0008,0050), JIS converted, trailing spaces removed
  FixedText<64> studyInstanceUid;       // (0020,000D)
  // SERIES record
  FixedText<16> seriesTime;             // (0008,0031)
  FixedText<16> modality;               // (0008,0060)
  FixedText<16> bodyPart;               // (0018,0015)
  FixedText<64> protocolName;           // (0018,1030)
  FixedText<16> convolutionKernel;      // (0018,1210)
  FixedText<16> receiveCoil;            // (0018,1250)
  FixedText<12> seriesNumber;           // (0020,0011)
  FixedText<64> seriesInstanceUid;      // (0020,000E)
  // IMAGE record
  FixedText<12> instanceNumber;         // (0020,0013)
  FixedText<64> sopInstanceUid;         // (0004,1511) referenced SOP instance UID in file
  std::string filePath;                 // the DICOMDIR's folder + the referenced file ID ("\" -> "/")
};

// Where the images of a DICOMDIR go.
class DicomDirSink {
 public:
  virtual ~DicomDirSink() = default;
  // The configured maximum number of entries (already resolved: > 0).
  virtual int32_t Capacity() const = 0;
  // How many entries the destination holds now.
  virtual int32_t Count() const = 0;
  // Appends one image; only called while Count() < Capacity().
  virtual void Append(const DicomDirImage& image) = 0;
};

struct DicomDirOptions {
  const Log* log = &Log::Null();
  Notifier* notifier = nullptr;
  FileSource* files = nullptr;  // null: the disk
  // When the referenced file does not exist as stored, look for each path component
  // ignoring ASCII case (media written elsewhere often store upper-case IDs while
  // the mounted files are lower case). Uses the real file system.
  bool matchCase = true;
  // Called after a DICOMDIR was parsed ("repaint the main window").
  std::function<void()> repaint;
};

// Reads the file at `path`; when it is a DICOMDIR (Media Storage SOP Class UID
// 1.2.840.10008.1.3.10) walks its records into `sink`. Returns true when the file was
// read and was a DICOMDIR (even one with no images), false otherwise.
bool ReadDicomDir(const std::string& path, DicomDirSink& sink, const DicomDirOptions& options = {});

// Walks the directory records of a DICOMDIR image. `buffer`/`length`: the file after
// its preamble; `preambleSize`: 132 or 0 (the file offsets are reduced by it);
// `syntax`: the SyntaxType of the data set; `path`: the DICOMDIR's path, whose folder
// prefixes every referenced file ID. Returns the number of images appended.
int32_t ParseDicomDirRecords(const uint8_t* buffer, uint64_t length, int32_t preambleSize, int syntax,
                             const std::string& path, DicomDirSink& sink, const DicomDirOptions& options = {});

// The folder part of a path including its last "/" ("" when there is none).
std::string FolderOf(std::string_view path);

// Builds the path of a referenced file: `folder` followed by the components of
// `fileId` (separated by "\") joined with "/". Trailing spaces and NULs (value
// padding) are dropped. Returns false, leaving `out` empty, when the ID is empty or
// has an empty or ".." component. With matchCase, components that do not exist as
// stored are replaced by the single entry of their folder that equals them ignoring
// ASCII case (the first in byte order when several do).
bool ReferencedFilePath(const std::string& folder, std::string_view fileId, bool matchCase, std::string& out);

}  // namespace velmo
