#pragma once
// Maximum-intensity projection over the resampled volume of a series: a slab bounded
// by two horizontal lines (projection along the image's vertical axis) or two
// vertical lines (along the horizontal axis), limited across by the other pair. Only
// values strictly between the lower and upper thresholds take part.
#include <cstdint>
#include <string_view>

#include "measure/mpr.h"

namespace velmo {

// Thresholds from the "上閾"/"下閾" texts: the integer in the box, 65535 / -65535 when
// the box is empty.
int32_t UpperThreshold(std::string_view text);
int32_t LowerThreshold(std::string_view text);

// The slab as it starts: x1 = 30, x2 = columns - 30, y1 = rows >> 2,
// y2 = 3 (rows >> 2), direction 1.
void ResetMipSlab(MprState& state);

// The projection of the slab into state.output, one row per plane; `rotationAngle` is
// the left pane's rotation in degrees (0: none), about the image centre. Each output
// entry starts at -2000 for signed data (as far as the samples reach), else 0.
void ProjectMip(MprState& state, int32_t lower, int32_t upper, int32_t rotationAngle);

}  // namespace velmo
