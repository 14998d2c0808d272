#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/process_exit.h"
#include "platform/signals.h"

namespace kel {
namespace {

volatile std::sig_atomic_t gStopRequested = 0;
// Set on the main thread once the stop is acted on (the exit is under way):
// the exit-time clean-up may still wait for a unit, and must neither be cut
// short nor start the exit again.
volatile std::sig_atomic_t gStopActedOn = 0;
// Set on the main thread while stops are held: while the way out puts a
// unit back, and while a boot loader is written. A stop that arrives then
// is noted but waits, so neither is cut short. Read by the console control
// handler's thread too.
volatile bool gStopsHeld = false;
// Manual-reset, so every wait that looks at it after the stop sees it set.
HANDLE gStopEvent = nullptr;
// The lock marker an abort deletes on its way out.
char gAbortFile[4096] = {};

HANDLE StopEvent() {
  if (gStopEvent == nullptr) gStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return gStopEvent;
}

void NoteStop() {
  gStopRequested = 1;
  if (gStopEvent != nullptr) SetEvent(gStopEvent);
}

// Time the main thread has to stop the run (end a running boot tool, let
// the port go, close the log) after the console is closed; the system ends
// the process a few seconds after the event in any case.
constexpr DWORD kCloseGraceMs = 4000;
// While stops are held (a boot loader being written), the handler waits on
// until they are released, up to this. The system does not wait that long:
// it ends a process some 5 s after a console is closed (sooner at a logoff
// or shutdown) whatever its handler does, so a closed console gives a boot
// loader only those seconds; Ctrl-C and Ctrl-Break wait as long as needed.
constexpr DWORD kHeldCloseMs = 30000;
constexpr DWORD kCloseStepMs = 50;

// Runs on a thread of its own that the system starts for Ctrl-C and
// Ctrl-Break; returning TRUE keeps the process alive until the main thread
// ends it from its next wait. A closed console, a logoff or a shutdown end
// the process as soon as this returns, so the handler waits here while the
// main thread stops the run like after Ctrl-C.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    NoteStop();
    return TRUE;
  }
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    NoteStop();
    DWORD waited = 0;
    while (gStopsHeld && waited < kHeldCloseMs) {
      Sleep(kCloseStepMs);
      waited += kCloseStepMs;
    }
    Sleep(kCloseGraceMs);
    return TRUE;
  }
  return FALSE;
}

void OnSignal(int signal) {
  NoteStop();
  // abort() ends the process as soon as this handler returns, so the stop
  // cannot wait for the main thread: leave at once with exit code 1.
  if (signal == SIGABRT) {
    if (gAbortFile[0] != '\0') DeleteFileA(gAbortFile);
    _exit(1);
  }
  // The C runtime resets the handler before calling it.
  std::signal(signal, OnSignal);
}

}  // namespace

void InstallStopSignals() {
  StopEvent();
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  for (int signal : {SIGINT, SIGTERM, SIGBREAK, SIGABRT}) std::signal(signal, OnSignal);
}

void RemoveFileOnAbort(const std::string& path) {
  gAbortFile[0] = '\0';
  if (path.empty() || path.size() >= sizeof gAbortFile) return;
  std::memcpy(gAbortFile + 1, path.c_str() + 1, path.size());
  gAbortFile[0] = path[0];
}

bool StopRequested() { return gStopRequested != 0 && gStopActedOn == 0 && !gStopsHeld; }

void HoldStops(bool held) { gStopsHeld = held; }

bool StopsHeld() { return gStopsHeld; }

bool StopWaiting() { return gStopRequested != 0 && gStopActedOn == 0 && gStopsHeld; }

void ExitIfStopRequested() {
  if (!StopRequested()) return;
  gStopActedOn = 1;
  SystemExit().Exit(1);
}

int StopSignalFd() { return -1; }

void* StopSignalEvent() { return gStopActedOn || gStopsHeld ? nullptr : StopEvent(); }

}  // namespace kel
