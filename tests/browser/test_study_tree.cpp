// The study tree: grouping and duplicates, sort keys and directions, display names,
// the rows and cells of each level, rows back to entries and the combined neighbours.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "browser/study_tree.h"
#include "base/settings.h"
#include "base/text.h"
#include "test_intake_files.h"

namespace velmo {
namespace {

using test::AddRecord;
using test::ListFile;

ListFile Img(const std::string& patient, const std::string& study, const std::string& series, const std::string& sop) {
  ListFile f;
  f.patientId = patient;
  f.patientName = "Name " + patient;
  f.studyUid = study;
  f.seriesUid = series;
  f.sopUid = sop;
  return f;
}

std::vector<std::string> Column(const StudyTree& tree, int code) {
  std::vector<std::string> out;
  for (int r = 0; r < tree.RowCount(); ++r) out.push_back(tree.CellText(r, code));
  return out;
}

SortState FromIni(const std::string& iniUtf8) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), iniUtf8);
  return SortState::FromSettings(Settings::Load());
}

TEST(StudyTree, GroupsByFirstMatchAndDropsDuplicateInstances) {
  FileTable t;
  t.Allocate(20);
  AddRecord(t, Img("P1", "S1", "E1", "I1"));
  AddRecord(t, Img("P2", "S2", "E2", "I2"));
  AddRecord(t, Img("P1", "S1", "E1", "I1"));  // the same file again
  AddRecord(t, Img("P1", "S3", "E1", "I3"));  // same series UID, other study: another series
  AddRecord(t, Img("P1", "S1", "E1", "I4"));
  AddRecord(t, Img("P1", "S1", "E5", "I1"));  // same SOP UID in another series is kept
  StudyTree tree;
  tree.Build(t);
  ASSERT_EQ(tree.PatientCount(), 2u);
  EXPECT_EQ(tree.StudyCount(), 3u);
  EXPECT_EQ(tree.SeriesCount(), 4u);
  EXPECT_EQ(tree.ImageCount(), 5u);
  EXPECT_EQ(tree.DuplicateCount(), 1u);
  const PatientNode& p1 = tree.patients()[0];
  ASSERT_EQ(p1.studies.size(), 2u);
  ASSERT_EQ(p1.studies[0].series.size(), 2u);
  EXPECT_EQ(p1.studies[0].series[0].images, (std::vector<int32_t>{0, 4}));
  EXPECT_EQ(p1.studies[0].series[1].images, (std::vector<int32_t>{5}));
  EXPECT_EQ(p1.studies[1].series[0].images, (std::vector<int32_t>{3}));

  // An empty table builds nothing and has no rows.
  FileTable empty;
  empty.Allocate(5);
  tree.Build(empty);
  tree.Sort(kLevelImage, SortState{});
  EXPECT_EQ(tree.RowCount(), 0);
  EXPECT_EQ(tree.EntryOfRow(0), -1);
}

TEST(StudyTree, SeriesAndImageNumbersSortNumericallyDatesAsText) {
  FileTable t;
  t.Allocate(20);
  const char* numbers[] = {"10", "9", " 100", "-1", "2"};
  for (int i = 0; i < 5; ++i) {
    ListFile f = Img("P", "S", "E" + std::to_string(i), "I" + std::to_string(i));
    f.seriesNumber = numbers[i];
    AddRecord(t, f);
  }
  StudyTree tree;
  tree.Build(t);
  SortState s;
  tree.Sort(kLevelSeries, s);
  EXPECT_EQ(Column(tree, kColSeriesNumber), (std::vector<std::string>{"-1", "2", "9", "10", " 100"}));
  // A click inverts the series order, a second click restores it.
  s.ClickColumn(kColSeriesNumber);
  tree.Sort(kLevelSeries, s);
  EXPECT_EQ(Column(tree, kColSeriesNumber), (std::vector<std::string>{" 100", "10", "9", "2", "-1"}));
  s.ClickColumn(kColSeriesNumber);
  tree.Sort(kLevelSeries, s);
  EXPECT_EQ(Column(tree, kColSeriesNumber), (std::vector<std::string>{"-1", "2", "9", "10", " 100"}));

  // Study dates compare as bytes: "2020.1.5" sorts before "20200301" ('.' < '0').
  FileTable d;
  d.Allocate(10);
  const char* dates[] = {"20200301", "2020.1.5", "20191231", ""};
  for (int i = 0; i < 4; ++i) {
    ListFile f = Img("P", "S" + std::to_string(i), "E" + std::to_string(i), "I" + std::to_string(i));
    f.studyDate = dates[i];
    AddRecord(d, f);
  }
  tree.Build(d);
  SortState byDate;
  byDate.ClickColumn(kColStudyDate);  // primary key; the click also makes it descending
  byDate.descending[kColStudyDate] = false;
  tree.Sort(kLevelStudy, byDate);
  EXPECT_EQ(Column(tree, kColStudyDate), (std::vector<std::string>{"", "20191231", "2020.1.5", "20200301"}));
}

