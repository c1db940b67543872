#pragma once
// FileTable: the fixed-capacity table of list records the study lists are built from.
// Outside a loading job pendingEnd == validCount. During intake new paths are
// appended at pendingEnd; the loading job compacts good records to validCount.
//
// Threads: while a loading job runs, its worker writes the records from pendingStart
// on and validCount; the main thread only reads validCount and pendingEnd (progress)
// and touches the table again after the worker has ended.
#include <atomic>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "browser/list_record.h"

namespace velmo {

struct FileTable {
  static constexpr int32_t kDefaultCapacity = 5000;

  std::vector<FileTableEntry> entries;  // capacity entries, allocated once
  int32_t capacity = 0;
  std::atomic<int32_t> validCount{0};
  std::atomic<int32_t> pendingStart{0};
  std::atomic<int32_t> pendingEnd{0};
  bool fromDicomdir = false;  // the table was filled from a DICOMDIR
  std::string lastPath;       // the most recent file, folder or DICOMDIR taken in

  // Allocates the table for `requested` records ("リスト" "最大数"); a value <= 0
  // means the default 5000. Returns false, leaving the table empty with capacity 0,
  // when the memory cannot be had. The counters are reset.
  bool Allocate(int32_t requested) {
    const int32_t n = requested <= 0 ? kDefaultCapacity : requested;
    Clear();
    capacity = 0;
    std::vector<FileTableEntry>().swap(entries);
    // n is at most 2^31 - 1, so n * sizeof(FileTableEntry) fits 64 bits; anything the
    // allocator cannot give fails cleanly below.
    if (static_cast<uint64_t>(n) > entries.max_size()) return false;
    try {
      entries.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
      std::vector<FileTableEntry>().swap(entries);
      return false;
    }
    capacity = n;
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
    if (at >= capacity || at < 0 || static_cast<size_t>(at) >= entries.size()) return false;
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
