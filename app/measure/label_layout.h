#pragma once
// Where the labels of the measurements go in a pane, kept inside the pane's borders.
// Text extents come from the drawing surface (the pane measures its own font), so the
// rules here take them as inputs. The results are the label rectangles that the
// drawing uses and the hit tests read.
#include <cstdint>
#include <functional>
#include <string_view>

#include "measure/measurement.h"

namespace velmo {

struct TextMeasure {
  std::function<int32_t(std::string_view sjis)> width;  // width of a text in pixels
  int32_t height = 12;                                  // height of a line of text
};

// A distance (or angle) label beside the end point `end`, above it when the line
// rises toward its end.
LabelRect PlaceLineLabel(MeasurePoint start, MeasurePoint end, int32_t textWidth, int32_t textHeight,
                         int32_t paneWidth, int32_t paneHeight);
// A probe label right of the probe, centred on it vertically.
LabelRect PlaceProbeLabel(MeasurePoint probe, int32_t textWidth, int32_t textHeight, int32_t paneWidth,
                          int32_t paneHeight);
// The ratio's two labels anchored at the heart line's second end: ratio text at
// (x, y), size text at (x, y + 18).
void PlaceRatioLabels(MeasurePoint heartEnd, int32_t ratioWidth, int32_t sizeWidth, int32_t textHeight,
                      int32_t paneWidth, int32_t paneHeight, LabelRect* ratioLabel, LabelRect* sizeLabel);
// The four-line statistics block of a ROI with bounding rectangle (left, top, right,
// bottom). The rectangle encloses every drawn text.
struct RoiLabelWidths {
  int32_t mean = 0, maximum = 0, minimum = 0, deviation = 0, area = 0;
};
LabelRect PlaceRoiLabel(const LabelRect& shape, const RoiLabelWidths& widths, int32_t paneWidth, int32_t paneHeight);

// Lays out every label of the pane (after MapForDrawing) and records the rectangles.
void LayOutLabels(PaneMeasurements& m, const TextMeasure& measure, int32_t paneWidth, int32_t paneHeight);

}  // namespace velmo
