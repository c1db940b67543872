// velmo-cli list on series generated with DCMTK (folders and a DICOMDIR over them) and
// on the public corpus: counts at every level and the order of each configured sort key.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "support/test_util.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct CliRun {
  int status = -1;
  std::vector<std::vector<std::string>> rows;  // TSV rows after the title row
  std::vector<std::string> titles;
  std::string err;
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::string cell;
  std::istringstream in(line);
  while (std::getline(in, cell, '\t')) out.push_back(cell);
  if (!line.empty() && line.back() == '\t') out.emplace_back();
  return out;
}

CliRun List(const std::string& home, const std::string& args) {
  const test::CommandResult r = test::RunCommand("VELMO_HOME=" + test::ShellQuote(home + "/") + " " +
                                                 test::ShellQuote(test::CliPath()) + " list " + args);
  CliRun run;
  run.status = r.status;
  run.err = r.err;
  std::istringstream lines(r.out);
  std::string line;
  bool first = true;
  while (std::getline(lines, line)) {
    if (first) {
      run.titles = SplitTabs(line);
      first = false;
    } else {
      run.rows.push_back(SplitTabs(line));
    }
  }
  return run;
}

struct Study {
  const char* patientId;
  const char* name;
  const char* date;
  const char* time;
  const char* modality;
  std::vector<std::pair<int, int>> series;  // series number, image count
};

// Three patients, four studies, six series, ten images; study k lives in P<patient>/S<k>.
const std::vector<Study>& Studies() {
  static const std::vector<Study> s = {
      {"PAT2", "Zeta^Ann", "20200105", "090000", "CT", {{10, 2}, {9, 2}}},
      {"PAT1", "Beta^Bob", "20190101", "120000", "MR", {{1, 3}}},
      {"PAT1", "Beta^Bob", "20200103", "080000", "US", {{1, 1}}},
      {"PAT3", "Alpha^Cy", "20210707", "100000", "OT", {{2, 1}, {1, 1}}},
  };
  return s;
}

class ListGenerated : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("dump2dcm") || !HaveTool("dcmmkdir")) GTEST_SKIP() << "DCMTK's dump2dcm/dcmmkdir are not installed";
    data_ = dir_.File("data");
    int sop = 0;
    for (size_t k = 0; k < Studies().size(); ++k) {
      const Study& st = Studies()[k];
      for (size_t e = 0; e < st.series.size(); ++e) {
        const std::string folder = data_ + "/P" + std::string(st.patientId).substr(3) + "/S" + std::to_string(k + 1) +
                                   "/E" + std::to_string(e + 1);
        fs::create_directories(folder);
        for (int i = 0; i < st.series[e].second; ++i) {
          ++sop;
          const std::string root = "1.2.826.0.1.3680043.9.7777.";
          std::ostringstream d;
          d << "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n"
            << "(0008,0018) UI [" << root << "3." << sop << "]\n"
            << "(0008,0020) DA [" << st.date << "]\n"
            << "(0008,0030) TM [" << st.time << "]\n"
            << "(0008,0050) SH [ACC" << k << "]\n"
            << "(0008,0060) CS [" << st.modality << "]\n"
            << "(0008,0064) CS [WSD]\n"
            << "(0010,0010) PN [" << st.name << "]\n"
            << "(0010,0020) LO [" << st.patientId << "]\n"
            << "(0020,000d) UI [" << root << "1." << k << "]\n"
            << "(0020,000e) UI [" << root << "2." << k << "." << e << "]\n"
            << "(0020,0010) SH [" << k << "]\n"
            << "(0020,0011) IS [" << st.series[e].first << "]\n"
            << "(0020,0013) IS [" << (st.series[e].second - i) << "]\n"
            << "(0028,0002) US 1\n(0028,0004) CS [MONOCHROME2]\n(0028,0010) US 2\n(0028,0011) US 2\n"
            << "(0028,0100) US 16\n(0028,0101) US 16\n(0028,0102) US 15\n(0028,0103) US 0\n"
            << "(7fe0,0010) OW 0001\\0002\\0003\\0004\n";
          const std::string dump = dir_.File("dump.txt");
          test::WriteText(dump, d.str());
          const std::string file = folder + "/I" + std::to_string(i + 1);
          ASSERT_EQ(std::system(("dump2dcm " + test::ShellQuote(dump) + " " + test::ShellQuote(file) + " >/dev/null 2>&1").c_str()), 0);
        }
      }
    }
    const std::string mk = "cd " + test::ShellQuote(data_) + " && dcmmkdir +r -Pgp P1 P2 P3 >/dev/null 2>&1";
    ASSERT_EQ(std::system(mk.c_str()), 0);
    ASSERT_TRUE(fs::exists(data_ + "/DICOMDIR"));
    // Beside the data: a copy of one file (a duplicate) and a file that is no image.
    fs::create_directories(dir_.File("extra"));
    fs::copy_file(data_ + "/P2/S1/E1/I1", dir_.File("extra/copy"));
    test::WriteText(dir_.File("extra/notes.txt"), "not an image");
    home_ = dir_.File("home");
  }

  void Install(const std::string& sortIni) { test::MakeInstallation(home_, sortIni); }

  test::TempDir dir_;
  std::string data_, home_;
};

