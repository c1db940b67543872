// The helper process's side of HTJ2K decoding (velmo-htj2k's main). Built only into
// the helper, so the programs themselves never load the HT decoder's library (whose
// start-up alone costs about a millisecond of CPU).
#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "dicom/htj2k_child.h"
#include "dicom/htj2k_decode.h"
#include "dicom/htj2k_protocol.h"
#include "dicom/j2k_decode.h"

namespace velmo {

using namespace htj2k;

int RunHtj2kHelper(int in, int out) {
  // Few malloc arenas: each reserves address space, which the memory limit counts.
  mallopt(M_ARENA_MAX, 2);
  Request request{};
  if (!ReadExactly(in, reinterpret_cast<uint8_t*>(&request), sizeof(request))) return 2;
  if (std::memcmp(request.magic, kMagic, 4) != 0 || request.rows == 0 || request.rows > 0xFFFF ||
      request.columns == 0 || request.columns > 0xFFFF || request.bytesPerPixel < 1 || request.bytesPerPixel > 3 ||
      request.length > kMaxStream)
    return 2;
  const uint64_t frameBytes = uint64_t{request.rows} * request.columns * request.bytesPerPixel;
  if (frameBytes > kMaxFrame) return 2;
  std::vector<uint8_t> stream, frame;
  try {
    stream.resize(static_cast<size_t>(request.length));
    frame.assign(static_cast<size_t>(frameBytes), 0);
  } catch (const std::bad_alloc&) {
    return 3;
  }
  if (!ReadExactly(in, stream.data(), stream.size())) return 2;
  const int rows = static_cast<int>(request.rows), columns = static_cast<int>(request.columns);
  const int bytesPerPixel = static_cast<int>(request.bytesPerPixel);
  // OpenJPEG reads HTJ2K but not signed samples (they come out clamped), so signed
  // codestreams go to OpenJPH; the rest to OpenJPEG, which is faster and also reads
  // JP2 files. A few threads for large streams.
  const unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  const int threads = stream.size() >= 64 * 1024 ? static_cast<int>(cores) : 1;
  const bool ok = FirstComponentSigned(stream.data(), stream.size())
                      ? DecodeHtj2k(stream.data(), stream.size(), frame.data(), rows, columns, bytesPerPixel)
                      : DecodeJpeg2000AnyCoding(stream.data(), stream.size(), frame.data(), rows, columns,
                                                bytesPerPixel, threads);
  if (!ok) return 1;
  return WriteExactly(out, frame.data(), frame.size()) ? 0 : 2;
}

}  // namespace velmo
