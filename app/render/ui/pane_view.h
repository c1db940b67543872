#pragma once
// The two image panes of the main window ("1001" left, "1005" right) and the pieces
// of pane painting that do not need the main window: the pane layout arithmetic, the
// composition of a display bitmap's visible window into a QImage, the active-pane
// frame and the snapshot block.
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "render/pane_display.h"

namespace velmo::ui {

// Where the panes go for a client area of cx x cy logical pixels. The bottom
// kControlStripHeight pixels hold the lists and controls.
inline constexpr int kControlStripHeight = 230;

struct PaneLayout {
  int half = 0;                 // cx >> 1
  int paneHeight = 0;           // max(cy - 230, 0)
  int leftX = 0, leftWidth = 0;    // pane windows (logical pixels)
  int rightX = 0, rightWidth = 0;
  int canvasWidth = 0;          // Wc: device pixels, a multiple of 4
  int canvasHeight = 0;         // Hc: device pixels
  int side = 0;                 // S = min(Wc, Hc)
};

// Two panes side by side, or only the active pane over the whole width when
// `enlarged`. `dpr` is the device pixel ratio the canvas is built for.
PaneLayout ComputePaneLayout(int cx, int cy, bool enlarged, int activePane, double dpr = 1.0);

// Converts a colour of Velmo.ini (0x00BBGGRR) to a QColor.
QColor ColorFromBgr(uint32_t bgr);

// Copies the canvas window (Wc x Hc at panX, panY, top-left origin) of a display
// bitmap (the BMP image ConvertToDisplay wrote) into `out` (Format_RGB32, Wc x Hc),
// reusing its buffer when the size matches. Parts of the window outside the bitmap
// are black. False when the bitmap's header is not usable (nothing written).
bool ComposeCanvas(const std::vector<uint8_t>& bitmap, int canvasWidth, int canvasHeight, int panX, int panY,
                   QImage& out);

// Draws the active-pane frame: a closed rectangle from (2, 2) to (Wc - 3, Hc - 3),
// 3 pixels wide in `outer`, then 1 pixel wide in `inner` along the same path.
void DrawActiveFrame(QImage& canvas, const QColor& outer, const QColor& inner);

// The pane snapshot block: a 40-byte bitmap information header (biWidth Wc, biHeight
// Hc, 32 bits, 3780 pixels per metre) followed by the Wc x Hc pixels, bottom-up rows
// of blue, green, red, 0. Empty for a null image.
std::vector<uint8_t> SnapshotBlock(const QImage& snapshot);

class PaneView : public QWidget {
  Q_OBJECT
 public:
  // `pane` is 1 (left) or 2 (right).
  PaneView(int pane, QWidget* parent = nullptr);
  int pane() const { return pane_; }

  // Painting and input go to the owner (the main window).
  std::function<void(int pane, QPainter& painter)> paint;
  std::function<void(int pane, QMouseEvent* event)> mouse;
  std::function<void(int pane)> doubleClicked;

  // Position of a mouse event in device pixels of the pane.
  QPoint DevicePosition(const QPointF& logical) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  int pane_;
};

}  // namespace velmo::ui
