// Window/level controls of the main window: the level and width edit boxes with their
// up/down buttons and sliders, the labels, the window/level drag on the panes, the
// hold button and the preset list with its dialog. They act on the active pane.
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <functional>
#include <utility>

#include "render/ui/preset_dialog.h"
#include "base/text.h"
#include "base/ui/qt_text.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/main_dialog_area_c.h"

namespace velmo::ui {

namespace {

// Calls `onPress` when the mouse is pressed on the watched widget, before the widget
// itself handles the press.
class PressWatcher : public QObject {
 public:
  PressWatcher(QObject* parent, std::function<void()> onPress) : QObject(parent), onPress_(std::move(onPress)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress) onPress_();
    return false;
  }

 private:
  std::function<void()> onPress_;
};

void SetSlider(QSlider* slider, WindowRange range, int32_t value) {
  const QSignalBlocker block(slider);
  slider->setRange(range.min, range.max);
  slider->setValue(value);
}

}  // namespace

MainDialog::AreaCState& MainDialog::areaC() {
  if (!areaC_) areaC_ = std::make_shared<AreaCState>();
  return *areaC_;
}

void MainDialog::SetUpWindowLevelControls() {
  areaC();
  connect(levelEdit, &QLineEdit::textChanged, this, &MainDialog::OnLevelTextChanged);
  connect(widthEdit, &QLineEdit::textChanged, this, &MainDialog::OnWidthTextChanged);
  connect(levelSpin->up, &QToolButton::clicked, this, [this] { StepWindowBox(true, +1); });
  connect(levelSpin->down, &QToolButton::clicked, this, [this] { StepWindowBox(true, -1); });
  connect(widthSpin->up, &QToolButton::clicked, this, [this] { StepWindowBox(false, +1); });
  connect(widthSpin->down, &QToolButton::clicked, this, [this] { StepWindowBox(false, -1); });
  // A slider shows its position in the edit box, whose change rule does the rest.
  connect(levelSlider, &QSlider::valueChanged, this, [this](int v) {
    if (ShownImage(activePane())) levelEdit->setText(QString::fromStdString(WindowBoxText(v)));
  });
  connect(widthSlider, &QSlider::valueChanged, this, [this](int v) {
    if (ShownImage(activePane())) widthEdit->setText(QString::fromStdString(WindowBoxText(v)));
  });
  connect(presetList, &QListWidget::currentRowChanged, this, &MainDialog::OnPresetSelected);
  // Clicking the row that is already highlighted applies it again (after the window
  // was changed by hand, say): a click on another row is applied by the row change.
  presetList->viewport()->installEventFilter(
      new PressWatcher(presetList, [this] { areaC().presetRowAtPress = presetList->currentRow(); }));
  connect(presetList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    const int row = presetList->row(item);
    if (row >= 0 && row == areaC().presetRowAtPress) OnPresetSelected(row);
  });

  // "L W 変更": one mode group with the zoom drag and the measurement tools.
  connect(levelWidthDragButton, &QToolButton::toggled, this, [this](bool on) {
    SetMouseMode(activePane(), on ? PaneMouseMode::kLevelWidth : PaneMouseMode::kNone);
  });
  // Hold: the active pane, or both panes of the combined display.
  connect(holdButton, &QToolButton::toggled, this, [this](bool on) {
    for (int p : TargetPanes()) loadContext().panes[p].levelWidthHold = on;
  });

  connect(this, &MainDialog::paneMousePressed, this,
          [this](int pane, QPoint pos, Qt::MouseButton button, Qt::KeyboardModifiers) {
            OnLevelWidthPress(pane, pos, button);
          });
  connect(this, &MainDialog::paneMouseMoved, this, &MainDialog::OnLevelWidthMove);
  connect(this, &MainDialog::paneMouseReleased, this, [this](int pane, QPoint, Qt::MouseButton button) {
    if (button == Qt::LeftButton) areaC().dragging[pane == 2 ? 2 : 1] = false;
  });

  connect(this, &MainDialog::activePaneChanged, this, [this](int) { SyncWindowLevelControls(); });
  connect(this, &MainDialog::paneImageChanged, this, [this](int pane) {
    if (pane == activePane()) SyncWindowLevelControls();
  });

  ReloadPresets();
  SyncWindowLevelControls();
}

void MainDialog::SyncWindowLevelControls() {
  AreaCState& s = areaC();
  const DicomImage* im = ShownImage(activePane());
  levelLabel->setText(FromSjis(LevelLabel(im)));
  widthLabel->setText(FromSjis(WidthLabel(im)));
  {
    const QSignalBlocker b(holdButton);
    holdButton->setChecked(loadContext().panes[activePane()].levelWidthHold);
  }
  if (im != nullptr) {
    s.syncingWindow = true;
    SetSlider(levelSlider, LevelRange(*im), im->level);
    SetSlider(widthSlider, WidthRange(*im), im->width);
    levelEdit->setText(QString::fromStdString(WindowBoxText(im->level)));
    widthEdit->setText(QString::fromStdString(WindowBoxText(im->width)));
    s.syncingWindow = false;
  }
  // The preset list follows the pane (its "初期値" entries come from the image).
  const QSignalBlocker b(presetList);
  s.presetItems = BuildPresetList(im, s.presets);
  presetList->clear();
  for (const PresetListItem& item : s.presetItems) presetList->addItem(FromSjis(item.text));
  presetList->setCurrentRow(-1);
}

