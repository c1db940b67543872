#pragma once
// The volume tools of the main window: the slice line ("ｽﾗｲｽﾗｲﾝ"), MPR ("MPR") and
// MIP ("MIP") over the series of the left pane, the MIP thresholds "上閾"/"下閾", the
// reformatted image shown in the right pane (and the restore of the right pane's
// image), the volume build on worker threads under the progress window, the picking
// and dragging of the lines on the left pane and their drawing. The main window owns
// one and connects it through VolumeHost (this layer does not see the main window).
#include <QColor>
#include <QObject>
#include <QPoint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dicom/dicom_image.h"
#include "measure/mpr.h"
#include "measure/slice_line.h"

class QLineEdit;
class QPainter;
class QToolButton;
class QWidget;

namespace velmo {
struct PaneDisplay;
class Notifier;
class Log;
}  // namespace velmo

namespace velmo::ui {

struct VolumeHost {
  std::function<int()> activePane;
  std::function<PaneDisplay&(int pane)> paneDisplay;
  // The extracted record a pane shows (the right pane: also the reformat), or null.
  std::function<const DicomImage*(int pane)> shownImage;
  // File paths of the left image's series, in list order.
  std::function<std::vector<std::string>()> leftSeriesPaths;
  // Points the right pane at `slot` (keeping its image to restore), or back at the
  // image it showed before (null).
  std::function<void(DicomImage* slot)> showReformat;
  // True while the right pane shows the reformat slot.
  std::function<bool()> rightShowsReformat;
  std::function<void(int pane, bool convert)> repaint;  // 0: both
  std::function<void()> clearRightMeasurements;
  // The left pane's mouse mode while a line tool is on (true) and after (false).
  std::function<void(bool on)> setLineMode;
  // Marks a volume build as running (lists and CINE wait).
  std::function<void(bool busy)> setBusy;
  // Runs the progress window "演算中" until done() is true; position() moves the bar
  // (0 .. range). Returns false when the user cancelled.
  std::function<bool(int range, std::function<int()> position, std::function<bool()> done)> runProgress;
  Notifier* notifier = nullptr;
  const Log* log = nullptr;
};

struct VolumeColours {
  QColor sliceLine, active, normal;  // "スライスライン", "MPR有効", "MPR"
};

struct VolumeControls {
  QToolButton* sliceLine = nullptr;  // 1072
  QToolButton* mpr = nullptr;        // 1077
  QToolButton* mip = nullptr;        // 1086
  QLineEdit* upper = nullptr;        // 1169 "上閾"
  QLineEdit* lower = nullptr;        // 1170 "下閾"
};

class VolumeToolController : public QObject {
  Q_OBJECT
 public:
  enum class Mode { kOff, kMpr, kMip };
  VolumeToolController(VolumeHost host, VolumeControls controls, VolumeColours colours, QObject* parent = nullptr);
  ~VolumeToolController() override;

  Mode mode() const { return mode_; }
  MprState& state() { return state_; }
  const DicomImage& slot() const { return slot_; }
  const SliceLineGeometry& sliceLine() const { return geometry_; }
  bool sliceLineFlag(int pane) const { return sliceFlag_[pane == 2 ? 2 : 1]; }

  // Button actions (also what the buttons' toggles call).
  void SetMpr(bool on);
  void SetMip(bool on);
  void SetSliceLine(bool on);
  // Switches MPR/MIP off and restores the right pane.
  void SwitchOff();

  // Wiring to the main window.
  void OnPress(int pane, QPoint pos, Qt::MouseButton button);
  void OnMove(int pane, QPoint pos);
  void OnRelease(int pane, QPoint pos, Qt::MouseButton button);
  void OnPaneImageChanged(int pane);
  void OnActivePaneChanged(int pane);
  void Draw(int pane, QPainter& painter);

  // Test seam: runs on the worker thread before the volume is computed.
  std::function<void(MprProgress&)> workerStarting;

 private:
  bool Start(Mode mode);
  bool BuildVolume(const DicomImage& left);
  void Fail(const std::string& message);
  void ShowButtons();
  void Recompute(bool draft);
  void RecomputeSliceLine();
  bool ImagePixel(int pane, QPoint pos, int32_t* x, int32_t* y) const;
  void JoinWorker();

  VolumeHost host_;
  VolumeControls controls_;
  VolumeColours colours_;
  Mode mode_ = Mode::kOff;
  MprState state_;
  MprProgress progress_;
  std::thread worker_;
  DicomImage slot_;
  SliceLineGeometry geometry_;
  bool sliceFlag_[3] = {false, false, false};
  int32_t mipRotation_ = 0;
  bool building_ = false;
};

}  // namespace velmo::ui
