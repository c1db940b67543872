#include "dicom/htj2k_child.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/install.h"
#include "dicom/htj2k_protocol.h"
#include "dicom/j2k_decode.h"

extern char** environ;

namespace velmo {

using namespace htj2k;

namespace {

std::mutex gPathMutex;
std::string gPathOverride;

using Clock = std::chrono::steady_clock;

// A build with the address sanitizer reserves terabytes of address space for its
// shadow memory at start, so its helper cannot run under an address-space limit;
// such builds (tests, fuzzing) go without it.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLimitAddressSpace = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif
#else
constexpr bool kLimitAddressSpace = true;
#endif

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Blocks SIGPIPE in the calling thread for its lifetime, so a write to a pipe whose
// reader has gone fails with EPIPE instead of ending the process; a SIGPIPE raised
// meanwhile (and not pending before) is taken off again before the mask is restored.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
  }
  ~SigpipeBlock() {
    if (!wasPending_) {
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      const timespec zero{0, 0};
      while (sigtimedwait(&pipe, nullptr, &zero) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t old_;
  bool wasPending_ = false;
};

// Waits for the child until the deadline, then kills it; always reaps it.
// Returns the wait status; *timedOut tells whether it had to be killed.
int Reap(pid_t pid, Clock::time_point deadline, bool kill, bool* timedOut) {
  int status = -1;  // reads as ended by a signal unless a real status arrives
  if (!kill) {
    auto pause = std::chrono::microseconds(20);
    for (;;) {
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) return status;
      if (r < 0 && errno != EINTR) return status;  // not ours to reap any more
      if (Clock::now() >= deadline) break;
      std::this_thread::sleep_for(pause);
      pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(5));
    }
    *timedOut = true;
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

std::string Htj2kHelperPath() {
  {
    std::lock_guard<std::mutex> lock(gPathMutex);
    if (!gPathOverride.empty()) return gPathOverride;
  }
  const char* env = std::getenv("VELMO_HTJ2K_HELPER");
  if (env != nullptr && *env != '\0') return env;
  // Never a bare name, which would start whatever the working folder holds.
  const std::string folder = ProgramFolder();
  return folder.empty() ? std::string() : folder + kHtj2kHelperName;
}

void SetHtj2kHelperPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(gPathMutex);
  gPathOverride = path;
}

ChildDecodeStatus DecodeJpeg2000InChild(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns,
                                        int bytesPerPixel) {
  if (data == nullptr || frame == nullptr || rows <= 0 || columns <= 0 || bytesPerPixel < 1 || bytesPerPixel > 3 ||
      length > kMaxStream)
    return ChildDecodeStatus::kFailed;
  const uint64_t pixels = static_cast<uint64_t>(rows) * static_cast<uint64_t>(columns);
  const uint64_t frameBytes = pixels * static_cast<uint64_t>(bytesPerPixel);
  if (frameBytes > kMaxFrame) return ChildDecodeStatus::kFailed;

  // The decoders hold every sample as 32 bits per component, for a picture up to four
  // times the frame (the plausibility check), plus the stream and the libraries.
  const uint64_t components = bytesPerPixel == 3 ? 3 : 1;
  const uint64_t memoryLimit = (768ull << 20) + 32 * pixels * components + 4 * static_cast<uint64_t>(length);
  // A few seconds, more for very large frames.
  const auto timeLimit = std::chrono::seconds(5) + std::chrono::seconds((frameBytes + length) >> 23);

  const std::string helper = Htj2kHelperPath();
  int toChild[2] = {-1, -1}, fromChild[2] = {-1, -1};
  if (::pipe2(toChild, O_CLOEXEC) != 0) return ChildDecodeStatus::kPipeFailed;
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    CloseFd(toChild[0]);
    CloseFd(toChild[1]);
    return ChildDecodeStatus::kPipeFailed;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);  // whatever the program has open
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGALRM}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char* argv[] = {const_cast<char*>(helper.c_str()), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  CloseFd(toChild[0]);
  CloseFd(fromChild[1]);
  int out = toChild[1], in = fromChild[0];
  if (spawned != 0) {
    CloseFd(out);
    CloseFd(in);
    return ChildDecodeStatus::kNoHelper;
  }

  const auto deadline = Clock::now() + timeLimit;
  bool timedOut = false;
  // The limits are in place before the child has anything to decode: it reads the
  // whole request first, and the request is written only after this.
  const rlimit memory{memoryLimit, memoryLimit};
  const rlimit noCore{0, 0};
  if ((kLimitAddressSpace && ::prlimit(pid, RLIMIT_AS, &memory, nullptr) != 0) ||
      ::prlimit(pid, RLIMIT_CORE, &noCore, nullptr) != 0) {
    CloseFd(out);
    CloseFd(in);
    Reap(pid, deadline, true, &timedOut);
    return ChildDecodeStatus::kPipeFailed;
  }
  ::fcntl(out, F_SETFL, ::fcntl(out, F_GETFL) | O_NONBLOCK);
  ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) | O_NONBLOCK);

  Request request{};
  std::memcpy(request.magic, kMagic, 4);
  request.rows = static_cast<uint32_t>(rows);
  request.columns = static_cast<uint32_t>(columns);
  request.bytesPerPixel = static_cast<uint32_t>(bytesPerPixel);
  request.length = length;
  const uint8_t* header = reinterpret_cast<const uint8_t*>(&request);
  size_t sent = 0;
  const size_t toSend = sizeof(request) + length;

  std::vector<uint8_t> received;
  size_t got = 0;
  bool tooMuch = false, broken = false;
  try {
    received.resize(static_cast<size_t>(frameBytes) + 1);  // one more, to see a longer answer
  } catch (const std::bad_alloc&) {
    broken = true;
  }
  {
    SigpipeBlock sigpipe;
    // Writes and reads interleave, so neither side can wait on a full pipe forever.
    while (!broken && in >= 0) {
      const auto now = Clock::now();
      if (now >= deadline) {
        timedOut = true;
        break;
      }
      pollfd fds[2];
      nfds_t count = 0;
      fds[count++] = {in, POLLIN, 0};
      if (out >= 0) fds[count++] = {out, POLLOUT, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
      const int ready = ::poll(fds, count, static_cast<int>(std::min<long long>(left, 1000)));
      if (ready < 0 && errno != EINTR) {
        broken = true;
        break;
      }
      if (ready <= 0) continue;
      if (out >= 0 && fds[1].revents != 0) {
        const uint8_t* p = sent < sizeof(request) ? header + sent : data + (sent - sizeof(request));
        const size_t n = sent < sizeof(request) ? sizeof(request) - sent : toSend - sent;
        const ssize_t w = ::write(out, p, n);
        if (w > 0) sent += static_cast<size_t>(w);
        else if (w < 0 && errno != EINTR && errno != EAGAIN) CloseFd(out);  // EPIPE: the child has gone
        if (sent == toSend) CloseFd(out);
      }
      if (fds[0].revents != 0) {
        const ssize_t r = ::read(in, received.data() + got, received.size() - got);
        if (r > 0) {
          got += static_cast<size_t>(r);
          if (got == received.size()) tooMuch = true;
        } else if (r == 0) {
          CloseFd(in);  // end of the answer
        } else if (errno != EINTR && errno != EAGAIN) {
          broken = true;
        }
        if (tooMuch) break;
      }
    }
    CloseFd(out);
    CloseFd(in);
  }
  const int status = Reap(pid, deadline, timedOut || tooMuch || broken, &timedOut);
  if (timedOut) return ChildDecodeStatus::kTimedOut;
  if (broken) return ChildDecodeStatus::kPipeFailed;
  if (WIFSIGNALED(status)) return tooMuch ? ChildDecodeStatus::kBadOutput : ChildDecodeStatus::kCrashed;
  if (!WIFEXITED(status)) return ChildDecodeStatus::kCrashed;
  if (tooMuch) return ChildDecodeStatus::kBadOutput;
  if (WEXITSTATUS(status) != 0) return ChildDecodeStatus::kFailed;
  if (got != frameBytes) return ChildDecodeStatus::kBadOutput;
  std::memcpy(frame, received.data(), static_cast<size_t>(frameBytes));
  return ChildDecodeStatus::kOk;
}

}  // namespace velmo
