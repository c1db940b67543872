#pragma once
// The program buttons 1114..1117 of the main window: captions from "外部ソフト", start
// on a click (a program still running from an earlier click is left alone: raising
// another program's window is not something every desktop allows), and the
// "AppliExit" notification to every running program when the main window closes.
#include <QObject>
#include <array>
#include <memory>

#include "shell/external_programs.h"

namespace velmo {
struct Settings;
}

namespace velmo::ui {

class MainDialog;

class ExternalProgramButtons : public QObject {
  Q_OBJECT
 public:
  explicit ExternalProgramButtons(MainDialog* main);
  ~ExternalProgramButtons() override;

  // Captions and visibility of the four buttons from the settings.
  void Apply(const Settings& settings);
  // Button N (0..3): starts its program unless it is already running. A program that
  // cannot be started is reported in a message box.
  void Activate(int index);
  // Sends "AppliExit" and a terminate request to every running program.
  void CloseAll();
  ExternalProcess& process(int index) { return processes_[index]; }

 private:
  MainDialog* main_;
  std::array<ExternalProgram, kExternalPrograms> table_;
  std::array<ExternalProcess, kExternalPrograms> processes_;
};

}  // namespace velmo::ui
