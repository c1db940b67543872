// CINE stepping rules.
#include "measure/cine.h"

#include <algorithm>

#include "base/numbers.h"

namespace velmo {

int CineIntervalFromText(std::string_view text) { return std::max<int32_t>(ParseInt(text), kMinCineIntervalMs); }

int32_t StepFrame(int32_t frame, int32_t frames, bool forward) {
  if (frames < 1) return 1;
  frame = std::clamp(frame, 1, frames);
  if (forward) return frame >= frames ? 1 : frame + 1;
  return frame <= 1 ? frames : frame - 1;
}

int32_t StepSeriesPosition(int32_t position, int32_t count, bool forward) {
  if (count <= 0) return 0;
  position = std::clamp(position, 0, count - 1);
  if (forward) return position + 1 >= count ? 0 : position + 1;
  return position <= 0 ? count - 1 : position - 1;
}

FrameEditResult InterpretFrameEdit(std::string_view text, int32_t frames, int32_t seriesCount) {
  FrameEditResult r;
  const int32_t n = ParseInt(text);
  if (IsMultiFrame(frames)) {
    r.apply = true;
    r.frame = std::clamp(n, 1, frames);
    r.slider = r.frame;
    return r;
  }
  if (n <= 0 || n > seriesCount) return r;
  r.apply = true;
  r.position = n - 1;
  r.slider = n;
  return r;
}

SliderSpan FrameSliderSpan(int32_t frames, int32_t seriesCount) {
  if (IsMultiFrame(frames)) return {1, frames};
  return {1, std::max(seriesCount, 1)};
}

int32_t PositionInSeries(const std::vector<int32_t>& series, int32_t entry) {
  const auto it = std::find(series.begin(), series.end(), entry);
  return it == series.end() ? -1 : static_cast<int32_t>(it - series.begin());
}

}  // namespace velmo
