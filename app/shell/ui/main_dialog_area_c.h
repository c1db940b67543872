#pragma once
// State of the main window's window/level, preset and CINE controls, shared by
// main_dialog_window_level.cpp and main_dialog_cine.cpp.
#include <QPoint>
#include <QTimer>
#include <vector>

#include "measure/cine.h"
#include "render/window_level.h"
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

struct MainDialog::AreaCState {
  // Presets of Config/Preset.csv and the items the preset list shows.
  std::vector<Preset> presets;
  std::vector<PresetListItem> presetItems;
  int presetRowAtPress = -1;  // the highlighted preset row when the mouse went down
  // Raised while the controls are being filled from a record, so their change
  // handlers do not write back or repaint.
  bool syncingWindow = false;
  bool syncingCine = false;
  // Window/level drag per pane: active, and the last mouse position (device pixels).
  bool dragging[3] = {false, false, false};
  QPoint dragLast[3];
  // CINE per pane, with the pane's timer (identifiers 100 and 101).
  CinePaneState cine[3];
  QTimer* timers[3] = {nullptr, nullptr, nullptr};
};

}  // namespace velmo::ui
