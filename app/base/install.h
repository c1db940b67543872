#pragma once
// The installation folder: VELMO_HOME when set and non-empty (used as it stands,
// file names are appended directly), else the running executable's folder with a
// trailing "/". Resolved once at start-up; read-only afterwards.
#include <string>

namespace velmo {

// The running program's own folder with a trailing "/" (where the programs, their
// helper programs and modules are installed), or "" when it cannot be read.
std::string ProgramFolder();
// Resolves the folder from the environment and argv0 (or /proc/self/exe).
std::string ResolveInstallFolder(const char* argv0 = nullptr);
// The folder in use for this run. Until SetInstallFolder is called it is resolved lazily.
const std::string& InstallFolder();
void SetInstallFolder(std::string folder);
// InstallFolder() + "Config/Velmo.ini".
std::string IniPath();

}  // namespace velmo
