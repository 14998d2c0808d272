#pragma once

namespace kel {

/// Ends the process. First the exit-time handler registered with
/// RegisterExitHandler runs (the stop handler: the port, its lock file and
/// the log let go while all the run holds is still in place), then
/// ExitRequested is thrown. main catches it and returns its code, so the
/// stack unwinds on every way out, in the shipped program as in tests, and
/// whatever cleans up in its destructor (a half-written copy of a unit's
/// log removes itself) does so. Tests catch ExitRequested themselves.
class ProcessExit {
 public:
  virtual ~ProcessExit() = default;
  [[noreturn]] virtual void Exit(int code) = 0;
};

/// The process's way out (a ThrowingExit).
ProcessExit& SystemExit();

/// Thrown by ThrowingExit; carries the exit code the program asked for.
struct ExitRequested {
  int code;
};

class ThrowingExit : public ProcessExit {
 public:
  [[noreturn]] void Exit(int code) override;
};

/// Runs the registered exit-time handler now, once at a time: an end asked
/// for while it runs (a fatal error as it puts a unit back) only ends its
/// work, and the way out under way keeps its own exit code.
void RunExitHandlerBeforeExit();

}  // namespace kel
