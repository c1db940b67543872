// Volume tools of the main window: creates the controller of "ｽﾗｲｽﾗｲﾝ", "MPR" and
// "MIP" with the MIP threshold boxes, and connects it to the pane signals, the
// drawing hook, the reformat slot of the right pane and the progress window.
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "dicom/dicom_image.h"
#include "measure/ui/measurement_tool.h"
#include "measure/ui/volume_tool.h"
#include "render/ui/pane_view.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/message_notifier.h"
#include "shell/ui/progress_dialog.h"

namespace velmo::ui {

namespace {

// The file-table entries of the series that holds `entry`, in list order.
std::vector<int32_t> SeriesEntries(const StudyTree& tree, int32_t entry) {
  for (const PatientNode& p : tree.patients())
    for (const StudyNode& st : p.studies)
      for (const SeriesNode& se : st.series)
        if (std::find(se.images.begin(), se.images.end(), entry) != se.images.end()) return se.images;
  return {};
}

}  // namespace

void MainDialog::SetUpVolumeTools() {
  // The threshold boxes sit beside the MIP button in the measurement group.
  if (auto* grid = qobject_cast<QGridLayout*>(toolGroups[2]->layout())) {
    auto* box = new QGridLayout;
    box->setSpacing(1);
    box->setContentsMargins(2, 0, 0, 0);
    auto edit = [this](const char* id) {
      auto* e = new QLineEdit(toolGroups[2]);
      e->setObjectName(id);
      e->setFixedWidth(46);
      e->setMaxLength(6);
      return e;
    };
    mipUpperEdit = edit("1169");
    mipLowerEdit = edit("1170");
    box->addWidget(new QLabel(QStringLiteral("上閾"), toolGroups[2]), 0, 0);
    box->addWidget(mipUpperEdit, 0, 1);
    box->addWidget(new QLabel(QStringLiteral("下閾"), toolGroups[2]), 1, 0);
    box->addWidget(mipLowerEdit, 1, 1);
    grid->addLayout(box, 1, 5);
  }

  VolumeHost host;
  host.activePane = [this] { return activePane(); };
  host.paneDisplay = [this](int pane) -> PaneDisplay& { return paneDisplay(pane); };
  host.shownImage = [this](int pane) -> const DicomImage* {
    const DicomImage* im = PaneImage(pane);
    return im && im->extracted ? im : nullptr;
  };
  host.leftSeriesPaths = [this] {
    std::vector<std::string> paths;
    const int entry = loadContext_.viewIndex[1];
    if (entry < 0) return paths;
    for (int32_t e : SeriesEntries(studyTree_, entry))
      if (e >= 0 && size_t(e) < fileTable_.entries.size()) paths.push_back(fileTable_.entries[size_t(e)].record.filePath);
    return paths;
  };
  host.rightShowsReformat = [this] { return loadContext_.viewIndex[2] == LoadContext::kReformatSlot; };
  host.showReformat = [this](DicomImage* slot) {
    if (slot != nullptr) {
      if (loadContext_.viewIndex[2] != LoadContext::kReformatSlot) volumeRightEntry_ = loadContext_.viewIndex[2];
      loadContext_.reformat = slot;
      loadContext_.viewIndex[2] = LoadContext::kReformatSlot;
      panes_[2].showsReformat = true;
      panes_[2].frame = 1;
      paintedImage_[2] = false;
      if (activePane_ == 2) SyncDisplayControls();
      RepaintPane(2, true);
      return;
    }
    // Back to the image the right pane showed before, or empty (the left pane active).
    panes_[2].showsReformat = false;
    panes_[2].nearestOnly = false;
    loadContext_.viewIndex[2] = -1;
    loadContext_.reformat = nullptr;
    const int entry = volumeRightEntry_;
    volumeRightEntry_ = -1;
    if (entry >= 0 && size_t(entry) < loadContext_.records.size()) {
      ShowEntry(2, entry);
    } else {
      ShowEntry(2, -1);
      SetActivePane(1);
    }
  };
  host.repaint = [this](int pane, bool convert) { RepaintPane(pane, convert); };
  host.clearRightMeasurements = [this] {
    if (measurementTools) measurementTools->ClearRightPaneForVolumeView();
  };
  host.setLineMode = [this](bool on) {
    // Presses on the left pane pick lines while a volume view is on.
    if (on && mouseMode(1) == PaneMouseMode::kLevelWidth) SetMouseMode(1, PaneMouseMode::kNone);
    if (!on && mouseMode(1) == PaneMouseMode::kNone) SetMouseMode(1, PaneMouseMode::kLevelWidth);
  };
  host.setBusy = [this](bool busy) { SetLoadingJobRunning(busy); };
  host.runProgress = [this](int range, std::function<int()> position, std::function<bool()> done) {
    // A short build ends before the window would appear.
    QEventLoop waiting;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &waiting, [&] {
      if (done()) waiting.quit();
    });
    poll.start();
    QTimer::singleShot(kShowAfterMs, &waiting, &QEventLoop::quit);
    if (!done()) waiting.exec(QEventLoop::ExcludeUserInputEvents);
    poll.stop();
    if (done()) return true;
    ProgressDialog dialog(this, log_.get());
    auto show = [range, position](ProgressDialog& d) {
      d.SetRange(range);
      d.SetPosition(position());
      d.SetStatusText(QStringLiteral("演算中"));
    };
    dialog.SetOpenHook(show);
    dialog.SetTickHook([show, done](ProgressDialog& d) {
      show(d);
      if (done()) d.Finish();
    });
    if (volumeProgressShown) QTimer::singleShot(0, &dialog, [this, &dialog] { volumeProgressShown(dialog); });
    return dialog.exec() == QDialog::Accepted;
  };
  host.notifier = &notifier();
  host.log = log_.get();
  const VolumeColours colours{ColorFromBgr(settings_.sliceLineColor), ColorFromBgr(settings_.mprActiveColor),
                              ColorFromBgr(settings_.mprColor)};
  volumeTools =
      new VolumeToolController(std::move(host), {sliceLineButton, mprButton, mipButton, mipUpperEdit, mipLowerEdit},
                               colours, this);
  VolumeToolController* tools = volumeTools;

  connect(this, &MainDialog::paneMousePressed, tools,
          [tools](int pane, QPoint pos, Qt::MouseButton button, Qt::KeyboardModifiers) {
            tools->OnPress(pane, pos, button);
          });
  connect(this, &MainDialog::paneMouseMoved, tools,
          [tools](int pane, QPoint pos, Qt::MouseButtons) { tools->OnMove(pane, pos); });
  connect(this, &MainDialog::paneMouseReleased, tools, &VolumeToolController::OnRelease);
  connect(this, &MainDialog::paneImageChanged, tools, &VolumeToolController::OnPaneImageChanged);
  connect(this, &MainDialog::activePaneChanged, tools, &VolumeToolController::OnActivePaneChanged);
  auto previous = paneGraphicsHook;
  paneGraphicsHook = [previous, tools](int pane, QPainter& painter) {
    if (previous) previous(pane, painter);
    tools->Draw(pane, painter);
  };
}

}  // namespace velmo::ui
