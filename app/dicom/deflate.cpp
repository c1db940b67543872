#include "dicom/deflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace velmo {

namespace {

// Inflates [in, in + length) into out (cleared first), with raw deflate (windowBits
// -15) or a zlib wrapper (15), stopping with kTooLarge beyond `limit` bytes.
InflateResult Inflate(const uint8_t* in, size_t length, int windowBits, uint64_t limit, std::vector<uint8_t>& out) {
  z_stream z{};
  if (inflateInit2(&z, windowBits) != Z_OK) return InflateResult::kDamaged;
  out.clear();
  size_t produced = 0;
  size_t consumed = 0;
  InflateResult result = InflateResult::kDamaged;
  for (;;) {
    if (produced == out.size()) {
      if (produced >= limit) {
        result = InflateResult::kTooLarge;
        break;
      }
      const uint64_t grow = std::max<uint64_t>(out.size(), std::min<uint64_t>(length * 4 + 4096, limit));
      try {
        out.resize(static_cast<size_t>(std::min<uint64_t>(out.size() + grow, limit)));
      } catch (const std::bad_alloc&) {
        result = InflateResult::kTooLarge;
        break;
      }
    }
    // zlib counts in 32 bits: feed and drain at most 1 GiB at a time.
    const size_t inChunk = std::min<size_t>(length - consumed, 1u << 30);
    const size_t outChunk = std::min<size_t>(out.size() - produced, 1u << 30);
    z.next_in = const_cast<Bytef*>(in + consumed);
    z.avail_in = static_cast<uInt>(inChunk);
    z.next_out = out.data() + produced;
    z.avail_out = static_cast<uInt>(outChunk);
    const int rc = inflate(&z, Z_NO_FLUSH);
    consumed += inChunk - z.avail_in;
    produced += outChunk - z.avail_out;
    if (rc == Z_STREAM_END) {
      result = InflateResult::kOk;
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
    // No progress with input left and room to write: the stream is cut.
    if (rc == Z_BUF_ERROR && consumed == length && produced < out.size()) break;
    if (consumed == length && z.avail_out != 0) break;
  }
  inflateEnd(&z);
  out.resize(result == InflateResult::kOk ? produced : 0);
  return result;
}

}  // namespace

InflateResult InflateDataset(std::vector<uint8_t>& buffer, size_t datasetOffset, uint64_t* size) {
  if (datasetOffset > *size || *size > buffer.size()) return InflateResult::kDamaged;
  const uint8_t* in = buffer.data() + datasetOffset;
  const size_t length = static_cast<size_t>(*size - datasetOffset);
  const uint64_t ratioLimit = std::max<uint64_t>(kInflateAlwaysPlausible, static_cast<uint64_t>(length) * kMaxInflateRatio);
  const uint64_t limit = std::min<uint64_t>(ratioLimit, kMaxInflatedFile - datasetOffset);
  std::vector<uint8_t> out;
  InflateResult result = Inflate(in, length, -15, limit, out);
  // Some writers wrap the stream in a zlib header: accept that too.
  if (result == InflateResult::kDamaged && length >= 2 && (in[0] & 0x0F) == 8 && ((in[0] << 8) | in[1]) % 31 == 0)
    result = Inflate(in, length, 15, limit, out);
  if (result != InflateResult::kOk) return result;
  try {
    buffer.resize(datasetOffset + out.size());
  } catch (const std::bad_alloc&) {
    return InflateResult::kTooLarge;
  }
  std::copy(out.begin(), out.end(), buffer.begin() + static_cast<ptrdiff_t>(datasetOffset));
  *size = datasetOffset + out.size();
  return InflateResult::kOk;
}

}  // namespace velmo
