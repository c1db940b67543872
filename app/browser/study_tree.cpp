#include "browser/study_tree.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "dicom/load_context.h"
#include "dicom/person_name.h"
#include "dicom/view_load.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "base/text.h"

namespace velmo {

namespace {

// Fields compare as the fixed-width byte arrays they are: every byte of the field,
// the zeros after the text included, as unsigned values.
template <size_t N>
int Bytes(const FixedText<N>& a, const FixedText<N>& b) {
  return std::memcmp(a.c_str(), b.c_str(), N + 1);
}

template <typename T>
int Three(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

const FixedText<64>& EmptyName() {
  static const FixedText<64> empty;
  return empty;
}

int CodeOf(SortKey key) {
  switch (key) {
    case SortKey::PatientId: return kColPatientId;
    case SortKey::PatientName: return kColName;
    case SortKey::StudyDate: return kColStudyDate;
    case SortKey::StudyTime: return kColStudyTime;
    case SortKey::Modality: return kColModality;
    case SortKey::None: break;
  }
  return -1;
}

// Keys of the hash maps used while building: a parent node number and the full
// fixed-width field of the child's key (65 bytes), compared byte for byte like the
// linear scans they stand for.
struct NodeKey {
  int32_t parent;
  std::string_view bytes;
  bool operator==(const NodeKey& o) const { return parent == o.parent && bytes == o.bytes; }
};
// Keys are short texts followed by zeros: mixing whole 8-byte words up to the first
// all-zero word is enough, and much cheaper than a byte-wise hash of the full field.
struct NodeKeyHash {
  size_t operator()(const NodeKey& k) const {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(static_cast<uint32_t>(k.parent));
    const char* p = k.bytes.data();
    size_t n = k.bytes.size();
    for (; n >= 8; p += 8, n -= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if (w == 0) break;
      h = (h ^ w) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    for (; n > 0 && n < 8; ++p, --n) h = (h ^ static_cast<uint8_t>(*p)) * 0x100000001B3ull;
    return static_cast<size_t>(h ^ (h >> 29));
  }
};
template <size_t N>
std::string_view Whole(const FixedText<N>& t) {
  return std::string_view(t.c_str(), N + 1);
}

}  // namespace

const std::string& ListColumnTitle(int code) {
  switch (code) {
    case 0: return SJ("ID");
    case 1: return SJ("名前");
    case 2: return SJ("受付番号");
    case 3: return SJ("検査日");
    case 4: return SJ("検査時刻");
    case 5: return SJ("ﾓﾀﾞﾘﾃｨ");
    case 6: return SJ("ｼﾘｰｽﾞ番号");
    case 7: return SJ("ｼﾘｰｽﾞ時刻");
    case 8: return SJ("部位");
    case 9: return SJ("ﾌﾟﾛﾄｺﾙ名");
    case 10: return SJ("ｺﾝﾎﾞﾘｭｰｼｮﾝｶｰﾈﾙ");
    case 11: return SJ("受信ｺｲﾙ");
    case 12: return SJ("画像番号");
    case 13: return SJ("内容時刻");
    case 14: return SJ("ｽﾗｲｽ位置");
    case 15: return SJ("ﾌｧｲﾙ名");
    default: break;
  }
  static const std::string none;
  return none;
}

int ListColumnWidth(int code) {
  static constexpr int kWidths[kListColumnCount] = {100, 100, 100, 80, 80, 60, 80, 80,
                                                    80,  80,  80,  80, 80, 80, 80, 300};
  return code >= 0 && code < kListColumnCount ? kWidths[code] : 0;
}

bool ListColumnFilled(int code, int level) {
  if (code < 0 || code >= kListColumnCount) return false;
  // The lowest level that fills each column: 0 all, 1 study and below, 2 series and image, 3 image.
  static constexpr int kFrom[kListColumnCount] = {0, 0, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3};
  return level >= kFrom[code];
}

int ListLevelFromText(std::string_view sjis) {
  if (sjis == SJ("患者")) return kLevelPatient;
  if (sjis == SJ("検査")) return kLevelStudy;
  if (sjis == SJ("シリーズ")) return kLevelSeries;
  return kLevelImage;
}

const std::string& ListLevelText(int level) {
  switch (level) {
    case kLevelPatient: return SJ("患者");
    case kLevelStudy: return SJ("検査");
    case kLevelSeries: return SJ("シリーズ");
    default: return SJ("画像");
  }
}

SortState SortState::FromSettings(const Settings& settings) {
  SortState s;
  for (int p = 0; p < 5; ++p) {
    const int code = CodeOf(settings.SortKeyAt(p));
    s.studyKeys[static_cast<size_t>(p)] = code;
    if (code >= 0 && settings.Descending(p)) s.descending[static_cast<size_t>(code)] = true;
  }
  s.primaryStudyKey = s.studyKeys[0] >= 0 ? s.studyKeys[0] : kColPatientId;
  return s;
}

void SortState::ClickColumn(int code) {
  if (code < 0 || code >= kColFileName) return;
  if (code <= kColModality)
    primaryStudyKey = code;
  else if (code <= kColCoil)
    seriesKey = code;
  else
    imageKey = code;
  descending[static_cast<size_t>(code)] = !descending[static_cast<size_t>(code)];
}

std::array<std::string, 3> NameKeywordsFromSettings(const Settings& settings) {
  std::array<std::string, 3> k;
  for (int p = 0; p < 3; ++p) k[static_cast<size_t>(p)] = std::string(Settings::CharsetKeyword(settings.NamePriority(p)));
  return k;
}

int64_t ParseInt64(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated as a negative number so that INT64_MIN is reachable.
  int64_t v = 0;
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int d = text[i] - '0';
    if (saturated) continue;
    if (v < (kMin + d) / 10) {
      saturated = true;
      continue;
    }
    v = v * 10 - d;
  }
  if (saturated) return negative ? kMin : std::numeric_limits<int64_t>::max();
  if (negative) return v;
  return v == kMin ? std::numeric_limits<int64_t>::max() : -v;
}

void StudyTree::Clear() {
  table_ = nullptr;
  patients_.clear();
  flatStudies_.clear();
  rows_.clear();
  rowOfEntry_.clear();
  nameGroup_.clear();
  seriesNumber_.clear();
  instanceNumber_.clear();
  sliceLocation_.clear();
  studyCount_ = seriesCount_ = imageCount_ = duplicates_ = 0;
}

void StudyTree::Build(const FileTable& table) {
  Clear();
  table_ = &table;
  const int32_t count = std::min<int32_t>(table.validCount.load(), static_cast<int32_t>(table.entries.size()));
  if (count <= 0) return;

  // Per-record keys, computed once instead of at every comparison.
  const size_t n = static_cast<size_t>(count);
  nameGroup_.resize(n);
  seriesNumber_.resize(n);
  instanceNumber_.resize(n);
  sliceLocation_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const ListRecord& r = table.entries[i].record;
    // The numbers end at the first byte that is not part of them, the field's NUL included.
    seriesNumber_[i] = ParseInt64(Whole(r.seriesNumber));
    instanceNumber_[i] = ParseInt64(Whole(r.instanceNumber));
    sliceLocation_[i] = ParseDouble(r.sliceLocation.view());
    // Each keyword takes the last of the first three character-set values containing
    // it; the name shown is the group of the first keyword that found one and is not
    // empty; with no keyword found at all, the first group.
    const std::string_view sets[3] = {r.characterSetValues[0].view(), r.characterSetValues[1].view(),
                                      r.characterSetValues[2].view()};
    int16_t index[3];
    FindNameGroupIndices(sets, nameKeywords_.data(), index);
    nameGroup_[i] = static_cast<int8_t>(ChooseDisplayGroup(index, r.patientNameGroups, NameFallback::kNoneWhenFound));
  }