TEST_F(ListGenerated, CountsAtEveryLevelFromFoldersAndFromTheDicomdir) {
  Install("[ソート]\n１位=患者ID\n２位=検査日\n");
  const std::string folders = test::ShellQuote(data_) + " " + test::ShellQuote(dir_.File("extra"));
  const std::string dicomdir = test::ShellQuote(data_ + "/DICOMDIR");
  const std::pair<const char*, size_t> levels[] = {{"patient", 3}, {"study", 4}, {"series", 6}, {"image", 10}};
  for (const auto& [level, count] : levels) {
    for (const std::string& args : {folders, dicomdir}) {
      const CliRun r = List(home_, args + " --level " + level);
      EXPECT_EQ(r.status, 0) << args << " " << level << "\n" << r.err;
      EXPECT_EQ(r.rows.size(), count) << args << " " << level << "\n" << r.err;
      ASSERT_EQ(r.titles.size(), 16u);
      for (const auto& row : r.rows) EXPECT_EQ(row.size(), 16u);
    }
  }
  const CliRun files = List(home_, folders + " --level image");
  EXPECT_NE(files.err.find("duplicates 1"), std::string::npos) << files.err;
  EXPECT_EQ(files.titles[0], "ID");
  EXPECT_EQ(files.titles[10], "ｺﾝﾎﾞﾘｭｰｼｮﾝｶｰﾈﾙ");
  EXPECT_EQ(files.titles[15], "ﾌｧｲﾙ名");
  // Image rows of the first study: series 9 before 10, images by instance number.
  ASSERT_GE(files.rows.size(), 4u);
  std::vector<std::string> seriesImage;
  for (size_t i = 0; i < files.rows.size(); ++i)
    if (files.rows[i][0] == "PAT2") seriesImage.push_back(files.rows[i][6] + "/" + files.rows[i][12]);
  EXPECT_EQ(seriesImage, (std::vector<std::string>{"9/1", "9/2", "10/1", "10/2"}));
  // The study level leaves the series and image columns empty.
  const CliRun studies = List(home_, folders + " --level study");
  ASSERT_FALSE(studies.rows.empty());
  EXPECT_EQ(studies.rows[0][5], "");
  EXPECT_EQ(studies.rows[0][3], "20190101");
}

TEST_F(ListGenerated, StudyOrderFollowsEachConfiguredSortKey) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"１位=患者ID\n２位=検査日\n", {"PAT1 20190101", "PAT1 20200103", "PAT2 20200105", "PAT3 20210707"}},
      {"１位=患者名\n２位=検査日\n", {"PAT3 20210707", "PAT1 20190101", "PAT1 20200103", "PAT2 20200105"}},
      {"１位=検査日\n", {"PAT1 20190101", "PAT1 20200103", "PAT2 20200105", "PAT3 20210707"}},
      {"１位=検査時刻\n", {"PAT1 20200103", "PAT2 20200105", "PAT3 20210707", "PAT1 20190101"}},
      {"１位=モダリティ\n", {"PAT2 20200105", "PAT1 20190101", "PAT3 20210707", "PAT1 20200103"}},
      {"１位=検査日\n[昇順降順]\n１位=降順\n", {"PAT3 20210707", "PAT2 20200105", "PAT1 20200103", "PAT1 20190101"}},
  };
  for (const auto& [keys, expected] : cases) {
    Install(std::string("[ソート]\n") + keys);
    for (const std::string& args : {test::ShellQuote(data_), test::ShellQuote(data_ + "/DICOMDIR")}) {
      const CliRun r = List(home_, args + " --level study");
      std::vector<std::string> order;
      for (const auto& row : r.rows) order.push_back(row[0] + " " + row[3]);
      EXPECT_EQ(order, expected) << keys << args;
    }
  }
  // The patient level under the name key: Alpha, Beta, Zeta.
  Install("[ソート]\n１位=患者名\n[患者名]\n１位=ローマ字\n");
  const CliRun p = List(home_, test::ShellQuote(data_) + " --level patient");
  std::vector<std::string> names;
  for (const auto& row : p.rows) names.push_back(row[1]);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha Cy", "Beta Bob", "Zeta Ann"}));
}

