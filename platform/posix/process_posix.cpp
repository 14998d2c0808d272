#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/process.h"
#include "platform/signals.h"

extern char** environ;

namespace kel {

namespace {

// How often a wait looks at the child between stop checks.
constexpr int kChildPollMs = 50;

uint64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

enum class Waited { kEnded, kNotYet, kLost };

// Waits up to `ms` for the child to end with `status` (until a stop signal
// arrives for a negative `ms`).
Waited WaitForChild(pid_t child, int& status, int ms) {
  const uint64_t end = ms < 0 ? 0 : NowMs() + static_cast<uint64_t>(ms);
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return Waited::kEnded;
    if (done < 0 && errno != EINTR) return Waited::kLost;
    if (ms >= 0 && NowMs() >= end) return Waited::kNotYet;
    if (ms < 0 && StopRequested()) return Waited::kNotYet;
    // Until the stop, its descriptor wakes the poll at once; the child's
    // end is seen at the next look. After it, it stays readable: sleep.
    pollfd stop = {ms < 0 ? StopSignalFd() : -1, POLLIN, 0};
    poll(&stop, 1, kChildPollMs);
  }
}

}  // namespace

std::string ExecutablePath() {
  std::string buffer(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
  // The arguments go to the program exactly as given: no shell, no splitting.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // The child starts with the signals this program ignores (a reader that
  // went away, a file size limit) back at their defaults.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t child = 0;
  // glibc's posix_spawn reports a failed exec (missing file, no permission)
  // as its own result, so "could not be started" is told apart from the
  // program's exit codes.
  const int spawned =
      posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return {ProcessEnd::kNotStarted, 0};
  int status = 0;
  const Waited waited = WaitForChild(child, status, -1);
  if (waited == Waited::kLost) return {ProcessEnd::kNotStarted, 0};
  if (waited == Waited::kNotYet) {
    // Stopped: a hung child must not keep the run alive, nor run on
    // orphaned. Asked first, so it can let go of what it holds; then killed.
    kill(child, SIGTERM);
    if (WaitForChild(child, status, kChildStopGraceMs) == Waited::kNotYet) {
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }
    return {ProcessEnd::kStopped, 0};
  }
  // A stop that came as the child ended (a Ctrl-C reaches both) is a stop.
  if (StopRequested()) return {ProcessEnd::kStopped, 0};
  if (WIFEXITED(status)) return {ProcessEnd::kExited, WEXITSTATUS(status)};
  // Killed by a signal: reported as a failure, the way shells number it.
  if (WIFSIGNALED(status)) return {ProcessEnd::kExited, 128 + WTERMSIG(status)};
  return {ProcessEnd::kNotStarted, 0};
}

unsigned long CurrentThreadId() { return static_cast<unsigned long>(gettid()); }

}  // namespace kel
