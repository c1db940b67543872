#include "measure/label_layout.h"

#include <algorithm>

namespace velmo {

LabelRect PlaceLineLabel(MeasurePoint start, MeasurePoint end, int32_t textWidth, int32_t textHeight,
                         int32_t paneWidth, int32_t paneHeight) {
  int32_t top = end.y + 5;
  if (end.y < start.y) top = end.y - 20;
  top = std::max(top, 5);
  top = std::min(top, paneHeight - 23);
  const int32_t left = std::min(end.x + 5, paneWidth - textWidth - 5);
  return {left, top, left + textWidth, top + textHeight};
}

LabelRect PlaceProbeLabel(MeasurePoint probe, int32_t textWidth, int32_t textHeight, int32_t paneWidth,
                          int32_t paneHeight) {
  int32_t top = probe.y - textHeight / 2;
  top = std::max(top, 5);
  top = std::min(top, paneHeight - textHeight - 5);
  const int32_t left = std::min(probe.x + 5, paneWidth - textWidth - 10);
  return {left, top, left + textWidth, top + textHeight};
}

void PlaceRatioLabels(MeasurePoint heartEnd, int32_t ratioWidth, int32_t sizeWidth, int32_t textHeight,
                      int32_t paneWidth, int32_t paneHeight, LabelRect* ratioLabel, LabelRect* sizeLabel) {
  int32_t y = heartEnd.y >= 81 ? heartEnd.y - 76 : 5;
  y = std::min(y, paneHeight - 41);
  const int32_t x = std::min(heartEnd.x + 5, paneWidth - sizeWidth - 5);
  *ratioLabel = {x, y, x + ratioWidth, y + textHeight};
  *sizeLabel = {x, y + 18, x + sizeWidth, y + 18 + textHeight};
}

LabelRect PlaceRoiLabel(const LabelRect& shape, const RoiLabelWidths& w, int32_t paneWidth, int32_t paneHeight) {
  const int32_t y = std::min(shape.top, paneHeight - 77);
  const int32_t x = std::min(shape.right + 5, paneWidth - (w.maximum + w.mean) - 10);
  // The block is measured with the mean and maximum texts; widened so that every
  // drawn line (the minimum stands right of the maximum) is inside it.
  int32_t width = w.maximum + w.mean + 5;
  width = std::max({width, w.mean, w.maximum + 5 + w.minimum, w.deviation, w.area});
  return {x, y, x + width, y + 72};
}

namespace {

LabelRect Bounds(MeasurePoint a, MeasurePoint b) {
  return {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

}  // namespace

void LayOutLabels(PaneMeasurements& m, const TextMeasure& t, int32_t paneWidth, int32_t paneHeight) {
  for (DistanceMeasurement& d : m.distances)
    if (d.exists)
      d.label = PlaceLineLabel(d.drawn[0], d.drawn[1], t.width(d.text.view()), t.height, paneWidth, paneHeight);
  for (AngleMeasurement& a : m.angles) {
    a.label = {};
    const bool both = (a.firstDone || a.firstInProgress) && (a.secondDone || a.secondInProgress);
    if (a.exists && both)
      a.label = PlaceLineLabel(a.drawn[2], a.drawn[3], t.width(a.text.view()), t.height, paneWidth, paneHeight);
  }
  for (PixelValueProbe& p : m.probes)
    if (p.exists) p.label = PlaceProbeLabel(p.drawn, t.width(p.text.view()), t.height, paneWidth, paneHeight);
  for (auto* set : {&m.circles, &m.boxes})
    for (RoiMeasurement& r : *set) {
      if (!r.exists) continue;
      RoiLabelWidths w{t.width(r.texts.mean.view()), t.width(r.texts.maximum.view()), t.width(r.texts.minimum.view()),
                       t.width(r.texts.deviation.view()), t.width(r.texts.area.view())};
      r.label = PlaceRoiLabel(Bounds(r.drawn[0], r.drawn[1]), w, paneWidth, paneHeight);
    }
  CardiothoracicRatio& r = m.ratio;
  if (r.exists) {
    PlaceRatioLabels(r.drawnHeart[1], t.width(r.ratioText.view()), t.width(r.sizeText.view()), t.height, paneWidth,
                     paneHeight, &r.ratioLabel, &r.sizeLabel);
    r.label = {std::min(r.ratioLabel.left, r.sizeLabel.left), r.ratioLabel.top,
               std::max(r.ratioLabel.right, r.sizeLabel.right), r.sizeLabel.bottom};
  }
}

}  // namespace velmo
