#pragma once
// What Velmo and its HTJ2K helper process (velmo-htj2k) say to each other through
// the helper's standard input and output: a request header, the codestream, and the
// frame back (see htj2k_child.h).
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace velmo::htj2k {

// What the parent sends ahead of the codestream (both ends are the same program
// build on the same machine, so the fields travel in native byte order).
struct Request {
  char magic[4];
  uint32_t rows;
  uint32_t columns;
  uint32_t bytesPerPixel;
  uint64_t length;
};
inline constexpr char kMagic[4] = {'V', 'H', 'J', '1'};
inline constexpr uint64_t kMaxStream = 1ull << 30;
inline constexpr uint64_t kMaxFrame = 0x7FFFFFFFull;

inline bool ReadExactly(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

inline bool WriteExactly(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Whether a bare JPEG 2000 codestream (SOC, then SIZ) declares its first component
// signed: bit 7 of its Ssiz byte.
inline bool FirstComponentSigned(const uint8_t* data, size_t length) {
  constexpr size_t kSsiz = 2 + 2 + 2 + 2 + 32 + 2;  // SOC, SIZ marker, Lsiz, Rsiz, sizes, Csiz
  return length > kSsiz && data[0] == 0xFF && data[1] == 0x4F && data[2] == 0xFF && data[3] == 0x51 &&
         (data[kSsiz] & 0x80) != 0;
}

}  // namespace velmo::htj2k
