#include "platform/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/posix/abort_release_posix.h"
#include "platform/posix/standard_io_posix.h"
#include "platform/process_exit.h"

namespace kel {
namespace {

// Written only by the signal handler, read by the main thread.
volatile sig_atomic_t gStopRequested = 0;
// Set on the main thread once the stop is acted on (the exit is under way):
// the exit-time clean-up may still wait for a unit, and must neither be cut
// short nor start the exit again.
volatile sig_atomic_t gStopActedOn = 0;
// The self-pipe: the handler writes one byte so that poll() loops wake.
int gStopPipe[2] = {-1, -1};
// The process that made the pipe. A forked child shares its parent's pipe,
// so a stop byte written in one would wake the other: a child makes its own.
pid_t gStopPipeOwner = -1;

// What a self-raised abort lets go, kept where the handler can reach it
// without allocating: the lock marker's path, the open port and its
// settings from before the program changed them.
char gAbortFile[4096] = {};
volatile sig_atomic_t gAbortPortFd = -1;
TerminalSettings gAbortPortSettings;

bool MakeStopPipe() {
  if (gStopPipe[0] >= 0 && gStopPipeOwner == getpid()) return true;
  if (gStopPipe[0] >= 0) {
    close(gStopPipe[0]);
    close(gStopPipe[1]);
    gStopPipe[0] = gStopPipe[1] = -1;
  }
  EnsureStandardDescriptors();
  int fds[2];
  if (pipe(fds) != 0) return false;
  for (int fd : fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  gStopPipe[0] = fds[0];
  gStopPipe[1] = fds[1];
  gStopPipeOwner = getpid();
  return true;
}

// Async-signal-safe: only a flag, one write() and, for abort(), the
// terminal restore (tcsetattr) and _exit.
void OnStopSignal(int signal, siginfo_t* info, void*) {
  int savedErrno = errno;
  gStopRequested = 1;
  if (gStopPipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(gStopPipe[1], &byte, 1);
    (void)ignored;
  }
  // abort() from inside the process cannot be returned from: the C library
  // kills the process as soon as this handler returns, so the normal stop
  // path (which runs on the main thread) never comes. End here with exit
  // code 1 after restoring the terminal; the exit handler does not run,
  // because its work (closing files, printing) is not safe in a handler.
  // A SIGABRT sent by another process is treated like SIGTERM.
  if (signal == SIGABRT && info != nullptr && info->si_pid == getpid()) {
    RestoreTerminalFromSignal();
    const int port = gAbortPortFd;
    if (port >= 0) {
      RestoreTerminalSettings(port, gAbortPortSettings);
      ioctl(port, TIOCNXCL);
    }
    if (gAbortFile[0] != '\0') unlink(gAbortFile);
    _exit(1);
  }
  errno = savedErrno;
}

}  // namespace

void InstallStopSignals() {
  MakeStopPipe();
  struct sigaction action = {};
  action.sa_sigaction = OnStopSignal;
  // No SA_RESTART: blocking calls return EINTR so wait loops notice the stop.
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  // A closed terminal or remote session (SIGHUP) and Ctrl-\ (SIGQUIT) stop
  // the run like Ctrl-C, so the port, its lock marker and the log are let go.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT})
    sigaction(signal, &action, nullptr);
  // Output to a pipe whose reader has gone (| head) fails with EPIPE, and a
  // log beyond the file size limit with EFBIG, instead of killing the
  // process; the run goes on and ends as it would.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

void RemoveFileOnAbort(const std::string& path) {
  // Cleared first, so the handler never sees half a name.
  gAbortFile[0] = '\0';
  if (path.empty() || path.size() >= sizeof gAbortFile) return;
  std::memcpy(gAbortFile + 1, path.c_str() + 1, path.size());
  gAbortFile[0] = path[0];
}

void HoldPortForAbort(int fd, const TerminalSettings& original) {
  gAbortPortFd = -1;
  gAbortPortSettings = original;
  gAbortPortFd = fd;
}

void ForgetPortForAbort(int fd) {
  if (gAbortPortFd == fd) gAbortPortFd = -1;
}

// Set on the main thread while stops are held: while the way out puts a
// unit back (so the put-back and the way out's own message and exit code
// are not cut short), and while a boot loader is written (so it is never
// left half written).
static bool gStopsHeld = false;

bool StopRequested() { return gStopRequested != 0 && gStopActedOn == 0 && !gStopsHeld; }

void HoldStops(bool held) { gStopsHeld = held; }

bool StopsHeld() { return gStopsHeld; }

bool StopWaiting() { return gStopRequested != 0 && gStopActedOn == 0 && gStopsHeld; }

void ExitIfStopRequested() {
  if (!StopRequested()) return;
  gStopActedOn = 1;
  SystemExit().Exit(1);
}

int StopSignalFd() {
  if (gStopActedOn || gStopsHeld) return -1;
  MakeStopPipe();
  return gStopPipe[0];
}

void* StopSignalEvent() { return nullptr; }

}  // namespace kel
