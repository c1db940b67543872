#pragma once
// Draws the image-information overlay on each pane (MainDialog::overlayHook): the four
// corners of the image's group, level and width, orientation letters and the header
// list's selected element. Reads the overlay configuration at start-up.
#include <QObject>
#include <functional>

#include "base/log.h"
#include "base/notifier.h"
#include "base/settings.h"
#include "render/pane_display.h"

#include "header/format_value.h"
#include "render/overlay.h"

class QPainter;

namespace velmo::ui {

class HeaderLists;

// What the overlay needs from the main window.
struct ImageOverlayHost {
  const Settings* settings = nullptr;
  const Log* log = &Log::Null();
  Notifier* notifier = nullptr;
  std::function<const DicomImage*(int pane)> paneImage;
  std::function<const PaneDisplay&(int pane)> paneDisplay;
  std::function<int()> overlayLevel;
};

class ImageOverlay : public QObject {
  Q_OBJECT

 public:
  ImageOverlay(ImageOverlayHost host, const HeaderLists* headerLists, QObject* parent = nullptr);

  // Reads the groups and their Key.csv, then the corner files (messages on failure).
  // Runs at the first paint, so its messages follow the paint's message queue.
  void Reload() const;
  const OverlayConfig& config() const { return config_; }
  // The texts `pane` (1 left, 2 right) shows now.
  OverlayTexts Texts(int pane) const;
  // Draws onto the pane's canvas (device pixels, origin at the visible top left).
  void DrawOverlay(int pane, QPainter& painter) const;

 private:
  ImageOverlayHost host_;
  const HeaderLists* headerLists_;
  mutable bool loaded_ = false;  // the configuration is read at the first paint
  mutable OverlayConfig config_;
  mutable FormatSettings format_;
};

}  // namespace velmo::ui
