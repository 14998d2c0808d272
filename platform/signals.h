#pragma once

#include <string>

namespace kel {

/// Registers `handler` to run on the way out: by ProcessExit::Exit before
/// the stack unwinds, and at normal process exit (a return from main). It
/// must be safe to run more than once.
void RegisterExitHandler(void (*handler)());

/// Installs handlers for the stop signals: SIGINT, SIGTERM, SIGHUP, SIGQUIT
/// and SIGABRT (SIGINT, SIGTERM, SIGBREAK, SIGABRT and the console control
/// events on Windows). The handler only records the stop; the process is
/// ended from the main thread by the next wait (clock sleep, serial wait,
/// key read), which calls ExitIfStopRequested. A SIGABRT the process raised
/// itself cannot wait for that: it ends the process at once, after putting
/// the terminal back, letting the serial port go and deleting the file
/// named by RemoveFileOnAbort. SIGPIPE and SIGXFSZ are ignored, so that
/// output to a reader that has gone, or a log beyond the file size limit,
/// fails as a write instead of ending the run.
void InstallStopSignals();

/// Names the file a self-raised abort deletes (the port's lock marker);
/// empty for none.
void RemoveFileOnAbort(const std::string& path);

/// True once a stop signal has arrived, until ExitIfStopRequested acts on it.
bool StopRequested();

/// While held, a stop signal that arrives is only noted: StopRequested is
/// false and no wait is cut short. Released, a noted stop acts as usual.
void HoldStops(bool held);
/// True while stops are held.
bool StopsHeld();
/// True when a stop signal has arrived while stops are held, and waits for
/// their release.
bool StopWaiting();

/// Ends the process with exit code 1 through SystemExit (the exit handler
/// runs, then the stack unwinds to main) when a stop signal has arrived.
/// Called from every wait loop. Once it has acted, the stop no longer cuts
/// waits short (StopSignalFd and StopSignalEvent give none), so the exit
/// handler can still wait for a unit.
void ExitIfStopRequested();

/// A descriptor that becomes readable once a stop signal has arrived, so a
/// poll() in a wait loop wakes at once (POSIX). It stays readable; it is
/// created on first use. -1 on Windows, and when it cannot be made.
int StopSignalFd();

/// A manual-reset event handle (HANDLE) that is set once a stop signal has
/// arrived, for WaitForMultipleObjects in wait loops (Windows). Null on POSIX.
void* StopSignalEvent();

}  // namespace kel
