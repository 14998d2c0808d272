#pragma once

#include <functional>
#include <string>

namespace kel {

/// What a forked child reported and how it ended.
struct ChildResult {
  std::string report;  ///< everything the child wrote to its report descriptor
  int exitCode = -1;   ///< exit code, or -1 when it did not exit normally
  int signal = 0;      ///< the signal that ended it, if any
};

/// Forks; the child runs `body` with a descriptor for its report and then
/// _exit(0)s (the body may end the process itself). The parent waits up to
/// `timeoutMs`, killing the child when it takes longer, and returns.
/// `whileRunning`, when given, runs in the parent with the child's pid
/// before the wait (for example to send it a signal).
ChildResult RunForked(const std::function<void(int reportFd)>& body, int timeoutMs = 10000,
                      const std::function<void(int pid, int reportFd)>& whileRunning = nullptr);

/// Writes `text` to `fd` completely.
void WriteAll(int fd, const std::string& text);

/// Reads from `fd` until `wanted` has been seen or `timeoutMs` passed;
/// returns what was read.
std::string ReadUntil(int fd, const std::string& wanted, int timeoutMs);

}  // namespace kel
