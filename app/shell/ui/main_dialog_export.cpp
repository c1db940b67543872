// Export, printing, external programs and the settings dialog of the main window:
// creates the classes behind buttons 1114..1122 and the menu item "設定", closes the
// external programs when the window closes, and re-reads the settings after "保存".
#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QLayout>

#include "base/install.h"
#include "base/log.h"
#include "base/text.h"
#include "measure/ui/measurement_tool.h"
#include "render/ui/pane_view.h"
#include "shell/ui/export_tool.h"
#include "shell/ui/external_programs_ui.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/message_notifier.h"
#include "shell/ui/print_preview.h"
#include "shell/ui/settings_dialog.h"

namespace velmo::ui {

namespace {

// Closing the main window first closes the external programs it started.
class CloseWatcher : public QObject {
 public:
  CloseWatcher(QObject* parent, ExternalProgramButtons* programs) : QObject(parent), programs_(programs) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Close) programs_->CloseAll();
    return false;
  }

 private:
  ExternalProgramButtons* programs_;
};

}  // namespace

void MainDialog::SetUpExportAndPrint() {
  exportTool = new ExportTool(this);
  printTool = new PrintTool(this);
  externalPrograms = new ExternalProgramButtons(this);
  installEventFilter(new CloseWatcher(this, externalPrograms));
  connect(settingsAction, &QAction::triggered, this, [this] { OpenSettingsDialog(); });
}

void MainDialog::OpenSettingsDialog() {
  SettingsDialog dialog(Settings::Load(), IniPath(), this);
  dialog.notifier = notifier_.get();
  connect(&dialog, &SettingsDialog::saved, this, [this] { ReloadSettings(); });
  dialog.exec();
}

void MainDialog::ReloadSettings() {
  settings_ = Settings::Load();
  *log_ = Log(InstallFolder());
  log_->Write(SJ("設定を読み直しました"), kLogNormal, 2);
  render_.pitch.x = settings_.dotPitchX;
  render_.pitch.y = settings_.dotPitchY;
  for (int p = 1; p <= 2; ++p)
    panes_[p].interpolation = settings_.Bicubic() ? Interpolation::kBicubic : Interpolation::kBilinear;
  // Person names of images read from now on, and of the lists at their next build.
  for (int i = 0; i < 3; ++i)
    loadContext_.nameKeywords[i] = std::string(Settings::CharsetKeyword(settings_.NamePriority(i)));
  if (measurementTools)
    measurementTools->SetColours({ColorFromBgr(settings_.distanceColor), ColorFromBgr(settings_.angleColor),
                                  ColorFromBgr(settings_.ctrColor), ColorFromBgr(settings_.pixelValueColor),
                                  ColorFromBgr(settings_.roiCircleColor), ColorFromBgr(settings_.roiBoxColor)});
  if (externalPrograms) externalPrograms->Apply(settings_);
  // Program buttons may have appeared or gone: their group takes its new size first.
  for (QGroupBox* g : toolGroups)
    if (g && g->layout()) g->layout()->activate();
  LayOut();
  RepaintPane(0, true);
}

}  // namespace velmo::ui
