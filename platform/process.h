#pragma once

#include <string>
#include <vector>

namespace kel {

/// Full path of the running executable file itself, however it was started.
std::string ExecutablePath();

/// How a child process ended.
enum class ProcessEnd {
  kExited,      ///< it ran and ended with `exitCode`
  kNotStarted,  ///< it could not be started
  kStopped,     ///< a stop signal ended the wait (and the child)
};

/// What RunProcess gives back: how the child ended and, when it exited,
/// its exit code, whatever its value (a Windows child's -1 is an exit
/// code like any other).
struct ProcessResult {
  ProcessEnd end = ProcessEnd::kNotStarted;
  int exitCode = 0;
};

/// How long a child asked to end at a stop may take before it is killed.
constexpr int kChildStopGraceMs = 3000;

/// Runs `program` with `args` as a child process, without a shell, and waits
/// for it. A child killed by a signal (POSIX) exits with 128 + the signal
/// number. A stop signal (signals.h) that arrives meanwhile ends the child:
/// it is asked to end (SIGTERM; on Windows it has the same console event),
/// killed when it has not ended within kChildStopGraceMs, and waited for;
/// the result is kStopped then, whatever its exit code, so the caller can
/// stop too.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args);

/// The id of the calling thread, for trace lines.
unsigned long CurrentThreadId();

}  // namespace kel
