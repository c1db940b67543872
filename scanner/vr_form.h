#pragma once
/* Which value representations use the long element form in the explicit VR
 * encodings: two reserved bytes and a 4-byte length after the VR. Every reader
 * and writer of the system sizes elements through this one definition. */
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C++" {
namespace velmo {
#endif

/* OB OD OF OL OV OW SQ SV UC UN UR UT UV, compared as the two bytes stand in the
 * stream (VR characters have the same order in both byte orders). */
static inline bool IsLongFormVr(uint8_t c0, uint8_t c1) {
  switch (c0) {
    case 'O': return c1 == 'B' || c1 == 'D' || c1 == 'F' || c1 == 'L' || c1 == 'V' || c1 == 'W';
    case 'S': return c1 == 'Q' || c1 == 'V';
    case 'U': return c1 == 'C' || c1 == 'N' || c1 == 'R' || c1 == 'T' || c1 == 'V';
    default: return false;
  }
}
static inline bool IsLongFormVr(const char* vr) {
  return IsLongFormVr(static_cast<uint8_t>(vr[0]), static_cast<uint8_t>(vr[1]));
}

#ifdef __cplusplus
}  // namespace velmo
}
#endif
