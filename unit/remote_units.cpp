#include "unit/remote_units.h"

#include <functional>
#include <string>

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/link_speed.h"
#include "unit/proxy_switch.h"
#include "unit/rpc_identification.h"
#include "unit/programmer_note.h"
#include "unit/programmer_probe.h"
#include "unit/rpc_proxy.h"
#include "unit/unit_left.h"
#include "unit/unit_connection.h"
#include "unit/unit_info_report.h"
#include "unit/update_acceptance.h"

namespace kel {

namespace {

constexpr int kFirstNetworkSoftware = 600;
constexpr int kFirstProxySoftware = 606;  // "above 6.05"
constexpr int kFirstUpdateFileRelease = 14;
constexpr char kMoreThanOne[] =
    "Found more than one unit that matches the product type, unable to complete update";

bool ListsNetwork(const UnitInfo& unit) {
  return unit.connectionMode == modeApplication && unit.softwareVersion >= kFirstNetworkSoftware;
}

std::string RightAligned(int value, size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

bool IsJigDisplay(const UnitInfo& unit) {
  return unit.unitType == unitTypeDisplay && unit.modbusAddress == kJigDisplayAddress;
}

}  // namespace

UnitInfo RemoteRecord(uint8_t address) {
  UnitInfo fresh;
  fresh.connectionMode = modeApplication;
  fresh.unitAddress = address;
  return fresh;
}

void PrintUnitTableRow(Output& out, uint8_t address, const UnitInfo& unit) {
  out.Print(Sink::kInfo, "   ", RightAligned(address, 4), "  ", unit.informationText, "\r\n");
}

bool MatchesProduct(const UnitInfo& unit, uint8_t unitType, int8_t mcuA, int8_t mcuB) {
  return unit.unitType == unitType && unit.mcuType != mcuUnknown &&
         (unit.mcuType == mcuA || unit.mcuType == mcuB);
}

bool ListUnits(Link& link, UnitInfo& connected, std::vector<uint8_t>& table,
               bool toProgrammingSpeed) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  table.clear();
  std::vector<uint8_t> addresses;
  if (!ListsNetwork(connected) || !ListRemoteUnits(link, addresses)) return false;
  if (toProgrammingSpeed && !SetUnitSpeed(link, connected, rt.options.programmingBaudRate)) {
    rt.FatalError("Unable to change baud rate");
  }

  out.Print(Sink::kInfo, "Ponderix Unit(s) found:\r\n", "Address  Information\r\n");
  const bool connectedIsJig = connected.cardNumber == kTestJigCard;
  if (connectedIsJig) {
    out.Print(Sink::kDebug, "-- KJ3 at address ", connected.unitAddress, " ignored\r\n");
  }
  bool connectedPlaced = connectedIsJig;
  for (uint8_t address : addresses) {
    if (!connectedPlaced && address > connected.modbusAddress) {
      PrintUnitTableRow(out, connected.modbusAddress, connected);
      table.push_back(connected.modbusAddress);
      connectedPlaced = true;
    }
    UnitInfo remote = RemoteRecord(address);
    if (!ReadUnitInfo(link, remote)) {
      out.Print(Sink::kDebug, "-- skipped address ", address, "\r\n");
      continue;
    }
    if (remote.cardNumber == kTestJigCard) {
      out.Print(Sink::kDebug, "-- KJ3 at address ", address, " ignored\r\n");
      continue;
    }
    ReadExtendedInfo(link, remote);
    PrintUnitTableRow(out, address, remote);
    table.push_back(address);
  }
  if (!connectedPlaced) {
    PrintUnitTableRow(out, connected.modbusAddress, connected);
    table.push_back(connected.modbusAddress);
  }
  out.Print(Sink::kInfo, "\r\n");
  return true;
}

bool CheckRemoteUpdate(Output& out, const UnitInfo& unit) {
  const char* reason = nullptr;
  if (!ListsNetwork(unit)) {
    reason =
        " must be running version 6.00 or later of the Ponderix software for remote software "
        "update.\r\n";
  } else if (unit.bootLoaderRelease < kFirstUpdateFileRelease) {
    reason =
        " must have boot loader release 14 or later for remote software update. Please use "
        "KelBoot to update boot loader (requires direct connection to COM1 RS232 port of "
        "unit).\r\n";
  } else if (!AcceptsUpdateFiles(out, unit)) {
    reason = " does not support remote software update.\r\n";
  }
  if (reason == nullptr) return true;
  PrintUnitInfo(out, unit);
  out.Print(Sink::kInfo, "Ponderix Unit ", unit.unitAddress, reason);
  return false;
}

bool SearchForMatchingRemoteUnit(Link& link, UnitInfo& connected, uint8_t unitType, int8_t mcuA,
                                 int8_t mcuB, UnitInfo& found) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  out.Print(Sink::kDebug, "SearchForMatchingRemoteUnit\r\n");
  std::vector<uint8_t> addresses;
  if (!ListsNetwork(connected) || !ListRemoteUnits(link, addresses)) return false;
  bool taken = false;
  for (uint8_t address : addresses) {
    out.Print(Sink::kDebug, "Checking Ponderix Unit: ", address, "\r\n");
    UnitInfo remote = RemoteRecord(address);
    if (!ReadUnitInfo(link, remote)) continue;
    ReadExtendedInfo(link, remote);
    ReadAdvancedInfo(link, remote);
    if (!MatchesProduct(remote, unitType, mcuA, mcuB)) continue;
    if (IsJigDisplay(remote)) {
      out.Print(Sink::kDebug, "-- TestJig control display (ignored)\r\n");
      continue;
    }
    if (taken) rt.FatalError(kMoreThanOne);
    out.Print(Sink::kInfo, "-- found matching remote unit: ", address, "\r\n");
    if (!CheckRemoteUpdate(out, remote)) {
      out.Print(Sink::kInfo, "Cannot update Ponderix unit ", address, "\r\n");
      return false;
    }
    found = remote;
    taken = true;
  }
  return taken;
}

