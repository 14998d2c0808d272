// The program's entry: builds the runtime from the system's own sides and
// runs the main flow.
#include <string>
#include <vector>

#include "app/main_flow.h"
#include "app/options_parser.h"
#include "platform/process.h"
#include "platform/serial_device.h"
#include "platform/signals.h"
#include "runtime/log_file.h"
#include "runtime/stop_handler.h"

int main(int argc, char** argv) {
  // These live until the process ends: the exit-time stop handler runs
  // once more after main returns, and uses them then.
  static kel::Options options;
  static kel::Output out(kel::SystemConsole(), kel::SystemClock(), options);
  static kel::Runtime rt{options,
                         out,
                         kel::SystemClock(),
                         kel::SystemConsole(),
                         kel::SystemEnvironment(),
                         kel::SystemRegistry(),
                         kel::SystemExit(),
                         {}};
  static kel::StopHandler stopHandler(rt);
  kel::SetProcessStopHandler(&stopHandler);
  // The stop handler may still reopen the port to put the unit back; the
  // port opener is made before the handler is registered so that it is
  // destroyed only after the handler has run.
  kel::SystemSerialPorts();
  kel::RegisterExitHandler(kel::RunProcessStopHandler);

  kel::ProgramStart start;
  for (int i = 0; i < argc; ++i) start.arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  const std::string program = kel::ExecutablePath();
  start.logFolder = kel::RecordFolderFor(kel::SystemEnvironment(), program, kel::kLogFolderName);
  start.logFolderBeside = kel::LogFolderFor(program);
  start.slashStartsOptions = kel::SlashStartsOptions();
  start.installStopSignals = kel::InstallStopSignals;
  // Every way out (a fatal error, a stop, a declined question) runs the
  // stop handler and then unwinds to here, so what cleans up on the way
  // (a half-written copy of a unit's log) does so, as in the tests.
  try {
    return kel::RunMainFlow(rt, stopHandler, start);
  } catch (const kel::ExitRequested& end) {
    return end.code;
  }
}
