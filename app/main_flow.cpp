#include "app/main_flow.h"

#include "app/job.h"
#include "app/options_parser.h"
#include "app/port_list.h"
#include "app/usage.h"
#include "runtime/log_file.h"
#include "runtime/parameter_file.h"
#include "runtime/version.h"

namespace kel {

namespace {

// Said once when the records are not beside the program (a user who may
// not write the folder of an installed program), so the log tells where
// this run's records and the extracted logs went.
constexpr char kRecordsElsewhere[] = "-- logs kept in ";
constexpr char kRecordsNotBeside[] = ", not beside the program in ";

std::string ParentOf(const std::string& path) {
  const size_t end = path.find_last_of("/\\");
  return end == std::string::npos ? path : path.substr(0, end);
}

}  // namespace

int RunMainFlow(Runtime& rt, StopHandler& stopHandler, const ProgramStart& start) {
  // Before anything is printed or asked: a closed output pipe must not end
  // the run, and a stop at the very first prompt (the usage text's) must
  // still put the terminal back through the orderly exit. The stop handler
  // itself acts only once armed, when there is a port and a log to release.
  if (start.installStopSignals) start.installStopSignals();
  rt.out.Print(Sink::kConsole, kProgramName, " ",
               ProgramVersionText(kProgramVersion, kProgramRelease), "\r\n");

  std::vector<std::string> arguments;
  if (start.arguments.size() > 1) {
    arguments.assign(start.arguments.begin() + 1, start.arguments.end());
  }
  // The log is not open yet, so the usage text and its fatal line reach the
  // console only.
  std::string refused;
  if (!ParseCommandLine(arguments, start.slashStartsOptions, rt.options, &refused)) {
    if (!refused.empty()) rt.out.Print(Sink::kConsole, refused, "\r\n");
    PrintUsage(rt.out);
    rt.FatalError("Incorrect arguments");
  }
  // The usage text, the version and the port list are said at once, before
  // any log or port: nothing to record, nothing to stop, no pause.
  if (rt.options.help) {
    PrintUsage(rt.out);
    rt.out.FinishConsole();
    return 0;
  }
  if (rt.options.version) {
    // The banner above has named the program and its version.
    if (const std::string commit = BuildCommitLine(); !commit.empty()) {
      rt.out.Print(Sink::kConsole, commit, "\r\n");
    }
    rt.out.FinishConsole();
    return 0;
  }
  if (rt.options.listPorts) {
    PrintPortList(rt.out, start.ports != nullptr ? *start.ports : SystemSerialPorts());
    rt.out.FinishConsole();
    return 0;
  }

  if (!rt.options.parameterFile.empty()) {
    rt.options.manufacturingMode = GetParamBool(rt, rt.options.parameterFile, kParamManufacture);
  }

  ++rt.out.errorReportLevel;
  OpenRunLog(rt, start.logFolder, start.arguments);
  if (!start.logFolderBeside.empty() && start.logFolder != start.logFolderBeside) {
    rt.out.Print(Sink::kDebug, kRecordsElsewhere, ParentOf(start.logFolder), kRecordsNotBeside,
                 ParentOf(start.logFolderBeside), "\r\n");
  }

  stopHandler.Arm();

  if (start.job) {
    start.job(rt);
  } else {
    RunJob(rt);
  }

  --rt.out.errorReportLevel;
  stopHandler.Disarm();
  if (rt.closePort) rt.closePort();
  rt.out.CloseLog();
  // A production script reads the outcome from the parameter file: the
  // reason of an end that is not a success, and no earlier run's reason
  // beside a success.
  if (rt.endExitCode != 0) {
    rt.StoreMessage(rt.endReason);
  } else if (!rt.options.parameterFile.empty() &&
             !GetParam(rt, rt.options.parameterFile, kParamMessage).empty()) {
    rt.StoreMessage("");
  }

  rt.PressEnter();
  return rt.endExitCode;
}

}  // namespace kel