namespace {

bool SearchProxyUnit(Link& link, UnitInfo& connected,
                     const std::function<bool(const UnitInfo&)>& matches, UnitInfo& found) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  if (connected.cardNumber != kTestJigCard || connected.connectionMode != modeApplication ||
      connected.softwareVersion < kFirstProxySoftware) {
    return false;
  }
  out.Print(Sink::kDebug, "SearchForMatchingProxyUnit\r\n");
  const uint8_t jig = connected.unitAddress;
  if (!OpenKelUpdaterProxy(link, jig)) return false;
  ProxySearchResult behind;
  UnitInfo target;
  bool inProgrammer = false;
  for (int pass = 0;; ++pass) {
    if (!SearchKelUpdaterProxy(link, jig, behind)) {
      CloseKelUpdaterProxy(link, jig);
      return false;
    }
    TurnProxyOn(link, jig, behind.portNumber, static_cast<int32_t>(behind.baudRate),
                behind.unitAddress);
    SetReceiveTimeout(link, kNormalTimeoutMs);
    target = UnitInfo{};
    target.unitAddress = behind.unitAddress;
    if (!behind.bootLoader) {
      target.connectionMode = modeApplication;
      out.Print(Sink::kDebug, "-- found unit ID = ", Hex(behind.unitAddress, 2), "\r\n");
      break;
    }
    target.connectionMode = modePonderixBootLoader;
    out.Print(Sink::kDebug, "-- found unit (boot loader)\r\n");
    if (ReadUnitInfo(link, target)) break;
    // The jig cannot tell the boot loader from a flash programmer that an
    // interrupted update left running in RAM. Neither answering, the unit
    // is met as a directly connected one that does not: the operator is
    // asked to switch it off and on, and its boot loader is waited for
    // through the jig.
    if (!ProgrammerAnswers(link, static_cast<int32_t>(behind.baudRate), target)) {
      out.Print(Sink::kDebug, "-- no boot loader answers (a flash programmer left running?)\r\n");
      target.connectionMode = modeUnknown;
      break;
    }
    // A programmer answers: the unit it runs in is the one the port's note
    // names. With its boot loader whole it is restarted, and says itself
    // who it is; with the boot loader cut short the update is finished
    // through it (a power cycle would leave that boot loader unable to
    // start).
    const std::optional<NotedProgrammer> noted = NoteOfProgrammer(link);
    if (!noted) RefuseUnnotedProgrammer(link);
    out.Print(Sink::kDebug, "-- found unit (flash programmer)\r\n");
    if (noted->bootLoader == NotedProgrammer::BootLoader::kUnderWay || pass > 0) {
      target.connectionMode = modeFlashProgrammer;
      TakeNotedIdentity(target, *noted);
      rt.options.unitId = target.unitAddress;
      SaveConnection(link);
      inProgrammer = true;
      break;
    }
    out.Print(Sink::kInfo, kRestartingLeftProgrammerLine);
    RestartProgrammerLeftRunning(link);
    TurnProxyOff(link);
    SaveConnection(link);
    rt.clock.Sleep(kLeftProgrammerRestartMs);
  }
  if (!inProgrammer && NoteOfProgrammer(link)) {
    // The unit behind the jig answers in its software or boot loader: the
    // note of a programmer left running in it is out of date.
    ProgrammerNote(rt.registry, link.port.settings().portNumber).Remove();
  }

  if (inProgrammer || ConnectToUnit(link, target)) {
    if (!inProgrammer) {
      ReadExtendedInfo(link, target);
      ReadAdvancedInfo(link, target);
    }
    if (matches(target)) {
      if (!IsJigDisplay(target)) {
        out.Print(Sink::kDebug, "-- found\r\n");
        link.state.bufferedTransfer = true;
        found = target;
        return true;
      }
      out.Print(Sink::kDebug, "-- TestJig control display\r\n");
    }
  }
  TurnProxyOff(link);
  // The proxied link was saved as the connection while the proxy was on;
  // the connected jig's own link is the connection again.
  SaveConnection(link);
  CloseKelUpdaterProxy(link, jig);
  return false;
}

}  // namespace

bool SearchForMatchingProxyUnit(Link& link, UnitInfo& connected, uint8_t unitType, int8_t mcuA,
                                int8_t mcuB, UnitInfo& found) {
  return SearchProxyUnit(
      link, connected,
      [&](const UnitInfo& unit) { return MatchesProduct(unit, unitType, mcuA, mcuB); }, found);
}

bool SearchForProxyUnit(Link& link, UnitInfo& connected, UnitInfo& found) {
  return SearchProxyUnit(
      link, connected, [](const UnitInfo& unit) { return unit.cardNumber != kTestJigCard; }, found);
}

}  // namespace kel
