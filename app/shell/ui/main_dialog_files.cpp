// MainDialog: file intake (file and folder dialogs, drops, start-up paths, refresh,
// clear) and the study lists.
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

void MainDialog::SetUpFileControls() {}

}  // namespace velmo::ui