  struct StudyRef { int32_t local, global; };
  struct SeriesRef { int32_t local, global; };
  std::unordered_map<NodeKey, int32_t, NodeKeyHash> patientOf;
  std::unordered_map<NodeKey, StudyRef, NodeKeyHash> studyOf;
  std::unordered_map<NodeKey, SeriesRef, NodeKeyHash> seriesOf;
  std::unordered_set<NodeKey, NodeKeyHash> imageOf;
  patientOf.reserve(n);
  studyOf.reserve(n);
  seriesOf.reserve(n);
  imageOf.reserve(n);
  int32_t studies = 0, series = 0;

  for (int32_t i = 0; i < count; ++i) {
    const ListRecord& r = table.entries[static_cast<size_t>(i)].record;
    auto [p, newPatient] = patientOf.try_emplace(NodeKey{-1, Whole(r.patientId)}, static_cast<int32_t>(patients_.size()));
    if (newPatient) patients_.emplace_back();
    PatientNode& patient = patients_[static_cast<size_t>(p->second)];

    auto [s, newStudy] = studyOf.try_emplace(NodeKey{p->second, Whole(r.studyInstanceUid)},
                                             StudyRef{static_cast<int32_t>(patient.studies.size()), studies});
    if (newStudy) {
      patient.studies.emplace_back();
      ++studies;
    }
    StudyNode& study = patient.studies[static_cast<size_t>(s->second.local)];

    auto [e, newSeries] = seriesOf.try_emplace(NodeKey{s->second.global, Whole(r.seriesInstanceUid)},
                                               SeriesRef{static_cast<int32_t>(study.series.size()), series});
    if (newSeries) {
      study.series.emplace_back();
      ++series;
    }
    SeriesNode& node = study.series[static_cast<size_t>(e->second.local)];

    if (!imageOf.insert(NodeKey{e->second.global, Whole(r.sopInstanceUid)}).second) {
      ++duplicates_;  // the same SOP instance already in this series: a duplicate file
      continue;
    }
    node.images.push_back(i);
  }
  studyCount_ = static_cast<size_t>(studies);
  seriesCount_ = static_cast<size_t>(series);
  imageCount_ = n - duplicates_;
}

const FixedText<64>& StudyTree::DisplayName(int32_t entry) const {
  if (table_ == nullptr || entry < 0 || static_cast<size_t>(entry) >= nameGroup_.size()) return EmptyName();
  const int g = nameGroup_[static_cast<size_t>(entry)];
  return g < 0 ? EmptyName() : table_->Record(entry).patientNameGroups[g];
}

int StudyTree::Compare(int code, int32_t a, int32_t b) const {
  const ListRecord& x = table_->Record(a);
  const ListRecord& y = table_->Record(b);
  const size_t ia = static_cast<size_t>(a), ib = static_cast<size_t>(b);
  int r = 0;
  switch (code) {
    case kColPatientId: r = Bytes(x.patientId, y.patientId); break;
    case kColName: r = Bytes(DisplayName(a), DisplayName(b)); break;
    case kColAccession: r = Bytes(x.accessionNumber, y.accessionNumber); break;
    case kColStudyDate: r = Bytes(x.studyDate, y.studyDate); break;
    case kColStudyTime: r = Bytes(x.studyTime, y.studyTime); break;
    case kColModality: r = Bytes(x.modality, y.modality); break;
    case kColSeriesNumber: r = Three(seriesNumber_[ia], seriesNumber_[ib]); break;
    case kColSeriesTime: r = Bytes(x.seriesTime, y.seriesTime); break;
    case kColBodyPart: r = Bytes(x.bodyPart, y.bodyPart); break;
    case kColProtocol: r = Bytes(x.protocolName, y.protocolName); break;
    case kColKernel: r = Bytes(x.convolutionKernel, y.convolutionKernel); break;
    case kColCoil: r = Bytes(x.receiveCoil, y.receiveCoil); break;
    case kColImageNumber: r = Three(instanceNumber_[ia], instanceNumber_[ib]); break;
    case kColContentTime: r = Bytes(x.contentTime, y.contentTime); break;
    case kColSliceLocation: r = Three(sliceLocation_[ia], sliceLocation_[ib]); break;
    default: return 0;  // the file name is not sortable
  }
  r = r < 0 ? -1 : (r > 0 ? 1 : 0);
  return sort_.descending[static_cast<size_t>(code)] ? -r : r;
}

int StudyTree::CompareStudies(int32_t a, int32_t b, const SortState& sort) const {
  int r = Compare(sort.primaryStudyKey, a, b);
  if (r != 0) return r;
  for (int key : sort.studyKeys) {
    if (key < 0 || key == sort.primaryStudyKey) continue;
    r = Compare(key, a, b);
    if (r != 0) return r;
  }
  return 0;
}

void StudyTree::Sort(int level, const SortState& sort) {
  level_ = level < kLevelPatient || level > kLevelImage ? kLevelImage : level;
  sort_ = sort;
  flatStudies_.clear();
  if (table_ == nullptr || patients_.empty()) {
    rows_.clear();
    rowOfEntry_.clear();
    return;
  }
  // Equal elements keep no particular order, so the library's introsort serves: it
  // cannot degrade to quadratic time on already sorted input.
  auto studyRep = [](const StudyNode& s) { return s.series.front().images.front(); };
  auto sortSeriesAndImages = [&](StudyNode& study) {
    std::sort(study.series.begin(), study.series.end(), [&](const SeriesNode& a, const SeriesNode& b) {
      return Compare(sort.seriesKey, a.images.front(), b.images.front()) < 0;
    });
    for (SeriesNode& s : study.series)
      std::sort(s.images.begin(), s.images.end(),
                [&](int32_t a, int32_t b) { return Compare(sort.imageKey, a, b) < 0; });
  };

  if (level_ == kLevelPatient) {
    std::sort(patients_.begin(), patients_.end(), [&](const PatientNode& a, const PatientNode& b) {
      return CompareStudies(studyRep(a.studies.front()), studyRep(b.studies.front()), sort) < 0;
    });
    for (PatientNode& p : patients_) {
      std::sort(p.studies.begin(), p.studies.end(), [&](const StudyNode& a, const StudyNode& b) {
        return CompareStudies(studyRep(a), studyRep(b), sort) < 0;
      });
      for (StudyNode& s : p.studies) sortSeriesAndImages(s);
    }
  } else {
    flatStudies_.reserve(studyCount_);
    for (PatientNode& p : patients_)
      for (StudyNode& s : p.studies) flatStudies_.push_back(&s);
    std::sort(flatStudies_.begin(), flatStudies_.end(), [&](const StudyNode* a, const StudyNode* b) {
      return CompareStudies(studyRep(*a), studyRep(*b), sort) < 0;
    });
    for (StudyNode* s : flatStudies_) sortSeriesAndImages(*s);
  }
  FillRows();
}

void StudyTree::FillRows() {
  rows_.clear();
  rowOfEntry_.assign(nameGroup_.size(), -1);
  auto own = [&](const SeriesNode& s, int row) {
    for (int32_t i : s.images) rowOfEntry_[static_cast<size_t>(i)] = row;
  };
  if (level_ == kLevelPatient) {
    rows_.reserve(patients_.size());
    for (size_t p = 0; p < patients_.size(); ++p) {
      const int row = static_cast<int>(rows_.size());
      ListRow r;
      r.patient = static_cast<int32_t>(p);
      r.entry = patients_[p].studies.front().series.front().images.front();
      rows_.push_back(r);
      for (const StudyNode& st : patients_[p].studies)
        for (const SeriesNode& se : st.series) own(se, row);
    }
    return;
  }
  for (size_t s = 0; s < flatStudies_.size(); ++s) {
    const StudyNode& study = *flatStudies_[s];
    if (level_ == kLevelStudy) {
      const int row = static_cast<int>(rows_.size());
      ListRow r;
      r.study = static_cast<int32_t>(s);
      r.entry = study.series.front().images.front();
      rows_.push_back(r);
      for (const SeriesNode& se : study.series) own(se, row);
      continue;
    }
    for (size_t k = 0; k < study.series.size(); ++k) {
      const SeriesNode& series = study.series[k];
      if (level_ == kLevelSeries) {
        const int row = static_cast<int>(rows_.size());
        ListRow r;
        r.study = static_cast<int32_t>(s);
        r.series = static_cast<int32_t>(k);
        r.entry = series.images.front();
        rows_.push_back(r);
        own(series, row);
        continue;
      }
      for (size_t m = 0; m < series.images.size(); ++m) {
        ListRow r;
        r.study = static_cast<int32_t>(s);
        r.series = static_cast<int32_t>(k);
        r.image = static_cast<int32_t>(m);
        r.entry = series.images[m];
        rowOfEntry_[static_cast<size_t>(r.entry)] = static_cast<int>(rows_.size());
        rows_.push_back(r);
      }
    }
  }
}

int32_t StudyTree::EntryOfRow(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return -1;
  return rows_[static_cast<size_t>(row)].entry;
}

int StudyTree::RowOfEntry(int32_t entry) const {
  if (entry < 0 || static_cast<size_t>(entry) >= rowOfEntry_.size()) return -1;
  return rowOfEntry_[static_cast<size_t>(entry)];
}

std::string StudyTree::CellText(int row, int code) const {
  const int32_t entry = EntryOfRow(row);
  if (entry < 0 || table_ == nullptr || !ListColumnFilled(code, level_)) return std::string();
  const ListRecord& r = table_->Record(entry);
  switch (code) {
    case kColPatientId: return r.patientId.str();
    case kColName: return DisplayName(entry).str();
    case kColAccession: return r.accessionNumber.str();
    case kColStudyDate: return r.studyDate.str();
    case kColStudyTime: return r.studyTime.str();
    case kColModality: return r.modality.str();
    case kColSeriesNumber: return r.seriesNumber.str();
    case kColSeriesTime: return r.seriesTime.str();
    case kColBodyPart: return r.bodyPart.str();
    case kColProtocol: return r.protocolName.str();
    case kColKernel: return r.convolutionKernel.str();
    case kColCoil: return r.receiveCoil.str();
    case kColImageNumber: return r.instanceNumber.str();
    case kColContentTime: return r.contentTime.str();
    case kColSliceLocation: return r.sliceLocation.str();
    case kColFileName: return r.filePath;
    default: return std::string();
  }
}

int StudyTree::NeighbourRow(int row, int step) const {
  const int other = row + step;
  if (row < 0 || other < 0 || static_cast<size_t>(row) >= rows_.size() || static_cast<size_t>(other) >= rows_.size())
    return -1;
  const ListRow& a = rows_[static_cast<size_t>(row)];
  const ListRow& b = rows_[static_cast<size_t>(other)];
  switch (level_) {
    case kLevelSeries: return a.study == b.study ? other : -1;
    case kLevelImage: return a.study == b.study && a.series == b.series ? other : -1;
    default: return other;
  }
}

std::pair<int32_t, int32_t> StudyTree::CombinedEntries(int row, int currentPane) const {
  const int32_t selected = EntryOfRow(row);
  if (currentPane == 2) return {EntryOfRow(NeighbourRow(row, -1)), selected};
  return {selected, EntryOfRow(NeighbourRow(row, +1))};
}

bool ShowEntryInPane(LoadContext& ctx, int32_t entry, int pane) {
  if (pane < 1 || pane > 2) return false;
  const int previous = ctx.viewIndex[pane];
  if (previous >= 0 && previous != entry && previous != ctx.viewIndex[3 - pane] &&
      static_cast<size_t>(previous) < ctx.records.size()) {
    DicomImage& old = ctx.records[static_cast<size_t>(previous)];
    old.FreeBuffers();
    old.loaded = 0;
    old.extracted = 0;
  }
  if (entry < 0 || static_cast<size_t>(entry) >= ctx.records.size()) {
    ctx.viewIndex[pane] = -1;
    ctx.panes[pane].loaded = false;
    return false;
  }
  ctx.viewIndex[pane] = entry;
  return LoadImageAtViewPosition(ctx, pane);
}

void SyncRecordTable(LoadContext& ctx, const FileTable& table) {
  const size_t n = static_cast<size_t>(std::max<int32_t>(0, table.validCount.load()));
  ctx.records.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const std::string& path = table.entries[i].record.filePath;
    if (ctx.records[i].filePath != path) {
      ctx.records[i] = DicomImage{};
      ctx.records[i].filePath = path;
    }
  }
  for (int pos = 1; pos <= 2; ++pos) {
    if (ctx.viewIndex[pos] >= static_cast<int>(n)) {
      ctx.viewIndex[pos] = -1;
      ctx.panes[pos].loaded = false;
    }
  }
}

}  // namespace velmo