void MainDialog::OnLevelTextChanged(const QString& text) {
  const std::string t = text.toStdString();
  // What the box shows is what a pane with hold takes at its next load.
  for (int p = 1; p <= 2; ++p) loadContext().panes[p].levelText = t;
  if (areaC().syncingWindow) return;
  DicomImage* im = ShownImage(activePane());
  if (im == nullptr) return;
  im->level = WindowBoxValue(t);
  SetSlider(levelSlider, LevelRange(*im), im->level);
  RepaintPane(activePane(), true);
}

void MainDialog::OnWidthTextChanged(const QString& text) {
  const std::string t = text.toStdString();
  for (int p = 1; p <= 2; ++p) loadContext().panes[p].widthText = t;
  if (areaC().syncingWindow) return;
  DicomImage* im = ShownImage(activePane());
  if (im == nullptr) return;
  im->width = WindowBoxValue(t);
  SetSlider(widthSlider, WidthRange(*im), im->width);
  RepaintPane(activePane(), true);
}

void MainDialog::StepWindowBox(bool level, int step) {
  const DicomImage* im = ShownImage(activePane());
  if (im == nullptr) return;
  QLineEdit* edit = level ? levelEdit : widthEdit;
  const WindowRange range = level ? LevelRange(*im) : WidthRange(*im);
  const int64_t v = static_cast<int64_t>(WindowBoxValue(edit->text().toStdString())) + step;
  const int32_t clamped = range.Clamp(static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)));
  edit->setText(QString::fromStdString(WindowBoxText(clamped)));
}

void MainDialog::ApplyWindow(int pane, int32_t level, int32_t width) {
  pane = pane == 2 ? 2 : 1;
  DicomImage* im = ShownImage(pane);
  if (im == nullptr) return;
  im->level = level;
  im->width = width;
  if (pane == activePane()) {
    AreaCState& s = areaC();
    s.syncingWindow = true;
    SetSlider(levelSlider, LevelRange(*im), level);
    SetSlider(widthSlider, WidthRange(*im), width);
    levelEdit->setText(QString::fromStdString(WindowBoxText(level)));
    widthEdit->setText(QString::fromStdString(WindowBoxText(width)));
    s.syncingWindow = false;
  }
  RepaintPane(pane, true);
}

void MainDialog::OnLevelWidthPress(int pane, QPoint pos, Qt::MouseButton button) {
  if (button != Qt::LeftButton || mouseMode(pane) != PaneMouseMode::kLevelWidth) return;
  if (pane != activePane() || !ShownImage(pane)) return;
  AreaCState& s = areaC();
  s.dragging[pane] = true;
  s.dragLast[pane] = pos;
}

void MainDialog::OnLevelWidthMove(int pane, QPoint pos, Qt::MouseButtons buttons) {
  AreaCState& s = areaC();
  pane = pane == 2 ? 2 : 1;
  if (!s.dragging[pane]) return;
  const DicomImage* im = ShownImage(pane);
  if (!(buttons & Qt::LeftButton) || im == nullptr || pane != activePane() ||
      mouseMode(pane) != PaneMouseMode::kLevelWidth) {
    s.dragging[pane] = false;
    return;
  }
  const QPoint d = pos - s.dragLast[pane];
  if (d.isNull()) return;
  s.dragLast[pane] = pos;
  const LevelWidth w = DragWindow(*im, WindowBoxValue(levelEdit->text().toStdString()),
                                  WindowBoxValue(widthEdit->text().toStdString()), d.x(), d.y());
  ApplyWindow(pane, w.level, w.width);
}

// ---- presets ----

void MainDialog::ReloadPresets() {
  AreaCState& s = areaC();
  std::vector<PresetRow> rows;
  ReadPresetFile(PresetFilePath(), &rows, log(), &notifier(), true);
  s.presets = PresetsFromRows(rows);
  SyncWindowLevelControls();
}

int MainDialog::presetCount() const { return areaC_ ? static_cast<int>(areaC_->presets.size()) : 0; }

void MainDialog::OnPresetSelected(int row) {
  AreaCState& s = areaC();
  if (row < 0 || static_cast<size_t>(row) >= s.presetItems.size()) return;
  const PresetListItem item = s.presetItems[static_cast<size_t>(row)];
  if (item.kind == PresetListItem::kSetUp) {
    {
      const QSignalBlocker b(presetList);
      presetList->setCurrentRow(-1);  // so that it can be chosen again after a cancel
    }
    OpenPresetDialog();
    return;
  }
  const DicomImage* im = ShownImage(activePane());
  LevelWidth w;
  if (im == nullptr || !WindowOfPresetItem(*im, item, s.presets, &w)) return;
  ApplyWindow(activePane(), w.level, w.width);
}

void MainDialog::OpenPresetDialog() {
  bool registered = false;
  if (presetDialogOverride) {
    registered = presetDialogOverride();
  } else {
    PresetDialog dialog(PresetFilePath(), log(), &notifier(), this);
    registered = dialog.exec() == QDialog::Accepted;
  }
  if (registered) ReloadPresets();
}

}  // namespace velmo::ui
