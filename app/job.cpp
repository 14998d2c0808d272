#include "app/job.h"

#include <optional>
#include <string>

#include "files/log_extraction.h"
#include "files/remote_file_access.h"
#include "link/comm_port.h"
#include "link/link_state.h"
#include "link/packet_layer.h"
#include "platform/files.h"
#include "platform/process.h"
#include "runtime/log_file.h"
#include "runtime/parameter_file.h"
#include "unit/boot_tool.h"
#include "unit/link_speed.h"
#include "unit/port_search.h"
#include "unit/programmer_note.h"
#include "unit/programmer_probe.h"
#include "unit/rpc_identification.h"
#include "unit/speed_scope.h"
#include "unit/unit_left.h"
#include "unit/unit_connection.h"
#include "unit/unit_info_report.h"
#include "unit/unit_probe.h"
#include "unit/unit_summary.h"
#include "update/field_update.h"
#include "update/interrogate_unit.h"
#include "update/manufacturing_update.h"
#include "update/production_target.h"
#include "update/update_plan.h"
#include "update/update_session.h"

namespace kel {

namespace {

// A manufacturing update the unit refused: the exit code of a fatal error
// with a parameter file, so that the line does not take the unit as done.
constexpr int kExitRefused = 2;

// Jobs whose layers are not part of this build end the run plainly instead
// of pretending to have done their work.
constexpr char kNotAvailable[] = "Function not available in this build: ";
constexpr char kProgrammerRunningLine[] =
    "The unit is running its flash programmer: an update was cut short. Do not switch the unit "
    "off: run the update again to finish it.\r\n";
// From this software version on, file blocks are acknowledged.
constexpr int kSoftwareWithAckBlocks = 604;

constexpr char kInterrogated[] = "interrogated";
constexpr char kBlankChipMessage[] = "Cannot update this unit (blank mcu)";

// The jobs a run can be asked for.
enum class Job {
  kManufacturingUpdate,
  kManufacturingReport,
  kInterrogate,
  kExtractLogs,
  kUpdate,
  kPlan
};

// --plan stands for the update the other options ask for (-i and -x
// change nothing anyway); a production job that programs nothing only
// reports its unit, with or without it.
Job ChosenJob(Runtime& rt) {
  const Options& options = rt.options;
  if (options.manufacturingMode) {
    if (!GetParamBool(rt, options.parameterFile, kParamProgram)) return Job::kManufacturingReport;
    return options.plan ? Job::kPlan : Job::kManufacturingUpdate;
  }
  if (options.plan) return Job::kPlan;
  if (options.interrogate) return Job::kInterrogate;
  if (options.extractLogs) return Job::kExtractLogs;
  return Job::kUpdate;
}

// The name of `job` when this build cannot do it; null when it can.
const char* MissingFromThisBuild(Job job) {
  switch (job) {
    case Job::kManufacturingUpdate:
    case Job::kManufacturingReport:
    case Job::kUpdate:
    case Job::kInterrogate:
    case Job::kExtractLogs:
    case Job::kPlan:
      break;
  }
  return nullptr;
}

// The summary lines of a job that keeps no update history, for as long as
// the job runs.
class JobSummary {
 public:
  explicit JobSummary(Runtime& rt) : rt_(rt) {
    rt_.summaryLines = [this](bool) { return lines; };
  }
  ~JobSummary() { rt_.summaryLines = nullptr; }
  JobSummary(const JobSummary&) = delete;
  JobSummary& operator=(const JobSummary&) = delete;

  std::vector<SummaryLine> lines;

