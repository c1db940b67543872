#pragma once
// The study lists without widgets: the patient -> study -> series -> image tree built
// from the file table, its sorting, the rows and cells of each list level, and the
// way back from a row to the file-table entry it shows.
//
// Every node is represented by its first image: a series by images[0], a study by the
// first image of its first series, a patient by the first image of its first study.
// Rows are built for the level in use by Sort(); row numbers are what the file list
// shows, in order.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "browser/file_table.h"

namespace velmo {

struct LoadContext;
struct Settings;

enum ListLevel : int { kLevelPatient = 0, kLevelStudy = 1, kLevelSeries = 2, kLevelImage = 3 };

// Column codes of the file list (code = column index).
enum ListColumn : int {
  kColPatientId = 0, kColName = 1, kColAccession = 2, kColStudyDate = 3, kColStudyTime = 4, kColModality = 5,
  kColSeriesNumber = 6, kColSeriesTime = 7, kColBodyPart = 8, kColProtocol = 9, kColKernel = 10, kColCoil = 11,
  kColImageNumber = 12, kColContentTime = 13, kColSliceLocation = 14, kColFileName = 15,
};
inline constexpr int kListColumnCount = 16;

// The column title in Shift-JIS ("ID", "名前", ... "ﾌｧｲﾙ名"), its width in pixels, and
// whether a row of `level` fills it.
const std::string& ListColumnTitle(int code);
int ListColumnWidth(int code);
bool ListColumnFilled(int code, int level);

// "状態" "リスト" text (Shift-JIS) <-> level: "患者" 0, "検査" 1, "シリーズ" 2, "画像" 3;
// anything else is the image level.
int ListLevelFromText(std::string_view sjis);
const std::string& ListLevelText(int level);

// Sort keys and directions. Study keys are column codes 0..5, the series key 6..11, the
// image key 12..14; -1 is an unset position.
struct SortState {
  int primaryStudyKey = kColPatientId;
  std::array<int, 5> studyKeys{-1, -1, -1, -1, -1};
  int seriesKey = kColSeriesNumber;
  int imageKey = kColImageNumber;
  std::array<bool, kListColumnCount> descending{};

  // "ソート" "１位".."５位" and "昇順降順": the primary key is the first position's key
  // (the patient ID when that position is empty); a column is descending when a
  // position naming it says "降順".
  static SortState FromSettings(const Settings& settings);
  // A click on column `code`: codes 0..5 become the primary study key, 6..11 the series
  // key, 12..14 the image key; the column's direction is inverted. Column 15 changes
  // nothing.
  void ClickColumn(int code);
};

// Keywords of the name display priorities ("IR 6", "IR 87", "IR 13", "" for none),
// from "患者名" "１位".."３位".
std::array<std::string, 3> NameKeywordsFromSettings(const Settings& settings);

struct SeriesNode {
  std::vector<int32_t> images;  // file-table indices
};
struct StudyNode {
  std::vector<SeriesNode> series;
};
struct PatientNode {
  std::vector<StudyNode> studies;
};

// One row of the file list. At the patient level `study` is -1; at the other levels
// `study` indexes the flat study order. `series` is the index inside the study,
// `image` the index inside the series (-1 where the level does not go that deep).
struct ListRow {
  int32_t patient = -1;
  int32_t study = -1;
  int32_t series = -1;
  int32_t image = -1;
  int32_t entry = -1;  // file-table index of the row's representative image
};

class StudyTree {
 public:
  // Builds the tree from records 0 .. validCount-1 of `table` (nothing for an empty
  // table). Record i joins the first patient with the same patient ID, in it the first
  // study with the same study instance UID, in it the first series with the same series
  // instance UID; a record whose SOP instance UID is already in that series is dropped
  // as a duplicate file. The table must not change until the next Build or Clear.
  void Build(const FileTable& table);
  void Clear();

