#include "shell/ui/external_programs_ui.h"

#include <QToolButton>
#include <cstring>

#include "base/log.h"
#include "base/notifier.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "base/text.h"
#include "base/ui/qt_text.h"
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

ExternalProgramButtons::ExternalProgramButtons(MainDialog* main) : QObject(main), main_(main) {
  for (int i = 0; i < kExternalPrograms; ++i)
    connect(main->programButtons[i], &QToolButton::clicked, this, [this, i] { Activate(i); });
  Apply(main->settings());
}

ExternalProgramButtons::~ExternalProgramButtons() = default;

void ExternalProgramButtons::Apply(const Settings& settings) {
  table_ = ExternalProgramTable(settings);
  for (int i = 0; i < kExternalPrograms; ++i) {
    QToolButton* b = main_->programButtons[i];
    b->setText(FromSjis(table_[i].caption));
    b->setToolTip(b->text());
    b->setVisible(table_[i].Shown());
  }
}

void ExternalProgramButtons::Activate(int index) {
  if (index < 0 || index >= kExternalPrograms) return;
  const ExternalProgram& program = table_[index];
  if (!program.Usable()) return;
  ExternalProcess& process = processes_[index];
  if (process.Running()) {
    main_->log().Write(Format(SJ("外部ソフト(%s)は起動しています"), SjisFromUtf8(program.path)), kLogNormal, 2);
    return;
  }
  const int error = process.Start(program.path);
  if (error != 0) {
    const std::string message =
        Format(SJ("外部ソフトを起動できませんでした。(%s)\n%s"), SjisFromUtf8(program.path), std::strerror(error));
    main_->log().Write(message, kLogError, 1);
    main_->notifier().Show(SJ("エラー"), message, NoticeIcon::Error);
    return;
  }
  main_->log().Write(Format(SJ("外部ソフト(%s)を起動しました"), SjisFromUtf8(program.path)), kLogNormal, 2);
}

void ExternalProgramButtons::CloseAll() {
  for (int i = 0; i < kExternalPrograms; ++i) {
    if (!processes_[i].Running()) continue;
    processes_[i].Close(500);
    main_->log().Write(Format(SJ("外部ソフト(%s)を終了しました"), SjisFromUtf8(table_[i].path)), kLogNormal, 2);
  }
}

}  // namespace velmo::ui
