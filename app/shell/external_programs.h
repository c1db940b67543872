#pragma once
// The four external programs of "外部ソフト": the table of button captions and program
// paths, and the processes Velmo started from it. A program is started without
// arguments, with its standard input connected to Velmo; while it runs its button does
// not start a second one; when the main window closes each running program receives
// the line "AppliExit" on its standard input and then a terminate request.
#include <sys/types.h>

#include <array>
#include <string>
#include <string_view>

namespace velmo {

struct Settings;

inline constexpr int kExternalPrograms = 4;
// The notification a program receives, followed by a line feed.
inline constexpr std::string_view kAppliExit = "AppliExit";

struct ExternalProgram {
  std::string caption;  // "ボタン名N", Shift-JIS
  std::string path;     // "パスN" converted to a native (UTF-8) path
  // A button is shown only with a caption; it acts only with a caption and a path.
  bool Shown() const { return !caption.empty(); }
  bool Usable() const { return !caption.empty() && !path.empty(); }
  // The file name and extension of the path (the name the program is known by).
  std::string ModuleName() const;
};

std::array<ExternalProgram, kExternalPrograms> ExternalProgramTable(const Settings& settings);

// One started program. Not copyable; the process outlives the object (it is never
// killed by it).
class ExternalProcess {
 public:
  ExternalProcess() = default;
  ~ExternalProcess();
  ExternalProcess(const ExternalProcess&) = delete;
  ExternalProcess& operator=(const ExternalProcess&) = delete;

  // Starts `path` (searched in PATH when it has no "/") without arguments. Returns 0,
  // or the errno of the failure (no such file, not executable, ...).
  int Start(const std::string& path);
  // True while the started process has not ended (an ended one is reaped).
  bool Running();
  pid_t pid() const { return pid_; }
  // Sends "AppliExit\n" to its standard input (never blocks, never raises SIGPIPE),
  // closes that input, and sends a terminate request (SIGTERM) after waiting up to
  // `graceMs` milliseconds for it to end by itself. Nothing when it is not running.
  void Close(int graceMs);

 private:
  pid_t pid_ = -1;
  int input_ = -1;  // our end of the child's standard input
};

}  // namespace velmo
