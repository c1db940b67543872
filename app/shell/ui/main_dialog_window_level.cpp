// Window/level controls of the main window.
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

void MainDialog::SetUpWindowLevelControls() {}

}  // namespace velmo::ui
