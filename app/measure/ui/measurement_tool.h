#pragma once
// The measurement tools of the main window: the eight tool buttons ("距離", "角度",
// "心胸郭比", "ﾋﾟｸｾﾙ値", "ROI ○", "ROI □", "選択", "削除"), one tool per pane in the
// same mode group as the window/level and zoom drags, the mouse protocol on the
// panes, the Delete key, and the drawing of every measurement over the pane image.
// The main window owns one and connects it to its pane signals and drawing hook
// through MeasurementHost (this layer does not see the main window's class).
#include <QColor>
#include <QObject>
#include <QPoint>
#include <array>
#include <functional>

#include "measure/measurement.h"

class QPainter;
class QToolButton;
class QWidget;

namespace velmo {
struct DicomImage;
struct PaneDisplay;
class Notifier;
}  // namespace velmo

namespace velmo::ui {

// What the tools need from the main window.
struct MeasurementHost {
  std::function<int()> activePane;                     // 1 left, 2 right
  std::function<PaneDisplay&(int pane)> paneDisplay;
  std::function<const DicomImage*(int pane)> paneImage;  // the shown, extracted record or null
  // Puts the pane into the measuring mode of the mode group (true) or out of it.
  std::function<void(int pane, bool on)> setMeasuring;
  std::function<bool(int pane)> measuring;             // the pane is in the measuring mode
  std::function<void(int pane)> repaint;
  std::function<QWidget*(int pane)> paneWidget;
  // Optional: the samples a pane shows instead of its record's frame (the right pane
  // while it shows an MPR or MIP result). Returns false to use the record.
  std::function<bool(int pane, PixelSource* source, float spacing[2])> shownSamples;
  Notifier* notifier = nullptr;
};

// Colours of "色設定" (already converted from 0x00BBGGRR).
struct MeasurementColours {
  QColor distance, angle, ratio, pixelValue, roiCircle, roiBox;
};

// The eight tool buttons in the order of the table: distance, angle, ratio, pixel
// value, circular ROI, rectangular ROI, select, delete.
using MeasurementButtons = std::array<QToolButton*, 8>;

class MeasurementToolController : public QObject {
  Q_OBJECT
 public:
  MeasurementToolController(MeasurementHost host, MeasurementButtons buttons, MeasurementColours colours,
                            QObject* parent = nullptr);

  // The measurements of a pane (1 left, 2 right).
  PaneMeasurements& measurements(int pane) { return panes_[pane == 2 ? 2 : 1]; }
  MeasurementTool tool(int pane) const { return tool_[pane == 2 ? 2 : 1]; }
  // Removes every measurement of a pane and repaints it (a new image in the pane).
  void ClearPane(int pane);
  // Starting MPR or MIP: the right pane shows another picture, so its measurements go.
  void ClearRightPaneForVolumeView() { ClearPane(2); }
  // Deletes the selected measurements of the active pane (the Delete key).
  void DeleteSelected();
  // The colours of "色設定" changed (the settings were saved); the next paint uses them.
  void SetColours(const MeasurementColours& colours) { colours_ = colours; }
  // Draws the measurements of a pane on its composed canvas (device pixels).
  void Draw(int pane, QPainter& painter);

  // Wiring to the main window's signals.
  void OnPress(int pane, QPoint pos, Qt::MouseButton button);
  void OnMove(int pane, QPoint pos);
  void OnRelease(int pane, QPoint pos, Qt::MouseButton button);
  void OnActivePaneChanged();
  // The window/level or zoom drag mode was switched on for the active pane.
  void OnOtherModeOn();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnToolButton(int index, bool on);
  void SwitchOff(int pane, MeasurementTool tool);
  void ShowButtons();
  bool Context(int pane, MeasureContext* c);
  QPoint Clamp(int pane, QPoint pos) const;

  MeasurementHost host_;
  MeasurementButtons buttons_;
  MeasurementColours colours_;
  std::array<PaneMeasurements, 3> panes_;
  MeasurementTool tool_[3] = {MeasurementTool::kNone, MeasurementTool::kNone, MeasurementTool::kNone};
  bool cursorSet_[3] = {false, false, false};
};

}  // namespace velmo::ui
