#pragma once

namespace kel {

/// Ends the process. The system side calls std::exit, which runs the
/// registered exit-time handler; tests install ThrowingExit so that a fatal
/// path can be observed without killing the test runner.
class ProcessExit {
 public:
  virtual ~ProcessExit() = default;
  [[noreturn]] virtual void Exit(int code) = 0;
};

ProcessExit& SystemExit();

/// Thrown by ThrowingExit; carries the exit code the program asked for.
struct ExitRequested {
  int code;
};

class ThrowingExit : public ProcessExit {
 public:
  [[noreturn]] void Exit(int code) override { throw ExitRequested{code}; }
};

}  // namespace kel