TEST(ListCli, UsageAndMissingPaths) {
  test::TempDir dir;
  test::MakeInstallation(dir.path());
  EXPECT_EQ(List(dir.path(), "").status, 2);
  EXPECT_EQ(List(dir.path(), test::ShellQuote(dir.path()) + " --level nonsense").status, 2);
  const CliRun missing = List(dir.path(), test::ShellQuote(dir.File("nothing-here")));
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.rows.empty());
  const CliRun empty = List(dir.path(), test::ShellQuote(dir.path()) + " --level image");
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.titles.size(), 16u);
}

TEST(ListCli, PublicCorpusListsTheFilesWithPixelData) {
  const std::string data = test::TestDataDir();
  if (data.empty()) GTEST_SKIP() << "public test data not found under " << VELMO_TESTDATA_DIR;
  test::TempDir home;
  test::MakeInstallation(home.path(), "[ソート]\n１位=患者ID\n２位=検査日\n");
  // Files reference.tsv says hold pixel data.
  std::set<std::string> withPixels, all;
  {
    std::ifstream in(data + "/reference.tsv");
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> head = SplitTabs(line);
    size_t pixelCol = 0;
    for (size_t i = 0; i < head.size(); ++i)
      if (head[i] == "pixel_data") pixelCol = i;
    while (std::getline(in, line)) {
      const std::vector<std::string> cells = SplitTabs(line);
      if (cells.size() <= pixelCol) continue;
      all.insert(cells[0]);
      if (cells[pixelCol].rfind("PixelData", 0) == 0) withPixels.insert(cells[0]);
    }
  }
  ASSERT_GT(withPixels.size(), 50u);
  const CliRun r = List(home.path(), test::ShellQuote(data) + " --level image");
  ASSERT_EQ(r.status, 0) << r.err;
  // Every listed file is one with pixel data; nearly all of them are listed (a few are
  // duplicates of the same instance, or in encodings the list does not read).
  size_t listed = 0;
  for (const auto& row : r.rows) {
    ASSERT_EQ(row.size(), 16u);
    std::string rel = row[15].substr(data.size() + 1);
    if (all.count(rel) == 0) continue;  // not a corpus file of reference.tsv
    EXPECT_EQ(withPixels.count(rel), 1u) << rel;
    ++listed;
  }
  EXPECT_GE(listed, withPixels.size() * 3 / 4);
  const size_t read = std::stoul(r.err.substr(r.err.find(", read ") + 7));
  const size_t dups = std::stoul(r.err.substr(r.err.rfind("duplicates ") + 11));
  EXPECT_EQ(read, r.rows.size() + dups);
  EXPECT_LE(read, withPixels.size());
  EXPECT_GE(read, withPixels.size() - 5);

  // The corpus DICOMDIR lists the same patients as its folder.
  const std::string dd = data + "/pydicom/dicomdirtests";
  const CliRun viaDir = List(home.path(), test::ShellQuote(dd + "/DICOMDIR") + " --level series");
  const CliRun viaFolder = List(home.path(), test::ShellQuote(dd) + " --level series");
  EXPECT_EQ(viaDir.status, 0);
  EXPECT_EQ(viaDir.rows.size(), viaFolder.rows.size());
  EXPECT_GT(viaDir.rows.size(), 5u);
  for (size_t i = 0; i < std::min(viaDir.rows.size(), viaFolder.rows.size()); ++i) {
    EXPECT_EQ(viaDir.rows[i][0], viaFolder.rows[i][0]);
    EXPECT_EQ(viaDir.rows[i][6], viaFolder.rows[i][6]);
  }
}

}  // namespace
}  // namespace velmo
