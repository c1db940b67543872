#include "base/install.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

namespace velmo {

namespace {
std::mutex g_mutex;
std::string g_folder;
bool g_set = false;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}
}  // namespace

std::string ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  return n > 0 ? FolderOf(std::string(buf, static_cast<size_t>(n))) : std::string();
}

std::string ResolveInstallFolder(const char* argv0) {
  const char* home = std::getenv("VELMO_HOME");
  if (home && *home) return home;  // used as it stands, no separator added
  std::string program = ProgramFolder();
  if (!program.empty()) return program;
  if (argv0 && *argv0) {
    char resolved[PATH_MAX];
    if (realpath(argv0, resolved)) return FolderOf(resolved);
    return FolderOf(argv0);
  }
  return "./";
}

const std::string& InstallFolder() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_set) {
    g_folder = ResolveInstallFolder();
    g_set = true;
  }
  return g_folder;
}

void SetInstallFolder(std::string folder) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_folder = std::move(folder);
  g_set = true;
}

std::string IniPath() { return InstallFolder() + "Config/Velmo.ini"; }

}  // namespace velmo
