#include "update/interrogate_unit.h"

#include <vector>

#include "flash/image_selection.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/boot_loader_entry.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_proxy.h"
#include "unit/rpc_reset.h"
#include "unit/unit_info_report.h"
#include "unit/unit_summary.h"

namespace kel {

namespace {

constexpr int kFirstNetworkSoftware = 600;
constexpr char kInterrogated[] = "interrogated";

void NoteReported(std::vector<SummaryLine>* reported, const UnitInfo& unit) {
  if (reported != nullptr) reported->push_back(SummaryLineFor(unit, kInterrogated));
}

// The programmer a unit would get. A test jig gets none from the catalogue
// (its LPC4357 carries programmers for displays only), and asking would end
// the run: a report changes nothing, so it shows the jig without one. A
// board with test software needs a programmer built for it, which an
// update would get from the boot tool; the report says so and goes on.
void SelectReportedProgrammer(Runtime& rt, UnitInfo& unit, bool updateFilesFlag) {
  if (unit.unitType == unitTypeTestJig) {
    rt.out.Print(Sink::kDebug, "-- no flash programmer for a test jig\r\n");
    return;
  }
  FindFlashProgrammer(rt, unit, updateFilesFlag);
}

// Selected as for an update-file update unless the unit answers through its
// boot loader.
void ReportUnit(Runtime& rt, UnitInfo& unit, bool selectProgrammer) {
  if (selectProgrammer) {
    SelectReportedProgrammer(rt, unit, unit.connectionMode != modePonderixBootLoader);
  }
  PrintUnitInfo(rt.out, unit);
}

void ReportRemoteUnits(Link& link, std::vector<SummaryLine>* reported) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  std::vector<uint8_t> addresses;
  if (!ListRemoteUnits(link, addresses) || addresses.empty()) return;
  out.Print(Sink::kInfo, "Ponderix Unit(s) found:");
  for (uint8_t address : addresses) out.Print(Sink::kInfo, " ", address);
  out.Print(Sink::kInfo, "\r\n");
  for (uint8_t address : addresses) {
    out.Print(Sink::kInfo, "Ponderix Unit: ", address, "\r\n");
    UnitInfo remote;
    remote.connectionMode = modeApplication;
    remote.unitAddress = address;
    // A unit that does not answer is left out without a word: it may be
    // switched off or still starting.
    if (!ReadUnitInfo(link, remote)) continue;
    ReadExtendedInfo(link, remote);
    ReportUnit(rt, remote, ReadAdvancedInfo(link, remote));
    NoteReported(reported, remote);
  }
}

}  // namespace

void InterrogateUnit(Link& link, UnitInfo& unit, std::vector<SummaryLine>* reported) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  const bool advanced = ReadAdvancedInfo(link, unit);
  if (advanced) {
    ReportUnit(rt, unit, true);
    NoteReported(reported, unit);
  }

  if (unit.connectionMode == modeApplication && unit.softwareVersion >= kFirstNetworkSoftware) {
    ReportRemoteUnits(link, reported);
  }

  if (advanced || IsVComPort(link, unit)) return;
  out.Print(Sink::kInfo, "Ponderix Unit: ", unit.unitAddress, "\r\n");
  if (!InitialiseForUpdate(link, unit)) rt.FatalError("Unable to initialise Ponderix unit");
  SelectReportedProgrammer(rt, unit, false);
  PrintUnitInfo(out, unit);
  NoteReported(reported, unit);
  if (!Reset(link, unit)) rt.FatalError("Unable to restart unit");
}

}  // namespace kel
