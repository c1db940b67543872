// CINE controls of the main window: play forward/backward and stop for the active
// pane, the interval, the frame edit with its up/down buttons and the frame slider.
// Each pane has its own timer; a tick advances the pane whose timer fired, through the
// frames of a multi-frame image or through the images of a single-frame image's series.
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include "base/numbers.h"
#include "base/text.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/main_dialog_area_c.h"

namespace velmo::ui {

namespace {


// The images (file-table indices, list order) of the series holding `entry`, with the
// entry's position; nullptr when the lists do not hold it.
const std::vector<int32_t>* SeriesOfEntry(const StudyTree& tree, int32_t entry, int32_t* position) {
  if (entry < 0) return nullptr;
  for (const PatientNode& patient : tree.patients())
    for (const StudyNode& study : patient.studies)
      for (const SeriesNode& series : study.series) {
        const int32_t at = PositionInSeries(series.images, entry);
        if (at >= 0) {
          *position = at;
          return &series.images;
        }
      }
  return nullptr;
}

}  // namespace

void MainDialog::SetUpCineControls() {
  AreaCState& s = areaC();
  for (int p = 1; p <= 2; ++p) {
    s.timers[p] = new QTimer(this);
    s.timers[p]->setObjectName(QString::number(p == 1 ? kCineTimerLeft : kCineTimerRight));
    s.timers[p]->setTimerType(Qt::PreciseTimer);
    connect(s.timers[p], &QTimer::timeout, this, [this, p] { CineTick(p); });
  }
  connect(cineForwardButton, &QToolButton::clicked, this, [this] { StartCine(true); });
  connect(cineBackwardButton, &QToolButton::clicked, this, [this] { StartCine(false); });
  connect(cineStopButton, &QToolButton::clicked, this, [this] { StopCine(); });
  connect(frameEdit, &QLineEdit::textChanged, this, &MainDialog::OnFrameTextChanged);
  // The slider writes its position into the frame edit, whose change rule shows it.
  connect(frameSlider, &QSlider::valueChanged, this, [this](int v) {
    if (!areaC().syncingCine) frameEdit->setText(QString::number(v));
  });
  auto step = [this](int delta) {
    const int64_t v = static_cast<int64_t>(ParseInt(frameEdit->text().toStdString())) + delta;
    frameEdit->setText(QString::number(std::clamp<int64_t>(v, frameSlider->minimum(), frameSlider->maximum())));
  };
  connect(frameSpin->up, &QToolButton::clicked, this, [step] { step(+1); });
  connect(frameSpin->down, &QToolButton::clicked, this, [step] { step(-1); });

  connect(this, &MainDialog::activePaneChanged, this, [this](int) { SyncCineControls(); });
  connect(this, &MainDialog::paneImageChanged, this, [this](int pane) {
    if (pane == activePane()) SyncCineControls();
  });
  SyncCineControls();
}

bool MainDialog::cineTimerActive(int pane) const {
  const QTimer* t = areaC_ ? areaC_->timers[pane == 2 ? 2 : 1] : nullptr;
  return t != nullptr && t->isActive();
}

int MainDialog::cineTimerInterval(int pane) const {
  const QTimer* t = areaC_ ? areaC_->timers[pane == 2 ? 2 : 1] : nullptr;
  return t != nullptr ? t->interval() : 0;
}

bool MainDialog::cinePlaying(int pane) const { return areaC_ && areaC_->cine[pane == 2 ? 2 : 1].playing(); }

void MainDialog::StartCine(bool forward) {
  AreaCState& s = areaC();
  const int p = activePane();
  s.cine[p].Play(forward);
  {
    const QSignalBlocker b1(cineForwardButton), b2(cineBackwardButton);
    cineForwardButton->setChecked(forward);
    cineBackwardButton->setChecked(!forward);
  }
  s.cine[p].intervalMs = CineIntervalFromText(cineIntervalEdit->text().toStdString());
  s.timers[p]->start(s.cine[p].intervalMs);
  if (!s.timers[p]->isActive()) {
    const std::string& msg =
        p == 1 ? SJ("左の画像のCine用タイマーの作成に失敗しました") : SJ("右の画像のCine用タイマーの作成に失敗しました");
    log().Write(msg, kLogError, 1);
    notifier().Show(SJ("エラー"), msg, NoticeIcon::Error);
  }
}

void MainDialog::StopCine() {
  AreaCState& s = areaC();
  const int p = activePane();
  s.cine[p].Stop();
  {
    const QSignalBlocker b1(cineForwardButton), b2(cineBackwardButton);
    cineForwardButton->setChecked(false);
    cineBackwardButton->setChecked(false);
  }
  s.timers[p]->stop();
}

void MainDialog::CineTick(int pane) {
  pane = pane == 2 ? 2 : 1;
  AreaCState& s = areaC();
  const CinePaneState& state = s.cine[pane];
  // A loading job is filling the tables the panes and lists read.
  if (!state.playing() || loadingJobRunning()) return;
  DicomImage* im = ShownImage(pane);
  if (im == nullptr) return;
  if (IsMultiFrame(im->frameCount)) {
    PaneDisplay& pd = paneDisplay(pane);
    pd.frame = StepFrame(pd.frame, im->Frames(), state.forward);
    RepaintPane(pane, true);
    if (pane == activePane()) ShowFrameNumber(pd.frame);
    return;
  }
  int32_t position = 0;
  const std::vector<int32_t>* series = SeriesOfEntry(studyTree(), loadContext().viewIndex[pane], &position);
  if (series == nullptr || series->size() < 2) return;
  const int32_t next = StepSeriesPosition(position, static_cast<int32_t>(series->size()), state.forward);
  s.cine[pane].seriesPosition = next;
  // ShowEntry refreshes the active pane's controls, frame edit included.
  ShowEntry(pane, (*series)[static_cast<size_t>(next)]);
}

void MainDialog::ShowFrameNumber(int number) {
  AreaCState& s = areaC();
  s.syncingCine = true;
  frameEdit->setText(QString::number(number));
  frameSlider->setValue(number);
  s.syncingCine = false;
}

void MainDialog::SyncCineControls() {
  AreaCState& s = areaC();
  const int p = activePane();
  {
    const QSignalBlocker b1(cineForwardButton), b2(cineBackwardButton);
    cineForwardButton->setChecked(s.cine[p].forward);
    cineBackwardButton->setChecked(s.cine[p].backward);
  }
  const DicomImage* im = ShownImage(p);
  if (im == nullptr) return;
  int32_t position = 0;
  int32_t count = 1;
  if (!IsMultiFrame(im->frameCount)) {
    const std::vector<int32_t>* series = SeriesOfEntry(studyTree(), loadContext().viewIndex[p], &position);
    if (series != nullptr) count = static_cast<int32_t>(series->size());
    s.cine[p].seriesPosition = position;
  }
  const SliderSpan span = FrameSliderSpan(im->frameCount, count);
  s.syncingCine = true;
  frameSlider->setRange(span.min, span.max);
  s.syncingCine = false;
  // Filling the frame edit of a newly active pane shows its number without reloading.
  ShowFrameNumber(IsMultiFrame(im->frameCount) ? std::clamp(paneDisplay(p).frame, 1, im->Frames()) : position + 1);
}

void MainDialog::OnFrameTextChanged(const QString& text) {
  AreaCState& s = areaC();
  if (s.syncingCine) return;
  const int p = activePane();
  DicomImage* im = ShownImage(p);
  if (im == nullptr) return;
  int32_t position = 0;
  const std::vector<int32_t>* series = nullptr;
  int32_t count = 1;
  if (!IsMultiFrame(im->frameCount)) {
    series = SeriesOfEntry(studyTree(), loadContext().viewIndex[p], &position);
    if (series != nullptr) count = static_cast<int32_t>(series->size());
  }
  const FrameEditResult r = InterpretFrameEdit(text.toStdString(), im->frameCount, count);
  if (!r.apply) return;
  {
    const QSignalBlocker b(frameSlider);
    frameSlider->setValue(r.slider);
  }
  if (IsMultiFrame(im->frameCount)) {
    paneDisplay(p).frame = r.frame;
    RepaintPane(p, true);
    return;
  }
  s.cine[p].seriesPosition = r.position;
  if (series != nullptr && r.position != position) ShowEntry(p, (*series)[static_cast<size_t>(r.position)]);
}

}  // namespace velmo::ui
