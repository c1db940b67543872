// The DICOMDIR reader over the public corpus' DICOMDIRs and over one made with dcmmkdir.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "browser/list_reader.h"
#include "dicom/dicomdir.h"
#include "base/log.h"
#include "support/test_util.h"
#include "test_dicomdir_builder.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;

// The number of lines of a dcmdump listing that contain `text`.
int CountInListing(const std::string& path, const std::string& text) {
  std::ifstream in(path);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) n += line.find(text) != std::string::npos;
  return n;
}

// Every entry must name a file whose own SOP instance UID is the one the record references.
void ExpectEntriesMatchTheirFiles(const std::vector<DicomDirImage>& images) {
  ListEntryReader reader(Log::Null());
  for (const DicomDirImage& im : images) {
    ListRecord r;
    r.filePath = im.filePath;
    ASSERT_TRUE(reader.Read(im.filePath, r)) << im.filePath;
    EXPECT_EQ(r.sopInstanceUid.view(), im.sopInstanceUid.view()) << im.filePath;
    EXPECT_EQ(r.seriesInstanceUid.view(), im.seriesInstanceUid.view()) << im.filePath;
    EXPECT_EQ(r.studyInstanceUid.view(), im.studyInstanceUid.view()) << im.filePath;
  }
}

TEST(DicomDirCorpus, TheSampleDirectoriesInAllThreeEncodings) {
  const std::string dir = test::TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public test corpus not found at " << VELMO_TESTDATA_DIR;
  const std::string folder = dir + "/pydicom/dicomdirtests/";
  for (const char* name : {"DICOMDIR", "DICOMDIR-implicit", "DICOMDIR-bigEnd"}) {
    SCOPED_TRACE(name);
    const std::string listing = dir + "/dcmdump/pydicom/dicomdirtests/" + name + ".txt";
    const int expected = CountInListing(listing, "(0004,1430) CS [IMAGE]");
    ASSERT_EQ(expected, 31);
    test::VectorSink sink;
    ASSERT_TRUE(ReadDicomDir(folder + name, sink));
    ASSERT_EQ(static_cast<int>(sink.images.size()), expected);
    std::set<std::string> patients, studies, series, paths;
    for (const DicomDirImage& im : sink.images) {
      patients.insert(std::string(im.patientId.view()));
      studies.insert(std::string(im.studyInstanceUid.view()));
      series.insert(std::string(im.seriesInstanceUid.view()));
      paths.insert(im.filePath);
      EXPECT_TRUE(fs::is_regular_file(im.filePath)) << im.filePath;
    }
    EXPECT_EQ(patients.size(), 2u);
    EXPECT_EQ(static_cast<int>(studies.size()), CountInListing(listing, "(0004,1430) CS [STUDY]"));
    EXPECT_EQ(static_cast<int>(series.size()), CountInListing(listing, "(0004,1430) CS [SERIES]"));
    EXPECT_EQ(paths.size(), 31u);
    EXPECT_EQ(sink.images[0].filePath, folder + "77654033/CR1/6154");
    EXPECT_EQ(sink.images[0].patientId.view(), "77654033");
    EXPECT_EQ(sink.images[0].patientNameGroups[0].view(), "Doe Archibald ");
    ExpectEntriesMatchTheirFiles(sink.images);
  }
}

TEST(DicomDirGenerated, ADirectoryMadeWithDcmmkdir) {
  if (!test::HaveTools({"dump2dcm", "dcmmkdir"})) GTEST_SKIP() << "DCMTK's dump2dcm or dcmmkdir is not installed";
  test::TempDir dir;
  // Three patients; two studies each; two series per study; three images per series,
  // in folders with upper-case names as media are written.
  int files = 0;
  for (int p = 1; p <= 3; ++p) {
    for (int s = 1; s <= 2; ++s) {
      for (int e = 1; e <= 2; ++e) {
        const std::string sub = "P" + std::to_string(p) + "/S" + std::to_string(s) + "/E" + std::to_string(e);
        fs::create_directories(dir.path() + "/" + sub);
        const std::string study = "1.2.826.0.1.7." + std::to_string(p) + "." + std::to_string(s);
        for (int i = 1; i <= 3; ++i) {
          ASSERT_FALSE(test::MakeCtFile(dir.path(), sub + "/IM" + std::to_string(i), "PID" + std::to_string(p),
                                        "Name^" + std::to_string(p), study, study + "." + std::to_string(e), i, 8, 8)
                           .empty());
          ++files;
        }
      }
    }
  }
  const std::string cmd = "cd '" + dir.path() + "' && dcmmkdir -q +r -Pgp +I P1 P2 P3 >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << "dcmmkdir failed";
  test::VectorSink sink;
  ASSERT_TRUE(ReadDicomDir(dir.File("DICOMDIR"), sink));
  ASSERT_EQ(static_cast<int>(sink.images.size()), files);
  std::set<std::string> patients, studies, series;
  for (const DicomDirImage& im : sink.images) {
    patients.insert(std::string(im.patientId.view()));
    studies.insert(std::string(im.studyInstanceUid.view()));
    series.insert(std::string(im.seriesInstanceUid.view()));
    EXPECT_EQ(im.modality.view(), "CT");
  }
  EXPECT_EQ(patients.size(), 3u);
  EXPECT_EQ(studies.size(), 6u);
  EXPECT_EQ(series.size(), 12u);
  ExpectEntriesMatchTheirFiles(sink.images);

  // The same media with lower-case names on disk, as some systems mount them.
  for (int p = 1; p <= 3; ++p) {
    const std::string from = dir.path() + "/P" + std::to_string(p);
    fs::rename(from, dir.path() + "/p" + std::to_string(p));
  }
  test::VectorSink lower;
  ASSERT_TRUE(ReadDicomDir(dir.File("DICOMDIR"), lower));
  ASSERT_EQ(static_cast<int>(lower.images.size()), files);
  for (const DicomDirImage& im : lower.images) EXPECT_EQ(im.filePath.substr(dir.path().size(), 2), "/p") << im.filePath;
  ExpectEntriesMatchTheirFiles(lower.images);
}

}  // namespace
}  // namespace velmo
