#pragma once
// FileTable: the fixed-capacity table of list records the study lists are built from.
// Outside a loading job pendingEnd == validCount. During intake new paths are
// appended at pendingEnd; the loading job compacts good records to validCount.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "browser/list_record.h"

namespace velmo {

struct FileTable {
  std::vector<FileTableEntry> entries;  // capacity entries, allocated once
  int32_t capacity = 0;
  std::atomic<int32_t> validCount{0};
  std::atomic<int32_t> pendingStart{0};
  std::atomic<int32_t> pendingEnd{0};
  bool fromDicomdir = false;  // the table was filled from a DICOMDIR
  std::string lastPath;       // the most recent file, folder or DICOMDIR taken in

  // Empties the table (all three counters 0).
  void Clear() {
    validCount = 0;
    pendingStart = 0;
    pendingEnd = 0;
  }
  bool Full() const { return pendingEnd.load() >= capacity; }
};

}  // namespace velmo
