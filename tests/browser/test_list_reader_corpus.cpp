// The list entry reader over the public corpus and over series made with DCMTK.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "browser/list_reader.h"
#include "base/log.h"
#include "base/text.h"
#include "support/test_util.h"
#include "../dicom/test_dicomdir_builder.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;

// reference.tsv as rows of column name -> value.
std::vector<std::map<std::string, std::string>> ReadReference(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::vector<std::string> names;
  std::vector<std::map<std::string, std::string>> rows;
  auto split = [](const std::string& s) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    std::string cell;
    while (std::getline(ss, cell, '\t')) out.push_back(cell);
    if (!s.empty() && s.back() == '\t') out.push_back("");
    return out;
  };
  if (std::getline(in, line)) names = split(line);
  while (std::getline(in, line)) {
    const auto cells = split(line);
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < names.size() && i < cells.size(); ++i) row[names[i]] = cells[i];
    rows.push_back(std::move(row));
  }
  return rows;
}

TEST(ListReaderCorpus, AcceptsEveryFileWithPixelDataAndRejectsTheRest) {
  const std::string dir = test::TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public test corpus not found at " << VELMO_TESTDATA_DIR;
  const auto rows = ReadReference(dir + "/reference.tsv");
  ASSERT_GT(rows.size(), 50u);
  ListEntryReader reader(Log::Null());
  int accepted = 0;
  for (const auto& row : rows) {
    const std::string file = row.at("file");
    const std::string pixel = row.count("pixel_data") ? row.at("pixel_data") : "";
    // A file with a meta group but no transfer syntax is taken as explicit little
    // endian; this one is implicit and has no (0008,0018) for the probe to find.
    const bool unguessable = file == "pydicom/meta_missing_tsyntax.dcm";
    const bool expected = pixel.rfind("PixelData ", 0) == 0 && !unguessable;
    ListRecord r;
    r.filePath = dir + "/" + file;
    const bool ok = reader.Read(r.filePath, r);
    EXPECT_EQ(ok, expected) << file << " (" << pixel << ") " << Utf8FromSjis(reader.failureMessage());
    if (!ok) EXPECT_EQ(reader.failureMessage(), SJ("未対応のフォーマットです")) << file;
    if (ok) {
      ++accepted;
      const std::string modality = row.count("modality") ? row.at("modality") : "";
      if (!modality.empty()) {
        std::string got(r.modality.view());
        while (!got.empty() && got.back() == ' ') got.pop_back();
        EXPECT_EQ(got, modality) << file;
      }
    }
  }
  EXPECT_GT(accepted, 70);

  // The corpus' documentation is not an image.
  ListRecord r;
  EXPECT_FALSE(reader.Read(dir + "/MANIFEST.md", r));
  EXPECT_EQ(reader.failureMessage(), SJ("未対応のフォーマットです"));
}

TEST(ListReaderCorpus, JapaneseNamesOfTheCharacterSetSamples) {
  const std::string dir = test::TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public test corpus not found at " << VELMO_TESTDATA_DIR;
  ListEntryReader reader(Log::Null());
  ListRecord r;
  ASSERT_TRUE(reader.Read(dir + "/pydicom/charset/chrH31.dcm", r));
  EXPECT_EQ(r.patientNameGroups[0].view(), "Yamada Tarou");
  EXPECT_EQ(Utf8FromSjis(r.patientNameGroups[1].view()), "山田 太郎");
  EXPECT_EQ(Utf8FromSjis(r.patientNameGroups[2].view()), "やまだ たろう");
  EXPECT_EQ(r.characterSetValues[0].view(), "ISO 2022 IR 6");
  EXPECT_EQ(r.characterSetValues[1].view(), "ISO 2022 IR 87 ");
}

TEST(ListReaderGenerated, ReadsSeriesMadeWithDcmtk) {
  if (!test::HaveTools({"dump2dcm"})) GTEST_SKIP() << "DCMTK's dump2dcm is not installed";
  test::TempDir dir;
  ListEntryReader reader(Log::Null());
  int n = 0;
  for (int p = 1; p <= 2; ++p) {
    for (int s = 1; s <= 2; ++s) {
      const std::string study = "1.2.826.0.1.9." + std::to_string(p);
      const std::string series = study + "." + std::to_string(s);
      for (int i = 1; i <= 2; ++i) {
        const std::string path = test::MakeCtFile(dir.path(), "IM" + std::to_string(++n), "PAT" + std::to_string(p),
                                            "Patient^" + std::to_string(p), study, series, i, 64, 64);
        ASSERT_FALSE(path.empty()) << "dump2dcm failed";
        ListRecord r;
        r.filePath = path;
        ASSERT_TRUE(reader.Read(path, r)) << Utf8FromSjis(reader.failureMessage());
        EXPECT_EQ(r.patientId.view(), "PAT" + std::to_string(p));
        EXPECT_EQ(r.patientNameGroups[0].view(), "Patient " + std::to_string(p) + " ");  // padded to even length
        EXPECT_EQ(std::string(r.seriesInstanceUid.view()), series);
        EXPECT_EQ(std::string(r.instanceNumber.view()).substr(0, 1), std::to_string(i));
        EXPECT_EQ(reader.readAttempts(), 1);
      }
    }
  }
  // A 1024 x 600 image keeps its pixel data element in the first 8 KiB.
  const std::string large = test::MakeCtFile(dir.path(), "LARGE", "P", "N", "1.2.3", "1.2.3.4", 1, 1024, 600);
  ASSERT_FALSE(large.empty());
  ListRecord r;
  ASSERT_TRUE(reader.Read(large, r));
  EXPECT_EQ(reader.readAttempts(), 1);
  EXPECT_EQ(reader.readSize(), 8192u);
}

}  // namespace
}  // namespace velmo
