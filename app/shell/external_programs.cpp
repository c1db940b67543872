#include "shell/external_programs.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "base/settings.h"
#include "base/text.h"

extern char** environ;

namespace velmo {

std::string ExternalProgram::ModuleName() const {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::array<ExternalProgram, kExternalPrograms> ExternalProgramTable(const Settings& settings) {
  std::array<ExternalProgram, kExternalPrograms> table;
  for (int i = 0; i < kExternalPrograms; ++i) {
    table[i].caption = settings.programNames[i];
    table[i].path = settings.programPaths[i].empty() ? std::string() : Utf8FromSjis(settings.programPaths[i]);
  }
  return table;
}

ExternalProcess::~ExternalProcess() {
  if (input_ >= 0) ::close(input_);
}

int ExternalProcess::Start(const std::string& path) {
  if (Running()) return EBUSY;
  if (input_ >= 0) {
    ::close(input_);
    input_ = -1;
  }
  if (path.empty()) return ENOENT;
  // A socket pair rather than a pipe: writing to it with MSG_NOSIGNAL cannot raise
  // SIGPIPE in Velmo when the program has closed its input or ended.
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return errno;
  ::shutdown(fds[0], SHUT_RD);  // the program only reads
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 0);  // dup2 clears close-on-exec
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The program gets default signal handling and its own process group, so a signal
  // meant for Velmo's terminal does not reach it.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, path.c_str(), &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return rc;
  }
  pid_ = pid;
  input_ = fds[0];
  return 0;
}

bool ExternalProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  if (r < 0 && errno == EINTR) return true;
  // Ended (reaped now), or not our child any more.
  pid_ = -1;
  return false;
}

void ExternalProcess::Close(int graceMs) {
  if (!Running()) return;
  if (input_ >= 0) {
    const std::string line = std::string(kAppliExit) + "\n";
    (void)::send(input_, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(input_, SHUT_WR);  // the program reads the end of its input next
    ::close(input_);
    input_ = -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  while (Running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (Running()) ::kill(pid_, SIGTERM);
}

}  // namespace velmo
