#include "render/ui/pane_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "render/convert.h"

namespace velmo::ui {

PaneLayout ComputePaneLayout(int cx, int cy, bool enlarged, int activePane, double dpr) {
  PaneLayout l;
  cx = std::max(cx, 0);
  l.half = cx >> 1;
  l.paneHeight = std::max(cy - kControlStripHeight, 0);
  if (dpr <= 0) dpr = 1.0;
  int logicalWidth;
  if (enlarged) {
    logicalWidth = cx;
    if (activePane == 2) {
      l.rightX = 0;
      l.rightWidth = cx;
      l.leftX = 0;
      l.leftWidth = 0;
    } else {
      l.leftX = 0;
      l.leftWidth = cx;
      l.rightX = cx;
      l.rightWidth = 0;
    }
  } else {
    logicalWidth = l.half;
    l.leftX = 0;
    l.leftWidth = l.half;
    l.rightX = l.half;
    l.rightWidth = l.half;
  }
  // The canvas is in device pixels; its width is a multiple of 4 for the bitmap rows.
  const int deviceWidth = static_cast<int>(logicalWidth * dpr);
  const int deviceHeight = static_cast<int>(l.paneHeight * dpr);
  l.canvasWidth = deviceWidth & ~3;
  l.canvasHeight = deviceHeight;
  l.side = std::min(l.canvasWidth, l.canvasHeight);
  return l;
}

QColor ColorFromBgr(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

bool ComposeCanvas(const std::vector<uint8_t>& bitmap, int canvasWidth, int canvasHeight, int panX, int panY,
                   QImage& out) {
  if (canvasWidth <= 0 || canvasHeight <= 0 || bitmap.size() < 54 || bitmap[0] != 'B' || bitmap[1] != 'M')
    return false;
  const uint32_t offBits = BitmapU32(bitmap, 10);
  const int64_t W = static_cast<int32_t>(BitmapU32(bitmap, 18));
  const int64_t H = static_cast<int32_t>(BitmapU32(bitmap, 22));
  const uint16_t bitCount = BitmapU16(bitmap, 28);
  if (W <= 0 || H <= 0 || (bitCount != 8 && bitCount != 32)) return false;
  const int64_t bytesPerPixel = bitCount / 8;
  if (static_cast<uint64_t>(offBits) + static_cast<uint64_t>(W * H * bytesPerPixel) > bitmap.size()) return false;
  if (bitCount == 8 && bitmap.size() < 54 + 1024) return false;

  if (out.width() != canvasWidth || out.height() != canvasHeight || out.format() != QImage::Format_RGB32)
    out = QImage(canvasWidth, canvasHeight, QImage::Format_RGB32);
  out.fill(Qt::black);

  uint32_t table[256];
  if (bitCount == 8) {
    const uint8_t* t = bitmap.data() + 54;
    for (int i = 0; i < 256; ++i)
      table[i] = 0xFF000000u | uint32_t{t[i * 4 + 2]} << 16 | uint32_t{t[i * 4 + 1]} << 8 | t[i * 4];
  }
  const uint8_t* pixels = bitmap.data() + offBits;
  const int64_t x0 = std::max<int64_t>(panX, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{panX} + canvasWidth, W);
  if (x1 <= x0) return true;
  for (int y = 0; y < canvasHeight; ++y) {
    const int64_t py = int64_t{panY} + y;  // picture row, top-left origin
    if (py < 0 || py >= H) continue;
    const int64_t memRow = H - 1 - py;  // rows are stored bottom-up
    auto* dst = reinterpret_cast<uint32_t*>(out.scanLine(y)) + (x0 - panX);
    if (bitCount == 8) {
      const uint8_t* src = pixels + memRow * W + x0;
      for (int64_t x = x0; x < x1; ++x) *dst++ = table[*src++];
    } else {
      const uint8_t* src = pixels + (memRow * W + x0) * 4;
      for (int64_t x = x0; x < x1; ++x, src += 4)
        *dst++ = 0xFF000000u | uint32_t{src[2]} << 16 | uint32_t{src[1]} << 8 | src[0];
    }
  }
  return true;
}

void DrawActiveFrame(QImage& canvas, const QColor& outer, const QColor& inner) {
  if (canvas.isNull()) return;
  QPainter p(&canvas);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QRect r(2, 2, canvas.width() - 5, canvas.height() - 5);  // (2,2) .. (Wc-3, Hc-3)
  QPen pen(outer, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawRect(r);
  pen.setColor(inner);
  pen.setWidth(1);
  p.setPen(pen);
  p.drawRect(r);
}

std::vector<uint8_t> SnapshotBlock(const QImage& snapshot) {
  std::vector<uint8_t> out;
  if (snapshot.isNull()) return out;
  const QImage img = snapshot.format() == QImage::Format_RGB32 ? snapshot
                                                              : snapshot.convertToFormat(QImage::Format_RGB32);
  const int w = img.width(), h = img.height();
  out.assign(40 + static_cast<size_t>(w) * h * 4, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(w));
  put32(8, static_cast<uint32_t>(h));
  out[12] = 1;   // biPlanes
  out[14] = 32;  // biBitCount
  put32(24, 3780);
  put32(28, 3780);
  uint8_t* dst = out.data() + 40;
  for (int y = h - 1; y >= 0; --y) {
    const auto* src = reinterpret_cast<const uint32_t*>(img.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const uint32_t v = src[x];
      *dst++ = static_cast<uint8_t>(v);
      *dst++ = static_cast<uint8_t>(v >> 8);
      *dst++ = static_cast<uint8_t>(v >> 16);
      *dst++ = 0;
    }
  }
  return out;
}

PaneView::PaneView(int pane, QWidget* parent) : QWidget(parent), pane_(pane) {
  setObjectName(pane == 2 ? "1005" : "1001");
  // The pane paints every pixel itself; no background erase.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setMouseTracking(false);
}

QPoint PaneView::DevicePosition(const QPointF& logical) const {
  const double dpr = devicePixelRatioF();
  return QPoint(static_cast<int>(logical.x() * dpr), static_cast<int>(logical.y() * dpr));
}

void PaneView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (paint)
    paint(pane_, painter);
  else
    painter.fillRect(rect(), Qt::black);
}

void PaneView::mousePressEvent(QMouseEvent* event) {
  if (mouse) mouse(pane_, event);
}
void PaneView::mouseMoveEvent(QMouseEvent* event) {
  if (mouse) mouse(pane_, event);
}
void PaneView::mouseReleaseEvent(QMouseEvent* event) {
  if (mouse) mouse(pane_, event);
}
void PaneView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && doubleClicked) {
    doubleClicked(pane_);
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
}

}  // namespace velmo::ui
