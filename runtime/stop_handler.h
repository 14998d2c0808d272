#pragma once

#include "runtime/runtime.h"

namespace kel {

/// What the process does when it ends while main's work is under way (a
/// stop signal, a fatal error): tell the operator, release the COM port and
/// its lock file, and close the log. It acts only while armed: main arms it
/// once the log is open and disarms it when its work is done.
class StopHandler {
 public:
  explicit StopHandler(Runtime& rt) : rt_(rt) {}

  void Arm() { armed_ = true; }
  void Disarm() { armed_ = false; }
  bool armed() const { return armed_; }

  /// When armed: prints "\r\n-- stopped\r\n" on the info sink, puts the
  /// link back (Runtime::RestoreLink), closes the port, closes the log and,
  /// unless the way out stored its own reason there, stores "stopped" under
  /// "Message" in the parameter file; then disarms, so it acts at most once. Always ends a
  /// held-back console line.
  void Run();

 private:
  Runtime& rt_;
  bool armed_ = false;
};

/// Makes `handler` (or none) the one that RunProcessStopHandler runs.
void SetProcessStopHandler(StopHandler* handler);

/// Runs the process-wide stop handler, if one is set. A plain function so
/// that it can be registered to run at process exit.
void RunProcessStopHandler();

}  // namespace kel
