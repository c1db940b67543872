// CINE controls of the main window.
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

void MainDialog::SetUpCineControls() {}

}  // namespace velmo::ui
