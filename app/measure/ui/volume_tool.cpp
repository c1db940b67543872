#include "measure/ui/volume_tool.h"

#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <system_error>

#include "base/log.h"
#include "base/notifier.h"
#include "base/numbers.h"
#include "base/text.h"
#include "measure/measurement.h"
#include "measure/mip.h"
#include "render/pane_display.h"

namespace velmo::ui {

namespace {

// Lines are picked within this many image pixels.
constexpr int32_t kPickDistance = 5;

void DrawLine(QPainter& p, const QColor& colour, QPointF a, QPointF b) {
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.drawLine(a, b);
  p.setPen(QPen(colour, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.drawLine(a, b);
}

std::string Sjis(const QLineEdit* edit) {
  return edit ? SjisFromUtf8(edit->text().toStdString()) : std::string();
}

}  // namespace

VolumeToolController::VolumeToolController(VolumeHost host, VolumeControls controls, VolumeColours colours,
                                           QObject* parent)
    : QObject(parent), host_(std::move(host)), controls_(controls), colours_(colours) {
  if (controls_.mpr) connect(controls_.mpr, &QToolButton::toggled, this, [this](bool on) { SetMpr(on); });
  if (controls_.mip) connect(controls_.mip, &QToolButton::toggled, this, [this](bool on) { SetMip(on); });
  if (controls_.sliceLine)
    connect(controls_.sliceLine, &QToolButton::toggled, this, [this](bool on) { SetSliceLine(on); });
  // A changed threshold applies to the projection at once.
  for (QLineEdit* edit : {controls_.upper, controls_.lower}) {
    if (!edit) continue;
    connect(edit, &QLineEdit::editingFinished, this, [this] {
      if (mode_ == Mode::kMip) Recompute(false);
    });
  }
}

VolumeToolController::~VolumeToolController() {
  progress_.cancel = true;
  JoinWorker();
}

void VolumeToolController::JoinWorker() {
  if (worker_.joinable()) worker_.join();
}

void VolumeToolController::ShowButtons() {
  const QSignalBlocker b1(controls_.mpr), b2(controls_.mip);
  if (controls_.mpr) controls_.mpr->setChecked(mode_ == Mode::kMpr);
  if (controls_.mip) controls_.mip->setChecked(mode_ == Mode::kMip);
}

void VolumeToolController::SetMpr(bool on) {
  if (on) {
    if (mode_ != Mode::kMpr) Start(Mode::kMpr);
  } else if (mode_ == Mode::kMpr) {
    SwitchOff();
  }
  ShowButtons();
}

void VolumeToolController::SetMip(bool on) {
  if (on) {
    if (mode_ != Mode::kMip) Start(Mode::kMip);
  } else if (mode_ == Mode::kMip) {
    SwitchOff();
  }
  ShowButtons();
}

void VolumeToolController::SetSliceLine(bool on) {
  sliceFlag_[host_.activePane() == 2 ? 2 : 1] = on;
  host_.repaint(0, false);
}

void VolumeToolController::SwitchOff() {
  const bool wasOn = mode_ != Mode::kOff;
  mode_ = Mode::kOff;
  state_.dragging = false;
  state_.mipDragging = false;
  host_.paneDisplay(2).nearestOnly = false;
  if (host_.rightShowsReformat()) host_.showReformat(nullptr);
  if (wasOn) host_.setLineMode(false);
  ShowButtons();
  host_.repaint(0, false);
}

void VolumeToolController::Fail(const std::string& message) {
  if (host_.log) host_.log->Write(message, kLogWarning, 1);
  if (host_.notifier) host_.notifier->Show(SJ("警告"), message, NoticeIcon::Warning);
  SwitchOff();
}

bool VolumeToolController::BuildVolume(const DicomImage& left) {
  std::string message;
  const MprReadResult read = ReadSeriesForVolume(left, host_.leftSeriesPaths(),
                                                 mode_ == Mode::kMip ? VolumeView::kMip : VolumeView::kMpr, state_,
                                                 &message, host_.log);
  if (read == MprReadResult::kFailed) {
    // ReadSeriesForVolume has logged it.
    if (host_.notifier) host_.notifier->Show(SJ("警告"), message, NoticeIcon::Warning);
    SwitchOff();
    return false;
  }
  if (read == MprReadResult::kNoSlices) {
    SwitchOff();
    return false;
  }
  uint64_t bytes = 0;
  if (!AllocateVolume(state_, &bytes)) {
    Fail(Format(SJ("MPR用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
                static_cast<unsigned long long>(bytes)));
    return false;
  }
  progress_.cancel = false;
  progress_.done = false;
  progress_.plane = 0;
  building_ = true;
  host_.setBusy(true);
  const unsigned cores = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
  auto work = [this, cores, hook = workerStarting] {
    if (hook) hook(progress_);
    velmo::BuildVolume(state_, progress_, int(cores));
  };
  try {
    worker_ = std::thread(work);
  } catch (const std::system_error&) {
    work();  // no worker thread to be had: the build runs here
  }
  const bool finished = host_.runProgress(
      state_.planes, [this] { return progress_.plane.load(); }, [this] { return progress_.done.load(); });
  if (!finished) progress_.cancel = true;
  // The worker is joined before anything it works on is touched or freed.
  JoinWorker();
  host_.setBusy(false);
  building_ = false;
  if (!finished) {
    state_.ReleaseVolume();
    if (host_.log) host_.log->Write(SJ("MPR/MIPの演算を中止しました"), kLogNormal, 2);
    SwitchOff();
    return false;
  }
  state_.volumeValid = true;
  return true;
}

bool VolumeToolController::Start(Mode mode) {
  const DicomImage* shown = host_.shownImage(1);
  if (shown == nullptr || building_) {
    mode_ = Mode::kOff;
    ShowButtons();
    return false;
  }
  const DicomImage left = [&] {
    DicomImage copy = *shown;  // the left record may be replaced while the worker runs
    std::vector<uint8_t>().swap(copy.displayBitmap);
    return copy;
  }();
  const bool wasOn = mode_ != Mode::kOff;
  mode_ = mode;  // the other tool is off from here
  ShowButtons();
  if (!wasOn) host_.setLineMode(true);
  if (!(state_.volumeValid && state_.seriesUid == left.seriesInstanceUid && state_.rows == left.rows &&
        state_.columns == left.columns)) {
    if (!BuildVolume(left)) return false;
  }
  if (mode_ == Mode::kMpr) {
    state_.lineX = state_.columns / 2;
    state_.lineY = state_.rows / 2;
    state_.dragging = false;
  } else {
    ResetMipSlab(state_);
    mipRotation_ = host_.paneDisplay(1).rotationAngle;
  }
  FillReformatRecord(left, state_, slot_);
  Recompute(false);
  host_.showReformat(&slot_);
  host_.clearRightMeasurements();
  host_.repaint(0, true);
  return true;
}

void VolumeToolController::Recompute(bool draft) {
  if (mode_ == Mode::kOff || !state_.volumeValid) return;
  if (mode_ == Mode::kMpr) {
    ExtractMpr(state_, draft);
  } else {
    ProjectMip(state_, LowerThreshold(Sjis(controls_.lower)), UpperThreshold(Sjis(controls_.upper)),
               host_.paneDisplay(1).rotationAngle);
  }
  UpdateReformatPixels(state_, slot_);
  // Across the output the pixels are as far apart as the rows (vertical line, MIP
  // along the horizontal axis) or the columns of the left image; down it, the planes
  // are one row spacing apart.
  const bool acrossRows = mode_ == Mode::kMpr ? state_.activeLine == 2 : state_.mipDirection == 2;
  slot_.pixelSpacing[0] = state_.rowSpacing;
  slot_.pixelSpacing[1] = acrossRows ? state_.rowSpacing : host_.shownImage(1) ? host_.shownImage(1)->pixelSpacing[1]
                                                                               : state_.rowSpacing;
  host_.paneDisplay(2).needsConversion = true;
}

bool VolumeToolController::ImagePixel(int pane, QPoint pos, int32_t* x, int32_t* y) const {
  const DicomImage* im = host_.shownImage(pane);
  if (!im) return false;
  const MeasureView v = MakeMeasureView(host_.paneDisplay(pane), im->rows, im->columns);
  if (!v.valid()) return false;
  const MeasurePoint p = v.FromPane({pos.x(), pos.y()});
  double col = 0, row = 0;
  DisplayToImageF(v, p.x, p.y, &col, &row);
  *x = TruncToInt32(col);
  *y = TruncToInt32(row);
  return true;
}

void VolumeToolController::OnPress(int pane, QPoint pos, Qt::MouseButton button) {
  if (pane != 1 || button != Qt::LeftButton || mode_ == Mode::kOff) return;
  int32_t x = 0, y = 0;
  if (!ImagePixel(1, pos, &x, &y)) return;
  if (mode_ == Mode::kMpr) {
    int line = 0;
    if (std::abs(int64_t(y) - state_.lineY) <= kPickDistance)
      line = 1;
    else if (std::abs(int64_t(x) - state_.lineX) <= kPickDistance)
      line = 2;
    if (line == 0) return;
    state_.dragging = true;
    if (line != state_.activeLine) {
      state_.activeLine = line;
      Recompute(false);
      host_.repaint(0, true);
    }
    return;
  }
  const int32_t* lines[4] = {&state_.mipY1, &state_.mipY2, &state_.mipX1, &state_.mipX2};
  for (int i = 0; i < 4; ++i) {
    const int32_t v = i < 2 ? y : x;
    if (std::abs(int64_t(v) - *lines[i]) > kPickDistance) continue;
    state_.mipDragging = true;
    state_.mipDragLine = i + 1;
    const int direction = i < 2 ? 1 : 2;
    if (direction != state_.mipDirection) {
      state_.mipDirection = direction;
      Recompute(false);
      host_.repaint(0, true);
    }
    return;
  }
}

void VolumeToolController::OnMove(int pane, QPoint pos) {
  if (pane != 1) return;
  const bool mpr = mode_ == Mode::kMpr && state_.dragging;
  const bool mip = mode_ == Mode::kMip && state_.mipDragging;
  if (!mpr && !mip) return;
  int32_t x = 0, y = 0;
  if (!ImagePixel(1, pos, &x, &y)) return;
  const int32_t cx = std::clamp(x, 0, std::max(state_.columns - 1, 0));
  const int32_t cy = std::clamp(y, 0, std::max(state_.rows - 1, 0));
  if (mpr) {
    int32_t& line = state_.activeLine == 1 ? state_.lineY : state_.lineX;
    const int32_t value = state_.activeLine == 1 ? cy : cx;
    if (value == line) return;
    line = value;
    // While dragging the right pane follows at draft quality, drawn nearest-neighbour.
    host_.paneDisplay(2).nearestOnly = true;
    Recompute(true);
    host_.repaint(0, true);
    return;
  }
  int32_t* lines[4] = {&state_.mipY1, &state_.mipY2, &state_.mipX1, &state_.mipX2};
  const int i = state_.mipDragLine - 1;
  if (i < 0 || i > 3) return;
  *lines[i] = i < 2 ? cy : cx;
  host_.repaint(1, false);
}

void VolumeToolController::OnRelease(int pane, QPoint, Qt::MouseButton button) {
  if (pane != 1 || button != Qt::LeftButton) return;
  if (mode_ == Mode::kMpr && state_.dragging) {
    state_.dragging = false;
    host_.paneDisplay(2).nearestOnly = false;
    Recompute(false);
    host_.repaint(0, true);
  } else if (mode_ == Mode::kMip && state_.mipDragging) {
    state_.mipDragging = false;
    state_.mipDragLine = 0;
    Recompute(false);
    host_.repaint(0, true);
  }
}

void VolumeToolController::OnPaneImageChanged(int pane) {
  if (pane == 1) {
    const DicomImage* left = host_.shownImage(1);
    // Another series in the left pane: the volume is no longer the one shown.
    if (!left || !(left->seriesInstanceUid == state_.seriesUid)) {
      state_.volumeValid = false;
      if (mode_ != Mode::kOff && !building_) SwitchOff();
    }
  } else if (mode_ != Mode::kOff && !host_.rightShowsReformat()) {
    // The right pane was given another image: the reformat is no longer shown.
    mode_ = Mode::kOff;
    host_.setLineMode(false);
    ShowButtons();
    host_.repaint(1, false);
  }
  RecomputeSliceLine();
}

void VolumeToolController::OnActivePaneChanged(int pane) {
  if (controls_.sliceLine && controls_.sliceLine->isEnabled()) {
    const QSignalBlocker b(controls_.sliceLine);
    controls_.sliceLine->setChecked(sliceFlag_[pane == 2 ? 2 : 1]);
  }
}

void VolumeToolController::RecomputeSliceLine() {
  geometry_ = SliceLineGeometry{};
  const DicomImage* a = host_.shownImage(1);
  const DicomImage* b = host_.shownImage(2);
  if (!a || !b || host_.rightShowsReformat()) return;
  if (a->frameOfReferenceUid.empty() || !(a->frameOfReferenceUid == b->frameOfReferenceUid)) return;
  geometry_ = ComputeSliceLine(SlicePlaneOf(*a), SlicePlaneOf(*b));
}

void VolumeToolController::Draw(int pane, QPainter& painter) {
  const DicomImage* im = host_.shownImage(pane);
  if (!im) return;
  const PaneDisplay& pd = host_.paneDisplay(pane);
  const MeasureView v = MakeMeasureView(pd, im->rows, im->columns);
  if (!v.valid()) return;
  auto toPane = [&](double col, double row) {
    double x = 0, y = 0;
    ImageToDisplayF(v, col, row, &x, &y);
    return QPointF(x - v.panX + v.g.offX, y - v.panY + v.g.offY);
  };
  painter.save();
  if (pane == 1 && mode_ == Mode::kMpr) {
    const double R = im->rows, C = im->columns;
    const double y = state_.lineY + 0.5, x = state_.lineX + 0.5;
    DrawLine(painter, state_.activeLine == 1 ? colours_.active : colours_.normal, toPane(0, y), toPane(C, y));
    DrawLine(painter, state_.activeLine == 2 ? colours_.active : colours_.normal, toPane(x, 0), toPane(x, R));
  } else if (pane == 1 && mode_ == Mode::kMip) {
    // A rotation of the left pane changes what the slab covers.
    if (pd.rotationAngle != mipRotation_) {
      mipRotation_ = pd.rotationAngle;
      Recompute(false);
      host_.repaint(2, true);
    }
    const double R = im->rows, C = im->columns;
    for (int32_t y : {state_.mipY1, state_.mipY2})
      DrawLine(painter, state_.mipDirection == 1 ? colours_.active : colours_.normal, toPane(0, y + 0.5),
               toPane(C, y + 0.5));
    for (int32_t x : {state_.mipX1, state_.mipX2})
      DrawLine(painter, state_.mipDirection == 2 ? colours_.active : colours_.normal, toPane(x + 0.5, 0),
               toPane(x + 0.5, R));
  }
  if (sliceFlag_[pane == 2 ? 2 : 1] && geometry_.available && !(pane == 2 && host_.rightShowsReformat())) {
    const SliceLineEnds& e = pane == 1 ? geometry_.a : geometry_.b;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    ImageToDisplayF(v, e.x[0], e.y[0], &x0, &y0);
    ImageToDisplayF(v, e.x[1], e.y[1], &x1, &y1);
    if (SliceLineInDrawRange(x0, y0, x1, y1, v.g.w, v.g.h))
      DrawLine(painter, colours_.sliceLine, toPane(e.x[0], e.y[0]), toPane(e.x[1], e.y[1]));
  }
  painter.restore();
}

}  // namespace velmo::ui
