#pragma once

#include <string>
#include <vector>

namespace kel {

/// Full path of the running executable file itself, however it was started.
std::string ExecutablePath();

/// What RunProcess returns when a stop signal ended the wait.
constexpr int kProcessStopped = -2;

/// How long a child asked to end at a stop may take before it is killed.
constexpr int kChildStopGraceMs = 3000;

/// Runs `program` with `args` as a child process, without a shell, and waits
/// for it. Returns its exit code, or -1 when it could not be started. A
/// child killed by a signal (POSIX) gives 128 + the signal number. A stop
/// signal (signals.h) that arrives meanwhile ends the child: it is asked to
/// end (SIGTERM; on Windows it has the same console event), killed when it
/// has not ended within kChildStopGraceMs, and waited for; kProcessStopped
/// is returned then, whatever its exit code, so the caller can stop too.
int RunProcess(const std::string& program, const std::vector<std::string>& args);

/// The id of the calling thread, for trace lines.
unsigned long CurrentThreadId();

}  // namespace kel
