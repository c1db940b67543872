#pragma once
// FileTable: the table of list records the study lists are built from. Its capacity
// ("リスト" "最大数") is a limit; entries are made as records arrive, so a start-up with
// a handful of files touches no memory for the thousands it could hold.
// Outside a loading job pendingEnd == validCount. During intake new paths are
// appended at pendingEnd; the loading job compacts good records to validCount.
//
// Threads: while a loading job runs, its worker writes the records from pendingStart
// on and validCount; the main thread only reads validCount and pendingEnd (progress)
// and touches the table again after the worker has ended.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "browser/list_record.h"

namespace velmo {

struct FileTable {
  static constexpr int32_t kDefaultCapacity = 5000;

  std::vector<FileTableEntry> entries;  // grows on demand up to capacity
  int32_t capacity = 0;
  std::atomic<int32_t> validCount{0};
  std::atomic<int32_t> pendingStart{0};
  std::atomic<int32_t> pendingEnd{0};
  bool fromDicomdir = false;  // the table was filled from a DICOMDIR
  std::string lastPath;       // the most recent file, folder or DICOMDIR taken in

  // Sets the table up for at most `requested` records ("リスト" "最大数"); a value <= 0
  // means the default 5000. No entry is made yet. Returns false, leaving the table
  // empty with capacity 0, when that many records could never be held. The counters
  // are reset.
  bool Allocate(int32_t requested) {
    const int32_t n = requested <= 0 ? kDefaultCapacity : requested;
    Clear();
    capacity = 0;
    std::vector<FileTableEntry>().swap(entries);
    if (static_cast<uint64_t>(n) > entries.max_size()) return false;
    capacity = n;
    return true;
  }

  // How many records the table can take: the capacity; a table that was never set up
  // (capacity 0) takes only the entries it has.
  int32_t Room() const {
    return capacity > 0 ? capacity : static_cast<int32_t>(std::min<size_t>(entries.size(), INT32_MAX));
  }

  // Makes sure entry `at` exists (growing the table, amortised, up to Room()). False
  // when it is out of room or the memory cannot be had.
  bool EnsureEntry(int32_t at) {
    if (at < 0 || at >= Room()) return false;
    if (static_cast<size_t>(at) < entries.size()) return true;
    try {
      entries.resize(static_cast<size_t>(at) + 1);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Empties the table (all three counters 0).
  void Clear() {
    validCount = 0;
    pendingStart = 0;
    pendingEnd = 0;
  }
  bool Full() const { return pendingEnd.load() >= capacity; }

  // Start of a file or folder intake: after a DICOMDIR the table is emptied, otherwise
  // the new paths go after the records already there.
  void BeginIntake() {
    if (fromDicomdir)
      Clear();
    else
      pendingStart = validCount.load();
  }

  // Appends a zeroed record holding only `path` at pendingEnd. False (nothing added)
  // when the table is full.
  bool Append(const std::string& path) {
    const int32_t at = pendingEnd.load();
    if (at >= capacity || !EnsureEntry(at)) return false;
    FileTableEntry& e = entries[static_cast<size_t>(at)];
    e.record = ListRecord{};
    e.record.filePath = path;
    e.status = 0;
    pendingEnd = at + 1;
    return true;
  }

  const ListRecord& Record(int32_t i) const { return entries[static_cast<size_t>(i)].record; }
};

}  // namespace velmo
