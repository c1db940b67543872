// MainDialog: creation and wiring of the header lists and the image-information overlay.
#include <QAction>

#include "header/ui/header_lists.h"
#include "render/ui/image_overlay.h"
#include "render/ui/overlay_settings_dialogs.h"
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

void MainDialog::SetUpHeaderAndOverlay() {
  HeaderListsHost lists;
  lists.window = this;
  lists.lists[0] = leftHeaderList;
  lists.lists[1] = rightHeaderList;
  lists.japanese[0] = leftJapaneseButton;
  lists.japanese[1] = rightJapaneseButton;
  lists.english[0] = leftEnglishButton;
  lists.english[1] = rightEnglishButton;
  lists.binary[0] = leftBinaryButton;
  lists.binary[1] = rightBinaryButton;
  lists.copyValue[0] = leftCopyValueButton;
  lists.copyValue[1] = rightCopyValueButton;
  lists.saveText[0] = leftSaveTextButton;
  lists.saveText[1] = rightSaveTextButton;
  lists.log = log_.get();
  lists.notifier = &notifier();
  lists.paneImage = [this](int pane) -> const DicomImage* { return PaneImage(pane); };
  lists.repaintPane = [this](int pane) { RepaintPane(pane, false); };
  headerLists = new HeaderLists(std::move(lists), this);
  connect(this, &MainDialog::paneImageChanged, headerLists, [this](int pane) { headerLists->ShowHeader(pane); });

  ImageOverlayHost overlay;
  overlay.settings = &settings_;
  overlay.log = log_.get();
  overlay.notifier = &notifier();
  overlay.paneImage = [this](int pane) -> const DicomImage* { return PaneImage(pane); };
  overlay.paneDisplay = [this](int pane) -> const PaneDisplay& { return paneDisplay(pane); };
  overlay.overlayLevel = [this] { return overlayLevel(); };
  imageOverlay = new ImageOverlay(std::move(overlay), headerLists, this);
  overlayHook = [this](int pane, QPainter& painter) { imageOverlay->DrawOverlay(pane, painter); };

  // "設定" menu: the two overlay dialogs; closing either re-reads the configuration.
  connect(groupSettingsAction, &QAction::triggered, this, [this] {
    OverlayGroupDialog dialog(settings_, notifier(), this);
    dialog.exec();
    imageOverlay->Reload();
    RepaintPane(0, false);
  });
  connect(overlaySettingsAction, &QAction::triggered, this, [this] {
    OverlayInfoDialog dialog(settings_, notifier(), this);
    dialog.exec();
    imageOverlay->Reload();
    RepaintPane(0, false);
  });
}

}  // namespace velmo::ui
