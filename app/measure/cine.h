#pragma once
// CINE playback without widgets: the per-pane playback state, one step forward or
// backward through the frames of a multi-frame image or through the images of a
// single-frame image's series, the interval rule, and what a frame edit or frame
// slider change means for a pane.
#include <cstdint>
#include <string_view>
#include <vector>

namespace velmo {

// Timer identifiers of the two panes; a tick with any other identifier is not CINE's.
inline constexpr int kCineTimerLeft = 100;
inline constexpr int kCineTimerRight = 101;
// The shortest interval a timer runs at.
inline constexpr int kMinCineIntervalMs = 10;

struct CinePaneState {
  bool forward = false;   // ">" pressed
  bool backward = false;  // "<" pressed (never both)
  int intervalMs = 0;     // taken from the interval edit when playback starts
  int seriesPosition = 0; // single-frame images: 0-based position within the series

  bool playing() const { return forward || backward; }
  // ">" or "<": sets that direction and clears the other.
  void Play(bool forwards) {
    forward = forwards;
    backward = !forwards;
  }
  void Stop() { forward = backward = false; }
};

// The interval edit's text as a timer interval: atoi of the text, raised to
// kMinCineIntervalMs (an empty or non-numeric text gives 0, hence the minimum).
int CineIntervalFromText(std::string_view text);

// An image counts as multi-frame with 2 or more frames.
inline bool IsMultiFrame(int32_t frameCount) { return frameCount >= 2; }

// One step of a multi-frame image (frames 1-based): forward after the last frame comes
// 1, backward below 1 comes `frames`. A frame outside 1..frames steps as if it were
// the nearest end.
int32_t StepFrame(int32_t frame, int32_t frames, bool forward);
// One step within a series of `count` images (positions 0-based), wrapping at both ends.
// A position outside 0..count-1 is taken as the nearest end; count <= 0 gives 0.
int32_t StepSeriesPosition(int32_t position, int32_t count, bool forward);

// What a change of the frame edit does to the active pane.
struct FrameEditResult {
  bool apply = false;  // false: the text is ignored
  int32_t frame = 1;   // multi-frame: the frame to show (1..frames)
  int32_t position = 0;  // single-frame: the series position to load (0-based)
  int32_t slider = 1;  // the frame slider's new position
};
// Multi-frame images (frames >= 2): the frame becomes the typed integer, held to
// 1..frames. Single-frame images: n <= 0 and n beyond the series' image count are
// ignored; otherwise position n - 1.
FrameEditResult InterpretFrameEdit(std::string_view text, int32_t frames, int32_t seriesCount);

// The frame slider's range for the pane's content: 1..frames for a multi-frame image,
// 1..seriesCount for a single-frame one (at least 1..1).
struct SliderSpan {
  int32_t min = 1, max = 1;
};
SliderSpan FrameSliderSpan(int32_t frames, int32_t seriesCount);

// The position of file-table entry `entry` within `series` (file-table indices in list
// order), or -1 when it is not there.
int32_t PositionInSeries(const std::vector<int32_t>& series, int32_t entry);

}  // namespace velmo
