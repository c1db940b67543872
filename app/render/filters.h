#pragma once
// The two filters of the 8-bit display values ("ﾉｲｽﾞ除去" and "鮮鋭化"). Both work on
// W x H bytes in storage order and leave the first and last row and column as they
// are; bitmaps with W or H below 3 are not changed.
#include <cstdint>

namespace velmo {

// 3 x 3 median, in place, rows top to bottom (in storage order) and columns left to
// right: each pixel is judged against neighbours that were already filtered.
void MedianFilterInPlace(uint8_t* pixels, int32_t W, int32_t H);
// 5 * centre - the four direct neighbours, clamped to 0..255, computed from a copy of
// the input (`scratch`, W * H bytes).
void SharpenFilter(uint8_t* pixels, int32_t W, int32_t H, uint8_t* scratch);

}  // namespace velmo
