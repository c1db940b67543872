#include "measure/slice_line.h"

#include <cmath>

#include "dicom/dicom_image.h"

namespace velmo {

namespace {

struct V3 {
  float v[3];
  float operator[](int i) const { return v[i]; }
};
V3 Make(const float* p) { return {{p[0], p[1], p[2]}}; }
V3 Add(V3 a, V3 b, float t) { return {{a[0] + t * b[0], a[1] + t * b[1], a[2] + t * b[2]}}; }
float Dot(V3 a, V3 b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
V3 Cross(V3 a, V3 b) {
  return {{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]}};
}

struct Plane {
  V3 p, r, c, n, T, L;
  float d = 0;
  int32_t rowLabel = 0, columnLabel = 0;
  const SlicePlane* src = nullptr;
};

Plane Prepare(const SlicePlane& s) {
  Plane q;
  q.src = &s;
  q.p = Make(s.position);
  q.r = Make(s.row);
  q.c = Make(s.column);
  q.T = Add(q.p, q.r, float(s.columns) * s.columnSpacing);
  q.L = Add(q.p, q.c, float(s.rows) * s.rowSpacing);
  q.n = Cross(q.r, q.c);
  q.d = Dot(q.n, q.p);
  q.rowLabel = AxisLabel(s.row);
  q.columnLabel = AxisLabel(s.column);
  return q;
}

// Where the line origin + t direction meets `own`'s plane.
bool Pierce(const Plane& own, V3 origin, V3 direction, V3* out) {
  const float nd = Dot(own.n, direction);
  if (!std::isfinite(nd) || std::fabs(double(nd)) < 1e-9) return false;
  const float t = (own.d - Dot(own.n, origin)) / nd;
  *out = Add(origin, direction, t);
  return std::isfinite((*out)[0]) && std::isfinite((*out)[1]) && std::isfinite((*out)[2]);
}

// A point of the plane in fractional pixels of the image: its offset from the image
// position projected on the row and column directions, over the spacings.
bool ToPixels(const Plane& own, V3 x, double* col, double* row) {
  const double dx = double(x[0]) - own.p[0], dy = double(x[1]) - own.p[1], dz = double(x[2]) - own.p[2];
  const double alongRow = dx * own.r[0] + dy * own.r[1] + dz * own.r[2];
  const double alongColumn = dx * own.c[0] + dy * own.c[1] + dz * own.c[2];
  const double cs = own.src->columnSpacing, rs = own.src->rowSpacing;
  if (!(cs > 0) || !(rs > 0)) return false;
  *col = alongRow / cs;
  *row = alongColumn / rs;
  return std::isfinite(*col) && std::isfinite(*row);
}

// The edge of `other` (true: along its column direction, false: along its row
// direction) for the pane of `own`, decided by the four label tests in order, a later
// passing test overwriting an earlier one. `ownIsA` tells which role each plays.
bool ChooseEdge(const Plane& a, const Plane& b, bool forA, bool* alongColumn) {
  bool chosen = false;
  if (a.rowLabel == b.rowLabel) {
    *alongColumn = true;  // A: c(B); B: c(A)
    chosen = true;
  }
  if (b.rowLabel == a.columnLabel) {
    *alongColumn = forA ? true : false;  // A: c(B); B: r(A)
    chosen = true;
  }
  if (a.rowLabel == b.columnLabel) {
    *alongColumn = forA ? false : true;  // A: r(B); B: c(A)
    chosen = true;
  }
  if (a.columnLabel == b.columnLabel) {
    *alongColumn = false;  // A: r(B); B: r(A)
    chosen = true;
  }
  return chosen;
}

bool EndsOn(const Plane& own, const Plane& other, bool alongColumn, SliceLineEnds* ends) {
  const V3 dir = alongColumn ? other.c : other.r;
  // The opposite edge starts at the top-right corner for an edge along c, at the
  // bottom-left corner for an edge along r.
  const V3 origin2 = alongColumn ? other.T : other.L;
  V3 x1, x2;
  if (!Pierce(own, other.p, dir, &x1) || !Pierce(own, origin2, dir, &x2)) return false;
  return ToPixels(own, x1, &ends->x[0], &ends->y[0]) && ToPixels(own, x2, &ends->x[1], &ends->y[1]);
}

}  // namespace

SlicePlane SlicePlaneOf(const DicomImage& im) {
  SlicePlane s;
  for (int i = 0; i < 3; ++i) {
    s.position[i] = im.imagePosition[i];
    s.row[i] = im.imageOrientation[i];
    s.column[i] = im.imageOrientation[3 + i];
  }
  s.rows = im.rows;
  s.columns = im.columns;
  s.rowSpacing = im.pixelSpacing[0];
  s.columnSpacing = im.pixelSpacing[1];
  return s;
}

int32_t AxisLabel(const float direction[3]) {
  const float high = static_cast<float>(std::cos(0.7853975));
  const float low = static_cast<float>(std::cos(2.3561926));
  int32_t label = 0;
  for (int k = 0; k < 3; ++k) {
    if (direction[k] > high) label = k + 1;
    if (direction[k] < low) label = -(k + 1);
  }
  return label;
}

SliceLineGeometry ComputeSliceLine(const SlicePlane& sa, const SlicePlane& sb) {
  SliceLineGeometry g;
  const Plane a = Prepare(sa), b = Prepare(sb);
  if (a.d == b.d) return g;
  bool edgeA = false, edgeB = false;
  if (!ChooseEdge(a, b, true, &edgeA) || !ChooseEdge(a, b, false, &edgeB)) return g;
  if (!EndsOn(a, b, edgeA, &g.a) || !EndsOn(b, a, edgeB, &g.b)) return g;
  g.available = true;
  return g;
}

bool SliceLineInDrawRange(double x0, double y0, double x1, double y1, double extentX, double extentY) {
  auto inside = [](double v, double extent) { return v > -2.0 * extent && v < 3.0 * extent; };
  return inside(x0, extentX) && inside(x1, extentX) && inside(y0, extentY) && inside(y1, extentY);
}

}  // namespace velmo
