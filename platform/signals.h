#pragma once

namespace kel {

/// Registers `handler` to run once at normal process exit (std::exit or a
/// return from main).
void RegisterExitHandler(void (*handler)());

/// Installs handlers for SIGINT, SIGTERM, SIGABRT (and SIGBREAK / console
/// control events on Windows). The handler only records the stop; the
/// process is ended from the main thread by the next wait (clock sleep,
/// serial wait, key read), which calls ExitIfStopRequested.
void InstallStopSignals();

/// True once a stop signal has arrived.
bool StopRequested();

/// Ends the process with exit code 1 (running the exit handler) when a stop
/// signal has arrived. Called from every wait loop.
void ExitIfStopRequested();

/// A descriptor that becomes readable once a stop signal has arrived, so a
/// poll() in a wait loop wakes at once (POSIX). It stays readable; it is
/// created on first use. -1 on Windows, and when it cannot be made.
int StopSignalFd();

/// A manual-reset event handle (HANDLE) that is set once a stop signal has
/// arrived, for WaitForMultipleObjects in wait loops (Windows). Null on POSIX.
void* StopSignalEvent();

}  // namespace kel