  // Name display priorities; takes effect at the next Build.
  void SetNameKeywords(const std::array<std::string, 3>& keywords) { nameKeywords_ = keywords; }

  // Sorts the tree for `level` with `sort` and rebuilds the rows of that level.
  // Patient level: patients, then the studies of each patient, the series of each
  // study, the images of each series. Other levels: all studies of all patients
  // together (the flat study order), then series and images inside each study.
  void Sort(int level, const SortState& sort);

  int level() const { return level_; }
  const std::vector<ListRow>& rows() const { return rows_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // The file-table index a row shows (its node's first image), -1 for no such row.
  int32_t EntryOfRow(int row) const;
  // The row whose node holds file-table entry `entry` at the current level, or -1.
  int RowOfEntry(int32_t entry) const;
  // The text of cell (row, code): Shift-JIS field bytes up to their first NUL, or ""
  // when the level does not fill that column. Column 15 is the file path (a native
  // path, UTF-8 bytes on this platform).
  std::string CellText(int row, int code) const;

  // The neighbour of a row for the combined display: the next (step +1) or previous
  // (step -1) patient at level 0, study in the flat order at level 1, series of the
  // same study at level 2, image of the same series at level 3; -1 when none.
  int NeighbourRow(int row, int step) const;
  // Combined display: the entries (left, right) that a selection of `row` shows when
  // `currentPane` (1 left, 2 right) is current; -1 leaves that pane empty.
  std::pair<int32_t, int32_t> CombinedEntries(int row, int currentPane) const;

  // The display name of a record (column 1): the name group chosen by the keywords.
  const FixedText<64>& DisplayName(int32_t entry) const;

  const std::vector<PatientNode>& patients() const { return patients_; }
  const std::vector<StudyNode*>& flatStudies() const { return flatStudies_; }
  size_t PatientCount() const { return patients_.size(); }
  size_t StudyCount() const { return studyCount_; }
  size_t SeriesCount() const { return seriesCount_; }
  size_t ImageCount() const { return imageCount_; }
  size_t DuplicateCount() const { return duplicates_; }

 private:
  int Compare(int code, int32_t a, int32_t b) const;  // direction applied
  int CompareStudies(int32_t a, int32_t b, const SortState& sort) const;
  void FillRows();

  const FileTable* table_ = nullptr;
  std::array<std::string, 3> nameKeywords_{"IR 87", "IR 6", "IR 13"};
  std::vector<PatientNode> patients_;
  std::vector<StudyNode*> flatStudies_;
  std::vector<ListRow> rows_;
  std::vector<int32_t> rowOfEntry_;
  // Per record, computed once per Build: the display-name group (-1 none) and the
  // numeric keys.
  std::vector<int8_t> nameGroup_;
  std::vector<int64_t> seriesNumber_, instanceNumber_;
  std::vector<double> sliceLocation_;
  SortState sort_;
  int level_ = kLevelImage;
  size_t studyCount_ = 0, seriesCount_ = 0, imageCount_ = 0, duplicates_ = 0;
};

// Shows file-table entry `entry` at view position `pane` (1 or 2): the pane's previous
// record releases its buffers unless the other pane shows it too, then the entry is
// loaded (read whole, header view, attributes, display set-up) unless it already is.
// ctx.records must be indexed like the file table (see SyncRecordTable). Returns the
// load's result; -1 as entry empties the pane and returns false.
bool ShowEntryInPane(LoadContext& ctx, int32_t entry, int pane);

// After an intake: makes ctx.records as long as the table's valid records, and resets
// every record whose file is no longer the one at its index (buffers released), so a
// replaced or compacted table never shows a stale image. View positions that point past
// the end are emptied.
void SyncRecordTable(LoadContext& ctx, const FileTable& table);

// 64-bit integer value of a text, as the list compares series and image numbers:
// leading blanks, optional sign, digits; saturates; 0 when there are none.
int64_t ParseInt64(std::string_view text);

}  // namespace velmo
