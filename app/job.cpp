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
#include "update/field_update.h"
#include "update/interrogate_unit.h"
#include "update/manufacturing_update.h"
#include "update/production_target.h"
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

// The jobs a run can be asked for.
enum class Job { kManufacturingUpdate, kManufacturingReport, kInterrogate, kExtractLogs, kUpdate };

Job ChosenJob(Runtime& rt) {
  const Options& options = rt.options;
  if (options.manufacturingMode) {
    return GetParamBool(rt, options.parameterFile, kParamProgram) ? Job::kManufacturingUpdate
                                                                  : Job::kManufacturingReport;
  }
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
      break;
  }
  return nullptr;
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
  if (job == Job::kManufacturingUpdate) target = ReadProductionTarget(rt);

  CommPort port(rt, ports);
  port.RegisterClosePort();
  ProxySettings proxy;
  PacketLayer packets(rt, port, proxy);
  LinkState state;
  Link link{rt, port, packets, state};
  UnitInfo unit;

  ConnectUnit(link, unit);
  if (unit.connectionMode == modeChipIsp) {
    // A chip's ROM loader takes no restart request; the probe left it
    // waiting for the next run's handshake.
    if (!rt.options.manufacturingMode) rt.FatalError("Cannot update this unit (blank mcu)");
    ProgramBlankChip(rt, link, unit);
  }
  if (unit.connectionMode == modeFlashProgrammer) RestartIfBootLoaderWhole(rt, link, unit);
  if (unit.connectionMode == modeFlashProgrammer) {
    // An update cut short in the middle of the boot loader left the unit
    // running its flash programmer: only an update can finish with it, and
    // nothing may restart it before.
    if (job != Job::kUpdate && job != Job::kManufacturingUpdate) {
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
    // of a programmer left running in it is out of date.
    ProgrammerNote note(rt.registry, link.port.settings().portNumber);
    if (const std::optional<NotedProgrammer> noted = note.Read(); noted && noted->jigAddress == 0) {
      note.Remove();
    }
  }
  // From here on the jobs may move the unit (and a test jig's proxy) to the
  // programming speed; every way out puts them back.
  SpeedScope speedScope(link, unit);

  switch (job) {
    case Job::kManufacturingReport:
      PrintUnitInfo(rt.out, unit);
      rt.out.Print(Sink::kInfo, "-- nothing to do\r\n");
      break;
    case Job::kInterrogate:
      rt.out.Print(Sink::kInfo, "-- interrogating unit\r\n");
      InterrogateUnit(link, unit);
      break;
    case Job::kExtractLogs: {
      RemoteFileAccess files(link);
      ExtractLogs(files, unit, extractFolder);
      break;
    }
    case Job::kUpdate: {
      TransferState transfer(rt.options);
      RemoteFileAccess files(link);
      BootToolProgrammer bootToolProgrammer;
      UpdateSession session{link, transfer, files, bootToolProgrammer};
      session.recordFolder = FolderOf(historyPath);
      std::optional<UpdateHistory> history;
      if (!historyPath.empty()) session.history = &history.emplace(rt, historyPath);
      FieldUpdateUnit(session, unit, true, rt.options.firstUnitOnly);
      if (history) history->Complete();
      break;
    }
    case Job::kManufacturingUpdate: {
      rt.out.Print(Sink::kDebug, "-- updating ponderix software (manufacturing)\r\n");
      TransferState transfer(rt.options);
      RemoteFileAccess files(link);
      BootToolProgrammer bootToolProgrammer;
      UpdateSession session{link, transfer, files, bootToolProgrammer};
      session.recordFolder = FolderOf(historyPath);
      std::optional<UpdateHistory> history;
      if (!historyPath.empty()) session.history = &history.emplace(rt, historyPath);
      const bool updated = ManufacturingUpdateUnit(session, unit, target);
      if (history) {
        // An updated unit has been restarted and found again by now.
        if (updated) history->UnitsRestarted(true);
        history->Complete();
      }
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
