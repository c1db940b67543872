// Building and sorting the study tree over 50,000 list records (the table's capacity
// raised from the default 5000): 1,000 patients x 2 studies x 5 series x 5 images,
// in shuffled file order as a folder scan of a large archive would give them, and in
// already sorted order (the worst case of a naive first-element partition).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>

#include "browser/study_tree.h"

namespace {

using velmo::FileTable;
using velmo::SortState;
using velmo::StudyTree;

constexpr int kPatients = 1000, kStudies = 2, kSeries = 5, kImages = 5;
constexpr int kRecords = kPatients * kStudies * kSeries * kImages;  // 50,000

std::unique_ptr<FileTable> MakeTable(bool shuffled) {
  auto table = std::make_unique<FileTable>();
  table->Allocate(kRecords);
  std::vector<int> order(kRecords);
  for (int i = 0; i < kRecords; ++i) order[static_cast<size_t>(i)] = i;
  if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(12345));
  char buf[96];
  for (int n : order) {
    const int image = n % kImages, series = n / kImages % kSeries, study = n / (kImages * kSeries) % kStudies,
              patient = n / (kImages * kSeries * kStudies);
    std::snprintf(buf, sizeof buf, "/archive/%05d/%d/%d/IM%05d.dcm", patient, study, series, n);
    table->Append(buf);
    velmo::ListRecord& r = table->entries[static_cast<size_t>(table->pendingEnd.load() - 1)].record;
    r.characterSetValues[0] = "ISO 2022 IR 6";
    std::snprintf(buf, sizeof buf, "ID%07d", patient * 7919 % 1000003);
    r.patientId = buf;
    std::snprintf(buf, sizeof buf, "PATIENT^NAME%05d", (patient * 31) % kPatients);
    r.patientNameGroups[0] = buf;
    std::snprintf(buf, sizeof buf, "1.2.392.200036.9116.2.%d.%d", patient, study);
    r.studyInstanceUid = buf;
    std::snprintf(buf, sizeof buf, "1.2.392.200036.9116.2.%d.%d.%d", patient, study, series);
    r.seriesInstanceUid = buf;
    std::snprintf(buf, sizeof buf, "1.2.392.200036.9116.2.%d.%d.%d.%d", patient, study, series, image);
    r.sopInstanceUid = buf;
    std::snprintf(buf, sizeof buf, "20%02d%02d%02d", 10 + patient % 14, 1 + study * 5 % 12, 1 + patient % 28);
    r.studyDate = buf;
    std::snprintf(buf, sizeof buf, "%02d%02d00", 8 + patient % 10, (patient * 7) % 60);
    r.studyTime = buf;
    r.modality = (patient + study) % 3 == 0 ? "CT" : ((patient + study) % 3 == 1 ? "MR" : "CR");
    std::snprintf(buf, sizeof buf, "%d", series + 1);
    r.seriesNumber = buf;
    std::snprintf(buf, sizeof buf, "%d", kImages - image);
    r.instanceNumber = buf;
  }
  table->validCount = table->pendingEnd.load();
  return table;
}

SortState Keys() {
  SortState s;  // "ソート": 患者ID, 検査日, 検査時刻, モダリティ
  s.primaryStudyKey = velmo::kColPatientId;
  s.studyKeys = {velmo::kColPatientId, velmo::kColStudyDate, velmo::kColStudyTime, velmo::kColModality, -1};
  return s;
}

void BuildAndSort(benchmark::State& state, bool shuffled, int level) {
  const std::unique_ptr<FileTable> table = MakeTable(shuffled);
  const SortState keys = Keys();
  for (auto _ : state) {
    StudyTree tree;
    tree.Build(*table);
    tree.Sort(level, keys);
    benchmark::DoNotOptimize(tree.RowCount());
  }
  state.counters["records"] = kRecords;
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_StudyTree50k_Shuffled_ImageLevel(benchmark::State& s) { BuildAndSort(s, true, velmo::kLevelImage); }
void BM_StudyTree50k_Shuffled_PatientLevel(benchmark::State& s) { BuildAndSort(s, true, velmo::kLevelPatient); }
void BM_StudyTree50k_Sorted_StudyLevel(benchmark::State& s) { BuildAndSort(s, false, velmo::kLevelStudy); }

// A column click on a built tree: only the sort and the rows.
void BM_StudyTree50k_ResortByName(benchmark::State& state) {
  const std::unique_ptr<FileTable> table = MakeTable(true);
  StudyTree tree;
  tree.Build(*table);
  SortState keys = Keys();
  for (auto _ : state) {
    keys.ClickColumn(velmo::kColName);
    tree.Sort(velmo::kLevelImage, keys);
    benchmark::DoNotOptimize(tree.RowCount());
  }
}

BENCHMARK(BM_StudyTree50k_Shuffled_ImageLevel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StudyTree50k_Shuffled_PatientLevel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StudyTree50k_Sorted_StudyLevel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StudyTree50k_ResortByName)->Unit(benchmark::kMillisecond);

}  // namespace
