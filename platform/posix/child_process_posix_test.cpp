#include "platform/posix/child_process_posix_test.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/process_exit.h"

namespace kel {
namespace {

long NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

}  // namespace

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string ReadUntil(int fd, const std::string& wanted, int timeoutMs) {
  std::string got;
  long end = NowMs() + timeoutMs;
  while (got.find(wanted) == std::string::npos) {
    long left = end - NowMs();
    if (left <= 0) break;
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[256];
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

ChildResult RunForked(const std::function<void(int reportFd)>& body, int timeoutMs,
                      const std::function<void(int pid, int reportFd)>& whileRunning) {
  ChildResult result;
  int report[2];
  if (pipe(report) != 0) return result;
  // Flushed first so the child's exit does not print the parent's buffers twice.
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    // A way out of the child (SystemExit, a stop) ends it as main would.
    try {
      body(report[1]);
    } catch (const ExitRequested& end) {
      _exit(end.code);
    }
    _exit(0);
  }
  close(report[1]);
  if (whileRunning) whileRunning(pid, report[0]);
  long end = NowMs() + timeoutMs;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (NowMs() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(2000);
  }
  // The child has ended, so this read stops at the end of its report.
  char buffer[256];
  ssize_t n;
  while ((n = read(report[0], buffer, sizeof(buffer))) > 0) result.report.append(buffer, static_cast<size_t>(n));
  close(report[0]);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace kel
