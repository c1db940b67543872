#include "measure/ui/measurement_tool.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QHash>
#include <QStaticText>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolButton>
#include <QWidget>
#include <algorithm>

#include "base/text.h"
#include "dicom/dicom_image.h"
#include "measure/label_layout.h"

namespace velmo::ui {

namespace {

constexpr MeasurementTool kButtonTools[8] = {
    MeasurementTool::kDistance,  MeasurementTool::kAngle,  MeasurementTool::kRatio,  MeasurementTool::kPixelValue,
    MeasurementTool::kRoiCircle, MeasurementTool::kRoiBox, MeasurementTool::kSelect, MeasurementTool::kDelete};

// Label texts as QString. ASCII needs no conversion; the few Japanese texts (the ROI
// captions) are converted once and kept, as a repaint draws each of them three times.
QString FromSjis(std::string_view sjis) {
  if (std::all_of(sjis.begin(), sjis.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return QString::fromLatin1(sjis.data(), qsizetype(sjis.size()));
  static QHash<QByteArray, QString> cache;
  const QByteArray key(sjis.data(), qsizetype(sjis.size()));
  auto it = cache.constFind(key);
  if (it != cache.constEnd()) return *it;
  if (cache.size() > 4096) cache.clear();
  return *cache.insert(key, QString::fromStdString(Utf8FromSjis(sjis)));
}

QPoint Q(MeasurePoint p) { return {p.x, p.y}; }

struct Prepared {
  QStaticText text;
  QFont font;
  const QFont& prepared() const { return font; }
};

// Every figure is drawn twice: a black outline 3 pixels wide, then the colour 1 pixel wide.
class Figure {
 public:
  Figure(QPainter& p, const QColor& colour) : p_(p), colour_(colour) {}

  template <typename F>
  void Twice(F draw) {
    p_.setBrush(Qt::NoBrush);
    p_.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    draw();
    p_.setPen(QPen(colour_, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    draw();
  }
  void Line(MeasurePoint a, MeasurePoint b) {
    Twice([&] { p_.drawLine(Q(a), Q(b)); });
  }
  // A handle: a black square x-4..x+3, then the colour x-3..x+2.
  void Handle(MeasurePoint c) {
    p_.fillRect(QRect(c.x - 4, c.y - 4, 8, 8), Qt::black);
    p_.fillRect(QRect(c.x - 3, c.y - 3, 6, 6), colour_);
  }
  // Corner marks of a selected label.
  void CornerMarks(const LabelRect& r) {
    for (const MeasurePoint c : {MeasurePoint{r.left, r.top}, MeasurePoint{r.right, r.top},
                                 MeasurePoint{r.left, r.bottom}, MeasurePoint{r.right, r.bottom}}) {
      p_.fillRect(QRect(c.x - 3, c.y - 3, 6, 6), Qt::black);
      p_.fillRect(QRect(c.x - 2, c.y - 2, 4, 4), colour_);
    }
  }
  // Text with its top-left corner at (x, y): black one pixel down-right, then the colour.
  void Text(int x, int y, std::string_view sjis) {
    if (sjis.empty()) return;
    // Laid-out texts are kept: a repaint draws the same labels again and again.
    static QHash<QString, Prepared> laidOut;
    const QString s = FromSjis(sjis);
    auto it = laidOut.find(s);
    if (it == laidOut.end() || it->prepared() != p_.font()) {
      if (laidOut.size() > 4096) laidOut.clear();
      QStaticText t(s);
      t.setTextFormat(Qt::PlainText);
      t.prepare(QTransform(), p_.font());
      it = laidOut.insert(s, Prepared{t, p_.font()});
    }
    p_.setPen(Qt::black);
    p_.drawStaticText(QPoint(x + 1, y + 1), it->text);
    p_.setPen(colour_);
    p_.drawStaticText(QPoint(x, y), it->text);
  }
  // The eight handles of a ROI: corners and edge midpoints.
  void BoxHandles(MeasurePoint a, MeasurePoint b) {
    const int l = std::min(a.x, b.x), r = std::max(a.x, b.x), t = std::min(a.y, b.y), bo = std::max(a.y, b.y);
    const int mx = l + (r - l) / 2, my = t + (bo - t) / 2;
    for (const MeasurePoint c : {MeasurePoint{l, t}, MeasurePoint{r, t}, MeasurePoint{r, bo}, MeasurePoint{l, bo},
                                 MeasurePoint{l, my}, MeasurePoint{mx, t}, MeasurePoint{r, my}, MeasurePoint{mx, bo}})
      Handle(c);
  }

 private:
  QPainter& p_;
  QColor colour_;
};

}  // namespace

MeasurementToolController::MeasurementToolController(MeasurementHost host, MeasurementButtons buttons,
                                                     MeasurementColours colours, QObject* parent)
    : QObject(parent), host_(std::move(host)), buttons_(buttons), colours_(colours) {
  for (int i = 0; i < 8; ++i) {
    if (!buttons_[i]) continue;
    buttons_[i]->setCheckable(true);
    connect(buttons_[i], &QToolButton::toggled, this, [this, i](bool on) { OnToolButton(i, on); });
  }
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

bool MeasurementToolController::Context(int pane, MeasureContext* c) {
  const DicomImage* im = host_.paneImage(pane);
  if (!im) return false;
  *c = MakeMeasureContext(host_.paneDisplay(pane), *im, host_.notifier);
  if (host_.shownSamples) {
    PixelSource source;
    float spacing[2] = {c->pixelSpacing[0], c->pixelSpacing[1]};
    if (host_.shownSamples(pane, &source, spacing)) {
      c->pixels = source;
      c->view.rows = source.rows;
      c->view.columns = source.columns;
      c->pixelSpacing[0] = spacing[0];
      c->pixelSpacing[1] = spacing[1];
    }
  }
  return c->view.valid();
}

QPoint MeasurementToolController::Clamp(int pane, QPoint pos) const {
  // A drag that leaves the pane ends at its border.
  const DisplayGeometry& g = host_.paneDisplay(pane).last;
  return {std::clamp(pos.x(), 0, std::max(g.canvasWidth - 1, 0)), std::clamp(pos.y(), 0, std::max(g.canvasHeight - 1, 0))};
}

void MeasurementToolController::ClearPane(int pane) {
  pane = pane == 2 ? 2 : 1;
  panes_[pane].Clear();
  if (cursorSet_[pane]) {
    if (QWidget* w = host_.paneWidget(pane)) w->unsetCursor();
    cursorSet_[pane] = false;
  }
  host_.repaint(pane);
}

void MeasurementToolController::DeleteSelected() {
  const int pane = host_.activePane();
  if (panes_[pane].DeleteSelected()) host_.repaint(pane);
}

void MeasurementToolController::ShowButtons() {
  const MeasurementTool t = tool_[host_.activePane()];
  for (int i = 0; i < 8; ++i) {
    if (!buttons_[i]) continue;
    const QSignalBlocker block(buttons_[i]);
    buttons_[i]->setChecked(kButtonTools[i] == t);
  }
}

void MeasurementToolController::SwitchOff(int pane, MeasurementTool tool) {
  PaneMeasurements& m = panes_[pane];
  if (tool == MeasurementTool::kSelect) m.ClearSelection();
  if (tool == MeasurementTool::kRatio) m.ratio.selected = false;
}

void MeasurementToolController::OnToolButton(int index, bool on) {
  const int pane = host_.activePane();
  const MeasurementTool t = kButtonTools[index];
  PaneMeasurements& m = panes_[pane];
  if (on) {
    const MeasurementTool previous = tool_[pane];
    if (previous != MeasurementTool::kNone && previous != t) SwitchOff(pane, previous);
    tool_[pane] = t;
    host_.setMeasuring(pane, true);
    if (t != MeasurementTool::kSelect) m.ClearSelection();
    if (t == MeasurementTool::kRatio) {
      MeasureContext c;
      if (Context(pane, &c)) m.RatioToolOn(c);
    }
  } else {
    if (tool_[pane] == t) {
      tool_[pane] = MeasurementTool::kNone;
      host_.setMeasuring(pane, false);
    }
    SwitchOff(pane, t);
  }
  ShowButtons();
  host_.repaint(pane);
}

void MeasurementToolController::OnActivePaneChanged() { ShowButtons(); }

void MeasurementToolController::OnOtherModeOn() {
  const int pane = host_.activePane();
  if (tool_[pane] == MeasurementTool::kNone) return;
  SwitchOff(pane, tool_[pane]);
  tool_[pane] = MeasurementTool::kNone;
  ShowButtons();
  host_.repaint(pane);
}

void MeasurementToolController::OnPress(int pane, QPoint pos, Qt::MouseButton button) {
  pane = pane == 2 ? 2 : 1;
  if (button != Qt::LeftButton || pane != host_.activePane() || tool_[pane] == MeasurementTool::kNone ||
      !host_.measuring(pane))
    return;
  MeasureContext c;
  if (!Context(pane, &c)) return;
  PaneMeasurements& m = panes_[pane];
  if (m.Busy()) {  // a release outside the pane was missed: finish there first
    m.Release({pos.x(), pos.y()}, c);
  }
  const bool changed = m.Press(tool_[pane], {pos.x(), pos.y()}, c);
  if (m.Busy()) {
    if (QWidget* w = host_.paneWidget(pane)) {
      const bool moving = std::any_of(m.distances.begin(), m.distances.end(), [](auto& d) { return d.moving; }) ||
                          std::any_of(m.angles.begin(), m.angles.end(), [](auto& d) { return d.moving; }) ||
                          std::any_of(m.probes.begin(), m.probes.end(), [](auto& d) { return d.moving; }) ||
                          std::any_of(m.circles.begin(), m.circles.end(), [](auto& d) { return d.moving; }) ||
                          std::any_of(m.boxes.begin(), m.boxes.end(), [](auto& d) { return d.moving; }) ||
                          m.ratio.drag == RatioPart::kMidBody || m.ratio.drag == RatioPart::kHeartBody ||
                          m.ratio.drag == RatioPart::kThoraxBody;
      const bool sideways = m.ratio.drag >= RatioPart::kHeartStart && m.ratio.drag <= RatioPart::kThoraxEnd;
      if (moving || sideways) {
        w->setCursor(moving ? Qt::SizeAllCursor : Qt::SizeHorCursor);
        cursorSet_[pane] = true;
      }
    }
  }
  if (changed || m.Busy()) host_.repaint(pane);
}

void MeasurementToolController::OnMove(int pane, QPoint pos) {
  pane = pane == 2 ? 2 : 1;
  PaneMeasurements& m = panes_[pane];
  if (!m.Busy()) return;
  MeasureContext c;
  if (!Context(pane, &c)) {
    m.CancelDrags();
    return;
  }
  const QPoint p = Clamp(pane, pos);
  if (m.Move({p.x(), p.y()}, c)) host_.repaint(pane);
}

void MeasurementToolController::OnRelease(int pane, QPoint pos, Qt::MouseButton button) {
  pane = pane == 2 ? 2 : 1;
  if (button != Qt::LeftButton) return;
  PaneMeasurements& m = panes_[pane];
  if (cursorSet_[pane]) {
    if (QWidget* w = host_.paneWidget(pane)) w->unsetCursor();
    cursorSet_[pane] = false;
  }
  if (!m.Busy()) return;
  MeasureContext c;
  if (!Context(pane, &c)) {
    m.CancelDrags();
    return;
  }
  const QPoint p = Clamp(pane, pos);
  m.Release({p.x(), p.y()}, c);
  host_.repaint(pane);
}

bool MeasurementToolController::eventFilter(QObject* watched, QEvent* event) {
  // The Delete key released on the main window or one of its lists (not while text is
  // being edited). Only the first delivery, to the focus widget, counts.
  if (event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    QWidget* w = qobject_cast<QWidget*>(watched);
    QWidget* pane1 = host_.paneWidget(1);
    if (key->key() == Qt::Key_Delete && !key->isAutoRepeat() && w && pane1 && w->window() == pane1->window() &&
        (w == QApplication::focusWidget() || (!QApplication::focusWidget() && w == w->window())) &&
        !qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w)) {
      DeleteSelected();
    }
  }
  return QObject::eventFilter(watched, event);
}

void MeasurementToolController::Draw(int pane, QPainter& painter) {
  pane = pane == 2 ? 2 : 1;
  MeasureContext c;
  if (!Context(pane, &c)) return;
  PaneMeasurements& m = panes_[pane];
  if (m.Empty()) return;
  const int width = painter.device()->width(), height = painter.device()->height();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  const QFontMetrics fm = painter.fontMetrics();
  TextMeasure measure{[&fm](std::string_view sjis) { return int32_t(fm.horizontalAdvance(FromSjis(sjis))); },
                      fm.height()};
  m.MapForDrawing(c.view);
  LayOutLabels(m, measure, width, height);

  {
    Figure f(painter, colours_.distance);
    for (const DistanceMeasurement& d : m.distances) {
      if (!d.exists) continue;
      f.Line(d.drawn[0], d.drawn[1]);
      if (d.selected) f.Handle(d.drawn[0]), f.Handle(d.drawn[1]), f.CornerMarks(d.label);
      f.Text(d.label.left, d.label.top, d.text.view());
    }
  }
  {
    Figure f(painter, colours_.angle);
    for (const AngleMeasurement& a : m.angles) {
      if (!a.exists) continue;
      const bool first = a.firstInProgress || a.firstDone, second = a.secondInProgress || a.secondDone;
      for (int l = 0; l < 2; ++l) {
        if (!(l == 0 ? first : second)) continue;
        f.Line(a.drawn[l * 2], a.drawn[l * 2 + 1]);
        if (a.selected) f.Handle(a.drawn[l * 2]), f.Handle(a.drawn[l * 2 + 1]);
      }
      if (first && second) {
        if (a.selected) f.CornerMarks(a.label);
        f.Text(a.label.left, a.label.top, a.text.view());
      }
    }
  }
  {
    Figure f(painter, colours_.pixelValue);
    for (const PixelValueProbe& q : m.probes) {
      if (!q.exists) continue;
      f.Line(q.drawn, {q.drawn.x + 1, q.drawn.y});
      if (q.selected) f.Handle(q.drawn), f.CornerMarks(q.label);
      f.Text(q.label.left, q.label.top, q.text.view());
    }
  }
  for (int k = 0; k < 2; ++k) {
    Figure f(painter, k == 0 ? colours_.roiCircle : colours_.roiBox);
    for (const RoiMeasurement& r : k == 0 ? m.circles : m.boxes) {
      if (!r.exists) continue;
      const int l = std::min(r.drawn[0].x, r.drawn[1].x), t = std::min(r.drawn[0].y, r.drawn[1].y);
      const int rt = std::max(r.drawn[0].x, r.drawn[1].x), bo = std::max(r.drawn[0].y, r.drawn[1].y);
      if (k == 0) {
        // The ellipse inscribed in the rectangle, right and bottom edges exclusive.
        f.Twice([&] { painter.drawEllipse(QRect(l, t, rt - l, bo - t)); });
      } else {
        f.Twice([&] {
          painter.drawLine(l, t, rt, t);
          painter.drawLine(rt, t, rt, bo);
          painter.drawLine(rt, bo, l, bo);
          painter.drawLine(l, bo, l, t);
        });
      }
      if (r.selected) f.BoxHandles(r.drawn[0], r.drawn[1]);
      const int x = r.label.left, y = r.label.top;
      f.Text(x, y, r.texts.mean.view());
      f.Text(x, y + 18, r.texts.maximum.view());
      f.Text(x + fm.horizontalAdvance(FromSjis(r.texts.maximum.view())) + 5, y + 18, r.texts.minimum.view());
      f.Text(x, y + 36, r.texts.deviation.view());
      f.Text(x, y + 54, r.texts.area.view());
    }
  }
  if (m.ratio.exists) {
    const CardiothoracicRatio& r = m.ratio;
    Figure f(painter, colours_.ratio);
    const MeasurePoint* lines[3] = {r.drawnMid, r.drawnHeart, r.drawnThorax};
    for (const MeasurePoint* l : lines) {
      f.Line(l[0], l[1]);
      if (r.selected) f.Handle(l[0]), f.Handle(l[1]);
    }
    for (const auto& mark : r.drawnMarks) f.Line(mark[0], mark[1]);
    f.Text(r.ratioLabel.left, r.ratioLabel.top, r.ratioText.view());
    f.Text(r.sizeLabel.left, r.sizeLabel.top, r.sizeText.view());
  }
  painter.restore();
}

}  // namespace velmo::ui
