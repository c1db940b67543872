#pragma once
// Inflation of a deflated data set (the whole data set after the file meta group is
// one raw deflate stream), so the readers can then read it as explicit little endian.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmo {

enum class InflateResult {
  kOk,
  kDamaged,   // the stream is not valid deflate data, or ends before its last block
  kTooLarge,  // it would inflate beyond a sane ratio of its own size
};

// A deflated data set cannot honestly stand for more than this many times its own size
// (deflate's own limit is about 1032); small data sets are always accepted.
inline constexpr uint64_t kMaxInflateRatio = 1100;
inline constexpr uint64_t kInflateAlwaysPlausible = 64ull << 20;
// The readers' offsets are 32-bit: nothing larger can be held.
inline constexpr uint64_t kMaxInflatedFile = 0x7FFFFFFFull;

// buffer[0, size) holds the file as read; the bytes from datasetOffset on are the
// deflated data set. On success buffer holds the bytes before datasetOffset unchanged,
// then the inflated data set, and *size is the new size (the vector's size may be
// larger). On failure buffer and *size are left as they were.
InflateResult InflateDataset(std::vector<uint8_t>& buffer, size_t datasetOffset, uint64_t* size);

}  // namespace velmo