TEST(StudyTree, ConfiguredSortKeysAndDirections) {
  FileTable t;
  t.Allocate(20);
  struct Row { const char* id; const char* name; const char* date; const char* time; const char* mod; };
  const Row rows[] = {{"B", "Kato", "20200102", "0900", "MR"},
                      {"A", "Sato", "20200101", "1000", "CT"},
                      {"C", "Abe", "20200101", "0800", "US"},
                      {"A", "Sato", "20200103", "0700", "XA"}};
  for (int i = 0; i < 4; ++i) {
    ListFile f = Img(rows[i].id, "S" + std::to_string(i), "E" + std::to_string(i), "I" + std::to_string(i));
    f.patientName = rows[i].name;
    f.studyDate = rows[i].date;
    f.modality = rows[i].mod;
    ListRecord& r = AddRecord(t, f);
    r.studyTime = rows[i].time;
  }
  StudyTree tree;
  tree.SetNameKeywords({"", "", ""});
  tree.Build(t);
  auto studyOrder = [&](const std::string& ini) {
    tree.Sort(kLevelStudy, FromIni(ini));
    std::vector<std::string> ids;
    for (int r = 0; r < tree.RowCount(); ++r) ids.push_back(tree.CellText(r, kColPatientId) + tree.CellText(r, kColStudyDate));
    return ids;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(studyOrder("[ソート]\n１位=患者ID\n２位=検査日\n"), (V{"A20200101", "A20200103", "B20200102", "C20200101"}));
  EXPECT_EQ(studyOrder("[ソート]\n１位=患者ID\n２位=検査日\n[昇順降順]\n１位=降順\n２位=降順\n"),
            (V{"C20200101", "B20200102", "A20200103", "A20200101"}));
  EXPECT_EQ(studyOrder("[ソート]\n１位=患者名\n２位=検査日\n"), (V{"C20200101", "B20200102", "A20200101", "A20200103"}));
  EXPECT_EQ(studyOrder("[ソート]\n１位=検査日\n２位=検査時刻\n"), (V{"C20200101", "A20200101", "B20200102", "A20200103"}));
  EXPECT_EQ(studyOrder("[ソート]\n１位=検査時刻\n"), (V{"A20200103", "C20200101", "B20200102", "A20200101"}));
  EXPECT_EQ(studyOrder("[ソート]\n１位=モダリティ\n[昇順降順]\n１位=降順\n"),
            (V{"A20200103", "C20200101", "B20200102", "A20200101"}));
  // An empty first position leaves the patient ID as primary key, then the second position.
  EXPECT_EQ(studyOrder("[ソート]\n１位=\n２位=検査日\n[昇順降順]\n２位=降順\n"),
            (V{"A20200103", "A20200101", "B20200102", "C20200101"}));

  // Patient level: patients by their first study, studies inside each patient.
  tree.Sort(kLevelPatient, FromIni("[ソート]\n１位=患者ID\n２位=検査日\n[昇順降順]\n２位=降順\n"));
  EXPECT_EQ(Column(tree, kColPatientId), (V{"A", "B", "C"}));
  EXPECT_EQ(tree.EntryOfRow(0), 3);  // A's studies were sorted: the latest date comes first
  // A column click makes its column the primary key.
  SortState s = FromIni("[ソート]\n１位=患者ID\n");
  s.ClickColumn(kColModality);
  s.ClickColumn(kColModality);
  tree.Sort(kLevelStudy, s);
  EXPECT_EQ(Column(tree, kColPatientId), (V{"A", "B", "C", "A"}));
}

TEST(StudyTree, DisplayNameFollowsTheNamePriorities) {
  FileTable t;
  t.Allocate(10);
  ListRecord& jp = AddRecord(t, Img("J", "S1", "E1", "I1"));
  jp.characterSetValues[0] = "";
  jp.characterSetValues[1] = "ISO 2022 IR 87";
  jp.patientNameGroups[0] = "Yamada Taro";
  jp.patientNameGroups[1] = SJ("山田太郎");
  ListRecord& plain = AddRecord(t, Img("K", "S2", "E2", "I2"));
  plain.characterSetValues[0] = "ISO 2022 IR 6";
  plain.characterSetValues[1] = "ISO 2022 IR 87";
  plain.patientNameGroups[0] = "Smith John";

  StudyTree tree;
  tree.SetNameKeywords({"IR 87", "IR 6", ""});
  tree.Build(t);
  EXPECT_EQ(tree.DisplayName(0).str(), SJ("山田太郎"));
  EXPECT_EQ(tree.DisplayName(1).str(), "Smith John");  // its kanji group is empty: the next position

  tree.SetNameKeywords({"IR 87", "", ""});
  tree.Build(t);
  EXPECT_EQ(tree.DisplayName(1).str(), "");  // the only position points at an empty group: no fallback

  tree.SetNameKeywords({"IR 6", "IR 87", ""});
  tree.Build(t);
  EXPECT_EQ(tree.DisplayName(0).str(), SJ("山田太郎"));  // no value holds IR 6: the next position
  EXPECT_EQ(tree.DisplayName(1).str(), "Smith John");

  tree.SetNameKeywords({"IR 13", "", ""});  // nothing matches at all: the first group
  tree.Build(t);
  EXPECT_EQ(tree.DisplayName(0).str(), "Yamada Taro");
  tree.Sort(kLevelPatient, SortState{});
  EXPECT_EQ(tree.CellText(0, kColName), "Yamada Taro");
}

// Two patients; patient A has two studies, the first with series 1 (3 images) and 2.
void BuildSample(FileTable& t, StudyTree& tree) {
  t.Allocate(20);
  auto add = [&](const char* p, const char* st, const char* se, const char* sop, const char* sn, const char* in) {
    ListFile f = Img(p, st, se, sop);
    f.seriesNumber = sn;
    f.instanceNumber = in;
    f.studyDate = std::string("2020010") + st[1];
    AddRecord(t, f);
  };
  add("A", "S1", "E1", "I1", "1", "3");
  add("A", "S1", "E1", "I2", "1", "1");
  add("A", "S1", "E1", "I3", "1", "2");
  add("A", "S1", "E2", "I4", "2", "1");
  add("A", "S2", "E3", "I5", "1", "1");
  add("B", "S3", "E4", "I6", "1", "1");
  tree.Build(t);
}

TEST(StudyTree, RowsCellsAndEntriesOfEachLevel) {
  FileTable t;
  StudyTree tree;
  BuildSample(t, tree);
  SortState s;
  s.studyKeys = {kColPatientId, kColStudyDate, -1, -1, -1};

  tree.Sort(kLevelPatient, s);
  ASSERT_EQ(tree.RowCount(), 2);
  EXPECT_EQ(tree.EntryOfRow(0), 1);  // first image of A's first study, first series after sorting
  EXPECT_EQ(tree.CellText(0, kColName), "Name A");
  EXPECT_EQ(tree.CellText(0, kColStudyDate), "");  // a patient row fills ID and name only
  EXPECT_EQ(tree.RowOfEntry(4), 0);
  EXPECT_EQ(tree.RowOfEntry(5), 1);

  tree.Sort(kLevelStudy, s);
  ASSERT_EQ(tree.RowCount(), 3);
  EXPECT_EQ(tree.CellText(0, kColStudyDate), "20200101");
  EXPECT_EQ(tree.CellText(0, kColModality), "");  // modality is a series column
  EXPECT_EQ(tree.RowOfEntry(3), 0);
  EXPECT_EQ(tree.RowOfEntry(4), 1);

  tree.Sort(kLevelSeries, s);
  ASSERT_EQ(tree.RowCount(), 4);
  EXPECT_EQ(tree.CellText(0, kColModality), "CT");
  EXPECT_EQ(tree.CellText(1, kColSeriesNumber), "2");
  EXPECT_EQ(tree.CellText(1, kColImageNumber), "");

  tree.Sort(kLevelImage, s);
  ASSERT_EQ(tree.RowCount(), 6);
  EXPECT_EQ(Column(tree, kColImageNumber), (std::vector<std::string>{"1", "2", "3", "1", "1", "1"}));
  EXPECT_EQ(tree.EntryOfRow(0), 1);
  EXPECT_EQ(tree.CellText(0, kColFileName), "/mem/I2");
  EXPECT_EQ(tree.RowOfEntry(0), 2);
  for (int r = 0; r < tree.RowCount(); ++r) EXPECT_EQ(tree.RowOfEntry(tree.EntryOfRow(r)), r);
}

TEST(StudyTree, CombinedModeNeighboursStayInsideTheirParent) {
  FileTable t;
  StudyTree tree;
  BuildSample(t, tree);
  SortState s;
  s.studyKeys = {kColPatientId, kColStudyDate, -1, -1, -1};

  tree.Sort(kLevelImage, s);  // rows: I2 I3 I1 | I4 | I5 | I6
  EXPECT_EQ(tree.CombinedEntries(0, 1), std::make_pair(1, 2));
  EXPECT_EQ(tree.CombinedEntries(2, 1), std::make_pair(0, -1));  // last image of its series
  EXPECT_EQ(tree.CombinedEntries(3, 2), std::make_pair(-1, 3));  // first image of its series
  EXPECT_EQ(tree.CombinedEntries(1, 2), std::make_pair(1, 2));

  tree.Sort(kLevelSeries, s);  // rows: E1 E2 | E3 | E4
  EXPECT_EQ(tree.NeighbourRow(0, +1), 1);
  EXPECT_EQ(tree.NeighbourRow(1, +1), -1);
  EXPECT_EQ(tree.NeighbourRow(2, -1), -1);

  tree.Sort(kLevelStudy, s);  // studies across patients
  EXPECT_EQ(tree.NeighbourRow(1, +1), 2);
  EXPECT_EQ(tree.CombinedEntries(2, 2), std::make_pair(4, 5));
  EXPECT_EQ(tree.NeighbourRow(2, +1), -1);

  tree.Sort(kLevelPatient, s);
  EXPECT_EQ(tree.CombinedEntries(0, 1), std::make_pair(1, 5));
  EXPECT_EQ(tree.CombinedEntries(0, 2), std::make_pair(-1, 1));
}

TEST(StudyTree, LargeShuffledTablesSortCompletely) {
  // Sizes below, at and well above the point where small ranges are finished apart.
  for (int n : {63, 64, 65, 1000}) {
    FileTable t;
    t.Allocate(n);
    std::vector<int> order(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
    std::mt19937 rng(static_cast<unsigned>(n));
    std::shuffle(order.begin(), order.end(), rng);
    for (int i = 0; i < n; ++i) {
      const int k = order[static_cast<size_t>(i)];
      ListFile f = Img("P" + std::to_string(k % 7), "S" + std::to_string(k), "E" + std::to_string(k), "I" + std::to_string(k));
      char date[16];
      std::snprintf(date, sizeof date, "2000%04d", k);
      f.studyDate = date;
      AddRecord(t, f);
    }
    StudyTree tree;
    tree.Build(t);
    SortState s;
    s.primaryStudyKey = kColStudyDate;
    s.descending[kColStudyDate] = true;
    tree.Sort(kLevelStudy, s);
    ASSERT_EQ(tree.RowCount(), n);
    for (int r = 1; r < n; ++r) ASSERT_GT(tree.CellText(r - 1, kColStudyDate), tree.CellText(r, kColStudyDate)) << n;
  }
}

TEST(StudyTree, LevelTextsColumnTitlesAndNumbers) {
  EXPECT_EQ(ListLevelFromText(SJ("患者")), kLevelPatient);
  EXPECT_EQ(ListLevelFromText(SJ("シリーズ")), kLevelSeries);
  EXPECT_EQ(ListLevelFromText("?"), kLevelImage);
  EXPECT_EQ(ListLevelText(kLevelStudy), SJ("検査"));
  EXPECT_EQ(ListColumnTitle(kColKernel), SjisFromUtf8("ｺﾝﾎﾞﾘｭｰｼｮﾝｶｰﾈﾙ"));
  EXPECT_EQ(ListColumnWidth(kColFileName), 300);
  EXPECT_EQ(ParseInt64("  -12abc"), -12);
  EXPECT_EQ(ParseInt64("+7"), 7);
  EXPECT_EQ(ParseInt64("x1"), 0);
  EXPECT_EQ(ParseInt64("99999999999999999999"), INT64_MAX);
  EXPECT_EQ(ParseInt64("-99999999999999999999"), INT64_MIN);
  EXPECT_EQ(ParseInt64("-9223372036854775808"), INT64_MIN);
}

}  // namespace
}  // namespace velmo
