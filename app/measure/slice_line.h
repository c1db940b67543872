#pragma once
// The slice line: on each pane, the segment where the other pane's image plane,
// between its edges, crosses this pane's image. The end points are where two
// opposite edges of the other image pierce this image's plane, turned into
// fractional pixel coordinates of this image by projecting onto its row and column
// directions.
#include <cstdint>

namespace velmo {

struct DicomImage;

// One image's plane: position, row and column directions, size and spacing.
struct SlicePlane {
  float position[3] = {0, 0, 0};
  float row[3] = {0, 0, 0};     // direction along a row (first orientation triplet)
  float column[3] = {0, 0, 0};  // direction down a column (second triplet)
  int32_t rows = 0, columns = 0;
  float rowSpacing = 0, columnSpacing = 0;  // (0028,0030) first and second values
};
SlicePlane SlicePlaneOf(const DicomImage& im);

// End points of one pane's line in fractional image pixels (column, row).
struct SliceLineEnds {
  double x[2] = {0, 0}, y[2] = {0, 0};
};

struct SliceLineGeometry {
  bool available = false;
  SliceLineEnds a, b;  // on image A's pane and on image B's pane
};

// The dominant patient axis of a direction: +1/+2/+3 (x, y, z) or -1/-2/-3, the last
// component (x, y, z order) that passes; 0 when none does.
int32_t AxisLabel(const float direction[3]);

// Both panes' lines at once. Not available when the planes have the same plane
// constant, when an edge runs parallel to the plane it should pierce, when no edge
// pair matches the axis labels, or when an end point is not finite.
SliceLineGeometry ComputeSliceLine(const SlicePlane& a, const SlicePlane& b);

// Whether both mapped end points lie strictly between -2 and 3 times the displayed
// image extent on each axis (the line is drawn only then).
bool SliceLineInDrawRange(double x0, double y0, double x1, double y1, double extentX, double extentY);

}  // namespace velmo
