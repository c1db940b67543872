// CINE stepping: frames and series positions wrap at both ends, the interval floor,
// and how a typed frame applies to multi-frame and single-frame images.
#include <gtest/gtest.h>

#include "measure/cine.h"

namespace velmo {
namespace {

TEST(Cine, TenFramesForwardWrapAndBackward) {
  std::vector<int32_t> shown;
  int32_t f = 1;
  shown.push_back(f);
  for (int i = 0; i < 11; ++i) shown.push_back(f = StepFrame(f, 10, true));
  EXPECT_EQ(shown, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1, 2}));
  EXPECT_EQ(StepFrame(1, 10, false), 10);
  EXPECT_EQ(StepFrame(10, 10, false), 9);
  // A frame left outside the image (typed, or from a longer image) steps from the nearest end.
  EXPECT_EQ(StepFrame(50, 10, true), 1);
  EXPECT_EQ(StepFrame(0, 10, false), 10);
  EXPECT_EQ(StepFrame(3, 0, true), 1);
}

TEST(Cine, SeriesPositionsWrap) {
  EXPECT_EQ(StepSeriesPosition(0, 5, false), 4);  // backward from the first shows the fifth
  EXPECT_EQ(StepSeriesPosition(4, 5, true), 0);
  EXPECT_EQ(StepSeriesPosition(2, 5, true), 3);
  EXPECT_EQ(StepSeriesPosition(0, 1, true), 0);
  EXPECT_EQ(StepSeriesPosition(0, 0, true), 0);
  EXPECT_EQ(StepSeriesPosition(9, 5, true), 0);
  EXPECT_EQ(StepSeriesPosition(-3, 5, false), 4);
}

TEST(Cine, PlayStopAndInterval) {
  CinePaneState s;
  s.Play(true);
  EXPECT_TRUE(s.forward && !s.backward);
  s.Play(false);
  EXPECT_TRUE(!s.forward && s.backward);
  s.Stop();
  EXPECT_FALSE(s.playing());
  EXPECT_EQ(CineIntervalFromText("100"), 100);
  EXPECT_EQ(CineIntervalFromText(""), kMinCineIntervalMs);
  EXPECT_EQ(CineIntervalFromText("abc"), kMinCineIntervalMs);
  EXPECT_EQ(CineIntervalFromText("-5"), kMinCineIntervalMs);
  EXPECT_EQ(CineIntervalFromText("99999999999"), INT32_MAX);
}

TEST(Cine, FrameEditOnSingleFrameSeries) {
  // Nothing for 0, negatives, text and numbers past the series.
  for (const char* t : {"0", "-2", "", "x", "6"}) EXPECT_FALSE(InterpretFrameEdit(t, 1, 5).apply) << t;
  FrameEditResult r = InterpretFrameEdit("5", 1, 5);
  EXPECT_TRUE(r.apply);
  EXPECT_EQ(r.position, 4);
  EXPECT_EQ(r.slider, 5);
  EXPECT_TRUE(InterpretFrameEdit("1", 0, 1).apply);  // frame count 0 counts as one frame
}

TEST(Cine, FrameEditOnMultiFrameImage) {
  FrameEditResult r = InterpretFrameEdit("7", 10, 1);
  EXPECT_TRUE(r.apply);
  EXPECT_EQ(r.frame, 7);
  EXPECT_EQ(r.slider, 7);
  EXPECT_EQ(InterpretFrameEdit("0", 10, 1).frame, 1);
  EXPECT_EQ(InterpretFrameEdit("25", 10, 1).frame, 10);
  EXPECT_EQ(FrameSliderSpan(10, 3).max, 10);
  EXPECT_EQ(FrameSliderSpan(1, 3).max, 3);
  EXPECT_EQ(FrameSliderSpan(1, 0).max, 1);
}

TEST(Cine, PositionOfAnEntry) {
  const std::vector<int32_t> series{7, 3, 9};
  EXPECT_EQ(PositionInSeries(series, 9), 2);
  EXPECT_EQ(PositionInSeries(series, 4), -1);
}

}  // namespace
}  // namespace velmo
