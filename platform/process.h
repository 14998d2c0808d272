#pragma once

#include <string>
#include <vector>

namespace kel {

/// Full path of the running executable file itself, however it was started.
std::string ExecutablePath();

/// Runs `program` with `args` as a child process, without a shell, and waits
/// for it. Returns its exit code, or -1 when it could not be started. A
/// child killed by a signal (POSIX) gives 128 + the signal number.
int RunProcess(const std::string& program, const std::vector<std::string>& args);

/// The id of the calling thread, for trace lines.
unsigned long CurrentThreadId();

}  // namespace kel
