#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"
#include "platform/posix/standard_io_posix.h"
#include "platform/signals.h"

namespace kel {
namespace {

// The terminal mode found at first use, restored at every exit. Plain
// globals so the signal path can reach them without locks.
struct termios gSavedTermios;
volatile bool gTermiosSaved = false;

void RestoreTerminalAtExit() { RestoreTerminalFromSignal(); }

class PosixConsole : public Console {
 public:
  PosixConsole() : stdoutIsTerminal_((EnsureStandardDescriptors(), isatty(STDOUT_FILENO) == 1)) {}

  void PutChar(char c) override {
    std::fputc(static_cast<unsigned char>(c), stdout);
    // A terminal shows every character at once (progress dots, prompts);
    // a pipe or file gets whole lines, and everything before a key is read.
    if (stdoutIsTerminal_ || c == '\n') std::fflush(stdout);
  }

  int ReadKey() override {
    std::fflush(stdout);
    int key = NextKey(-1);
    if (key >= 0) Echo(key);
    return key;
  }

  bool KeyWaiting() override {
    std::fflush(stdout);
    return NextKey(0) >= 0 ? (Unread(), true) : false;
  }

 private:
  // Switches a terminal on standard input to one key at a time without
  // waiting for Enter. Echo is done by ReadKey itself, so a key appears
  // when it is taken, not while the program is busy elsewhere.
  void PrepareInput() {
    if (prepared_) return;
    prepared_ = true;
    if (isatty(STDIN_FILENO) != 1) return;
    struct termios mode;
    if (tcgetattr(STDIN_FILENO, &mode) != 0) return;
    gSavedTermios = mode;
    gTermiosSaved = true;
    std::atexit(RestoreTerminalAtExit);
    mode.c_lflag &= ~(ICANON | ECHO);
    // Enter arrives as a carriage return, as a console key press does.
    mode.c_iflag &= ~ICRNL;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &mode);
  }

  // Returns the next key (keeping it for the next call when peeked), or -1
  // when none came within `timeoutMs` (-1 waits for ever) or input ended.
  // A stop signal ends the process from here.
  int NextKey(int timeoutMs) {
    if (hasLookahead_) {
      hasLookahead_ = false;
      return lookahead_;
    }
    if (ended_) return -1;
    PrepareInput();
    for (;;) {
      ExitIfStopRequested();
      struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {StopSignalFd(), POLLIN, 0}};
      int ready = poll(fds, 2, timeoutMs);
      if (ready < 0) {
        if (errno == EINTR) continue;
        ended_ = true;
        return -1;
      }
      if (fds[1].revents != 0) continue;  // the stop check above ends the process
      if (ready == 0) return -1;
      if (fds[0].revents & POLLNVAL) {  // standard input is closed
        ended_ = true;
        return -1;
      }
      unsigned char byte = 0;
      ssize_t got = read(STDIN_FILENO, &byte, 1);
      if (got == 1) {
        lookahead_ = byte;
        return byte;
      }
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      // End of input, or a read error: no key can come any more.
      ended_ = true;
      return -1;
    }
  }

  void Unread() { hasLookahead_ = true; }

  void Echo(int key) { PutChar(static_cast<char>(key == '\n' ? '\r' : key)); }

  bool stdoutIsTerminal_;
  bool prepared_ = false;
  bool ended_ = false;
  bool hasLookahead_ = false;
  int lookahead_ = 0;
};

}  // namespace

void RestoreTerminalFromSignal() {
  if (gTermiosSaved) tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTermios);
}

void EnsureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor is this one, since the ones below are open.
      int opened = open("/dev/null", O_RDWR);
      if (opened >= 0 && opened != fd) close(opened);
    }
  }
}

Console& SystemConsole() {
  static PosixConsole console;
  return console;
}

}  // namespace kel
