#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "runtime/runtime.h"
#include "runtime/stop_handler.h"

namespace kel {

/// How the program was started, and the platform hooks of the main flow.
struct ProgramStart {
  /// The command line, the program path first.
  std::vector<std::string> arguments;
  /// The run-log folder (RecordFolderFor the executable's path).
  std::string logFolder;
  /// The run-log folder beside the program (LogFolderFor the executable's
  /// path); a `logFolder` elsewhere is said once in the log. Empty in tests
  /// that do not care.
  std::string logFolderBeside;
  /// Whether "/" starts an option cluster (Windows) or a file path (POSIX).
  bool slashStartsOptions = false;
  /// Installs the stop-signal handlers (first thing, before any prompt);
  /// empty in tests.
  std::function<void()> installStopSignals;
  /// Connects and runs the job; RunJob when empty. Tests put a stand-in here.
  std::function<void(Runtime&)> job;
  /// The ports --list-ports lists; the system's when null.
  SerialPortOpener* ports = nullptr;
};

/// The program's main flow: banner, command line, parameter file, log,
/// stop handler, the job, then the orderly end. Returns the exit code of a
/// run that reaches its end (rt.endExitCode: 0 unless the job failed);
/// fatal paths end through rt.exit.
int RunMainFlow(Runtime& rt, StopHandler& stopHandler, const ProgramStart& start);

}  // namespace kel