 private:
  Runtime& rt_;
};

// A plan that meets a blank chip says what a run would do with it: a
// production job has the boot tool program it, any other run refuses it.
void PlanBlankChip(Runtime& rt) {
  JobSummary summary(rt);
  SummaryLine line;
  line.address = rt.options.unitId;
  line.unitType = "blank chip";
  if (rt.options.manufacturingMode) {
    rt.out.Print(Sink::kInfo,
                 "-- a blank chip answers: the production job would have KelBoot "
                 "give it a boot loader, then update it\r\n");
    line.outcome = "would be programmed by KelBoot";
  } else {
    rt.out.Print(Sink::kInfo, "-- a blank chip answers: an update would end with \"",
                 kBlankChipMessage, "\"\r\n");
    line.outcome = "would be refused";
  }
  summary.lines.push_back(line);
  rt.PrintLastLine(kPlanDoneLine);
}

// A blank LPC chip is programmed by the boot tool, which needs the port to
// itself; afterwards the port is probed again.
void ProgramBlankChip(Runtime& rt, Link& link, UnitInfo& unit) {
  rt.out.Print(Sink::kDebug, "-- programming blank chip with KelBoot\r\n");
  const std::string tool = FindBootTool(rt);
  const std::string arguments = "COM" + std::to_string(rt.options.portNumber) + " -l" + " -s";
  link.port.ClosePort();
  RunBootTool(rt, tool, arguments);
  if (link.port.OpenPort()) CheckUnitId(link, unit);
}

// How long a restarted unit is looked for before the run gives up.
constexpr uint32_t kFindAgainMs = 10000;

// A unit found running a programmer an earlier run left running: with a
// whole boot loader it is restarted and found again, and says itself who it
// is; with its boot loader cut short it stays (the update is finished
// through the programmer). Without the earlier run's note nothing tells
// which, and the run ends.
void RestartIfBootLoaderWhole(Runtime& rt, Link& link, UnitInfo& unit) {
  const std::optional<NotedProgrammer> noted = NoteOfProgrammer(link);
  if (!noted) RefuseUnnotedProgrammer(link);
  if (noted->bootLoader == NotedProgrammer::BootLoader::kUnderWay) return;
  rt.out.Print(Sink::kInfo, kRestartingLeftProgrammerLine);
  RestartProgrammerLeftRunning(link);
  const uint32_t start = rt.clock.Ticks();
  while (rt.clock.Ticks() - start < kFindAgainMs) {
    rt.clock.Sleep(kLeftProgrammerRestartMs);
    unit = UnitInfo{};
    if (CheckUnitId(link, unit)) return;
  }
  rt.FatalError(kCannotConnect);
}

// The folder a file path lies in; empty for a bare name or none.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of(PathSeparator());
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

void RunJob(Runtime& rt) {
  const std::string program = ExecutablePath();
  RunJob(rt, SystemSerialPorts(), RecordFolderFor(rt.env, program, kExtractFolderName),
         RecordFolderFor(rt.env, program, kLogFolderName) + PathSeparator() + kHistoryFileName);
}

void RunJob(Runtime& rt, SerialPortOpener& ports, const std::string& extractFolder,
            const std::string& historyPath) {
  // Said before the port search, not after a search and a power-cycle wait.
  const Job job = ChosenJob(rt);
  if (const char* missing = MissingFromThisBuild(job)) {
    rt.FatalError(std::string(kNotAvailable) + missing);
  }
  // A job that names its unit badly is refused before the port search too.
  ProductionTarget target;
  if (job == Job::kManufacturingUpdate || (job == Job::kPlan && rt.options.manufacturingMode)) {
    target = ReadProductionTarget(rt);
  }

  CommPort port(rt, ports);
  port.RegisterClosePort();
  ProxySettings proxy;
  PacketLayer packets(rt, port, proxy);
  LinkState state;
  Link link{rt, port, packets, state};
  UnitInfo unit;

  // Under --plan nothing that answers is written, restarted or moved,
  // whatever the job: a production job that programs nothing (and so only
  // reports its unit) included.
  const bool plan = rt.options.plan;
  ConnectUnit(link, unit);
  if (unit.connectionMode == modeChipIsp) {
    // A chip's ROM loader takes no restart request; the probe left it
    // waiting for the next run's handshake.
    if (plan) {
      PlanBlankChip(rt);
      port.ClosePort();
      return;
    }
    if (!rt.options.manufacturingMode) rt.FatalError(kBlankChipMessage);
    ProgramBlankChip(rt, link, unit);
  }
  // A plan restarts nothing: it says what an update would find.
  if (unit.connectionMode == modeFlashProgrammer && !plan) {
    RestartIfBootLoaderWhole(rt, link, unit);
  }
  if (unit.connectionMode == modeFlashProgrammer) {
    // An update cut short in the middle of the boot loader left the unit
    // running its flash programmer: only an update can finish with it, and
    // nothing may restart it before (a plan only says so).
    if (!NoteOfProgrammer(link)) RefuseUnnotedProgrammer(link);
    if (job != Job::kUpdate && job != Job::kManufacturingUpdate && job != Job::kPlan) {
      rt.out.Print(Sink::kInfo, kProgrammerRunningLine);
      rt.FatalError(kProgrammerRunningMessage);
    }
    RestoreConnection(link, kLongTimeoutMs);
    link.state.software604OrLater = unit.softwareVersion >= kSoftwareWithAckBlocks;
  } else {
    if (!ConnectToUnit(link, unit)) rt.FatalError(kCannotConnect);
    ReadExtendedInfo(link, unit);
    ReadAdvancedInfo(link, unit);
    // The unit on the port answers in its software or boot loader: a note
    // of a programmer left running in it is out of date. (A plan leaves the
    // notes as it found them.)
    ProgrammerNote note(rt.registry, link.port.settings().portNumber);
    if (const std::optional<NotedProgrammer> noted = note.Read();
        noted && noted->jigAddress == 0 && !plan) {
      note.Remove();
    }
  }
  // From here on the jobs may move the unit (and a test jig's proxy) to the
  // programming speed; every way out puts them back. A plan moves nothing,
  // not even a unit an earlier run left elsewhere.
  std::optional<SpeedScope> speedScope;
  if (!plan) speedScope.emplace(link, unit);

  switch (job) {
    case Job::kManufacturingReport: {
      JobSummary summary(rt);
      PrintUnitInfo(rt.out, unit);
      summary.lines.push_back(SummaryLineFor(unit, kInterrogated));
      if (plan) {
        // A plan ends with its own line, as every plan does.
        rt.out.Print(Sink::kInfo, "-- nothing to do\r\n");
        rt.PrintLastLine(kPlanDoneLine);
      } else {
        rt.PrintLastLine("-- nothing to do\r\n");
      }
      break;
    }
    case Job::kInterrogate: {
      JobSummary summary(rt);
      rt.out.Print(Sink::kInfo, "-- interrogating unit\r\n");
      InterrogateUnit(link, unit, &summary.lines);
      rt.PrintSummary(false);
      break;
    }
    case Job::kExtractLogs: {
      JobSummary summary(rt);
      RemoteFileAccess files(link);
      ExtractLogs(files, unit, extractFolder, &summary.lines);
      rt.PrintSummary(false);
      break;
    }
    case Job::kPlan: {
      JobSummary summary(rt);
      RemoteFileAccess files(link);
      if (unit.connectionMode == modeFlashProgrammer) {
        PlanFinishInProgrammer(files, unit, summary.lines);
      } else {
        PlanUpdate(files, unit, target, summary.lines);
      }
      rt.PrintLastLine(kPlanDoneLine);
      break;
    }
    case Job::kUpdate: {
      TransferState transfer(rt.options);
      RemoteFileAccess files(link);
      BootToolProgrammer bootToolProgrammer;
      UpdateSession session{link, transfer, files, bootToolProgrammer};
      session.recordFolder = FolderOf(historyPath);
      // Kept without a file too: its records make the closing summary.
      UpdateHistory history(rt, historyPath);
      session.history = &history;
      FieldUpdateUnit(session, unit, true, rt.options.firstUnitOnly);
      history.Complete();
      rt.PrintSummary(false);
      break;
    }
    case Job::kManufacturingUpdate: {
      rt.out.Print(Sink::kDebug, "-- updating ponderix software (manufacturing)\r\n");
      TransferState transfer(rt.options);
      RemoteFileAccess files(link);
      BootToolProgrammer bootToolProgrammer;
      UpdateSession session{link, transfer, files, bootToolProgrammer};
      session.recordFolder = FolderOf(historyPath);
      UpdateHistory history(rt, historyPath);
      session.history = &history;
      const bool updated = ManufacturingUpdateUnit(session, unit, target);
      history.Complete();
      rt.PrintSummary(false);
      // The script that drives the line reads the outcome from the exit
      // code and the parameter file, as after a fatal error.
      if (!updated) rt.EndUnfinished(kExitRefused, "unable to update unit");
      break;
    }
  }
  rt.RestoreLink();
  port.ClosePort();
}

}  // namespace kel
