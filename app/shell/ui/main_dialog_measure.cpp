// Measurement tools of the main window: creates the controller of the eight tool
// buttons and connects it to the pane signals, the drawing hook and the other drag
// modes of the mode group.
#include <QToolButton>

#include "dicom/dicom_image.h"
#include "measure/ui/measurement_tool.h"
#include "render/ui/pane_view.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/message_notifier.h"

namespace velmo::ui {

void MainDialog::SetUpMeasurementTools() {
  MeasurementHost host;
  host.activePane = [this] { return activePane(); };
  host.paneDisplay = [this](int pane) -> PaneDisplay& { return paneDisplay(pane); };
  host.paneImage = [this](int pane) -> const DicomImage* {
    const DicomImage* im = PaneImage(pane);
    return im && im->extracted ? im : nullptr;
  };
  host.setMeasuring = [this](int pane, bool on) {
    if (on)
      SetMouseMode(pane, PaneMouseMode::kMeasure);
    else if (mouseMode(pane) == PaneMouseMode::kMeasure)
      SetMouseMode(pane, PaneMouseMode::kNone);
  };
  host.measuring = [this](int pane) { return mouseMode(pane) == PaneMouseMode::kMeasure; };
  host.repaint = [this](int pane) { RepaintPane(pane, false); };
  host.paneWidget = [this](int pane) -> QWidget* { return pane == 2 ? rightPane : leftPane; };
  host.notifier = &notifier();
  const MeasurementColours colours{ColorFromBgr(settings_.distanceColor),   ColorFromBgr(settings_.angleColor),
                                   ColorFromBgr(settings_.ctrColor),        ColorFromBgr(settings_.pixelValueColor),
                                   ColorFromBgr(settings_.roiCircleColor),  ColorFromBgr(settings_.roiBoxColor)};
  measurementTools = new MeasurementToolController(
      std::move(host),
      {distanceButton, angleButton, ctrButton, pixelValueButton, roiCircleButton, roiBoxButton, selectButton,
       deleteButton},
      colours, this);
  MeasurementToolController* tools = measurementTools;

  connect(this, &MainDialog::paneMousePressed, tools,
          [tools](int pane, QPoint pos, Qt::MouseButton button, Qt::KeyboardModifiers) {
            tools->OnPress(pane, pos, button);
          });
  connect(this, &MainDialog::paneMouseMoved, tools,
          [tools](int pane, QPoint pos, Qt::MouseButtons) { tools->OnMove(pane, pos); });
  connect(this, &MainDialog::paneMouseReleased, tools, &MeasurementToolController::OnRelease);
  connect(this, &MainDialog::activePaneChanged, tools, [tools](int) { tools->OnActivePaneChanged(); });
  // A new image in a pane takes that pane's measurements with the old one.
  connect(this, &MainDialog::paneImageChanged, tools, [tools](int pane) { tools->ClearPane(pane); });
  for (QToolButton* other : {levelWidthDragButton, zoomDragButton})
    connect(other, &QToolButton::toggled, tools, [tools](bool on) {
      if (on) tools->OnOtherModeOn();
    });
  auto previous = paneGraphicsHook;
  paneGraphicsHook = [previous, tools](int pane, QPainter& painter) {
    if (previous) previous(pane, painter);
    tools->Draw(pane, painter);
  };
}

}  // namespace velmo::ui
