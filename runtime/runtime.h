#pragma once

#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "runtime/options.h"
#include "runtime/output.h"
#include "runtime/run_summary.h"

namespace kel {

/// The process-wide services and settings that every layer uses: options,
/// output, and the platform interfaces. main builds one from the system
/// sides; a test builds one from fakes (VirtualClock, ScriptedConsole,
/// MapEnvironment, MapRegistry, ThrowingExit).
struct Runtime {
  Options& options;
  Output& out;
  Clock& clock;
  Console& console;
  Environment& env;
  Registry& registry;
  ProcessExit& exit;

  /// Closes the COM port and deletes its lock file. The serial layer sets it
  /// when it is created; FatalError and the stop handler call it.
  std::function<void()> closePort;

  /// Told the message when FatalError ends the run (or "stopped" when the
  /// stop handler does), before port and log are closed: the update history records the unit whose update the
  /// error ends as failed. Set by whoever owns such a record; may be empty.
  std::function<void(const std::string& message)> onFatalError = nullptr;

  /// The units a job touched, for the summary that ends the run: set by a
  /// job that touches units, asked once when the summary is printed.
  /// `fatal`: the run ends through FatalError or a stop, so a unit whose
  /// update was under way counts as failed.
  std::function<std::vector<SummaryLine>(bool fatal)> summaryLines = nullptr;
  /// Prints the summary, once: the heading and one line per unit on the
  /// info sink, on a line of its own; nothing when no unit is in it.
  /// FatalError and the stop handler print it before their own last line.
  void PrintSummary(bool fatal);
  /// The run's last line (on the info sink), with the summary before it.
  void PrintLastLine(const std::string& line);

  /// Puts back what the run moved (a unit's speed, a test jig's proxy)
  /// before the port is let go. The unit layer sets it while a job runs;
  /// RestoreLink runs it.
  std::function<void()> restoreLink = nullptr;
  /// True while restoreLink runs.
  bool restoringLink = false;
  /// Runs restoreLink once (it is cleared first): from the orderly end,
  /// FatalError and the stop handler, whichever comes first.
  void RestoreLink();

  /// The exit code of a run that reached its end but left something undone
  /// that a script must know about: a log not saved whole, units not
  /// updated, a restart of the units that was not confirmed, a unit not put
  /// back at its speed.
  static constexpr int kExitIncomplete = 3;

  /// The exit code of a run that reaches its orderly end: 0, or what
  /// EndUnfinished set (2 when a manufacturing update failed: a production
  /// script must not take the unit as updated; kExitIncomplete).
  int endExitCode = 0;
  /// Why the orderly end is not a success, in the program's words; with a
  /// parameter file it goes under "Message" at the end.
  std::string endReason = "";
  /// Marks the orderly end as not a success, with `code` and `reason`. The
  /// first mark stands: later ones change nothing.
  void EndUnfinished(int code, const std::string& reason);

  /// True once this run's own reason for a non-zero end is in the parameter
  /// file (a fatal error's message, the boot tool's failure), so that the
  /// stop handler on the way out does not put "stopped" over it.
  bool messageStored = false;
  /// Stores `text` (without a closing line end) under "Message" in the
  /// parameter file, when one was named, and notes it as stored.
  void StoreMessage(const std::string& text);

  /// Prints "Fatal Error: " + message, puts the link back (RestoreLink),
  /// closes port and log, stores the
  /// message under "Message" in the parameter file when one was named,
  /// waits for a key and ends the process (exit code 2 with a parameter
  /// file, else 1).
  [[noreturn]] void FatalError(const std::string& message);

  /// The end-of-run pause: "Press Enter key to continue", one key.
  void PressEnter();
  /// Asks `question` + " (y/n)"; true only for Y or y (always, under -y).
  bool AskYesNo(const std::string& question);

  /// The internal assertion report; does not return.
  [[noreturn]] void AssertFailed(const char* source, int line);

  /// The report of a failed C library call (log file or parameter file not
  /// usable): "Fatal error: " + the system's text on the console, then the
  /// process ends with exit code 1.
  [[noreturn]] void FatalSystemError(const std::string& systemText);
};

}  // namespace kel
