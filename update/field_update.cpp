#include "update/field_update.h"

#include <vector>

#include "link/comm_port.h"
#include "unit/link_speed.h"
#include "unit/remote_units.h"
#include "unit/rpc_proxy.h"
#include "unit/rpc_reset.h"
#include "unit/unit_info_report.h"
#include "update/finish_direct_update.h"
#include "update/remote_unit_update.h"
#include "update/update_rules.h"
#include "update/update_unit.h"

namespace kel {

namespace {

// Boot loaders before this release cannot take the network update of an
// LPC2478 display.
constexpr int kDisplayBootLoaderForNetwork = 18;

// Old KD3 displays are brought to the new software and boot loader over the
// serial line first, so that they can serve the network update afterwards.
void UpdateOldDisplay(UpdateSession& session, UnitInfo& unit, bool confirm) {
  Link& link = session.link;
  Output& out = session.runtime().out;
  PrintUnitInfo(out, unit);
  out.Print(Sink::kInfo, "\r\n",
            "This KD3 display unit needs to be updated immediately. It will be restarted\r\n",
            "after the update is complete. You may need to rerun KelUpdater again after\r\n",
            "the update.\r\n", "\r\n",
            "IMPORTANT: do not turn off the power during the update.\r\n", "\r\n");
  if (UpdateUnit(session, unit, true, false, confirm)) {
    RestartAndReconnect(link, unit);
    WaitForUnit(link, unit);
    if (session.history) session.history->Complete();
  } else {
    RestartIfNotRunning(link, unit);
  }
}

bool ServesNetworkUpdate(Link& link, const UnitInfo& unit) {
  if (unit.connectionMode != modeApplication || unit.softwareVersion < kNetworkSoftwareVersion) {
    return false;
  }
  std::vector<uint8_t> addresses;
  return ListRemoteUnits(link, addresses);
}

void ReturnToSpeed(Link& link, UnitInfo& unit, int32_t baudRate) {
  if (!SetUnitSpeed(link, unit, baudRate)) link.runtime.FatalError("Unable to change baud rate");
}

void UpdateNetwork(UpdateSession& session, UnitInfo& unit) {
  Link& link = session.link;
  Runtime& rt = session.runtime();
  Output& out = rt.out;
  // The speed the connected unit was found at, to which it returns.
  const int32_t rememberedSpeed = link.port.settings().baudRate;
  const bool rememberedParity = link.port.settings().evenParity;
  std::vector<uint8_t> table;
  if (!ListUnits(link, unit, table, true)) rt.FatalError("Unable to list the Ponderix units");

  if (!rt.AskYesNo("Do you wish to update the software in these Ponderix units?")) {
    ReturnToSpeed(link, unit, rememberedSpeed);
    rt.exit.Exit(kExitDeclined);
  }
  out.Print(Sink::kInfo, "1. The software update will be downloaded to the above units.\r\n",
            "2. After the download is complete the software update will be applied \r\n",
            "   the next time the units are restarted.\r\n",
            "3. You can either restart the units immediately after the download is \r\n",
            "   complete, or wait until a convenient time and restart them yourself.\r\n", "\r\n");
  const bool restart = rt.AskYesNo(
      "Do you wish to restart the units when the download is finished \r\nand apply the software "
      "update immediately?");
  out.Print(Sink::kInfo, "Downloading software updates...\r\n");

  bool someFailed = false;
  for (uint8_t address : table) {
    UnitInfo remote = RemoteRecord(address);
    if (UpdateRemoteUnit(session, remote)) {
      out.Print(Sink::kInfo, "Ponderix Unit: ", address, " updated\r\n");
    } else {
      out.Print(Sink::kInfo, "Unable to update Ponderix Unit: ", address, "\r\n");
      someFailed = true;
    }
    out.Print(Sink::kInfo, "\r\n");
  }
  constexpr char kAppliedLater[] =
      "Software update will be applied the next time Ponderix is restarted\r\n";
  constexpr char kSomeFailed[] = "Complete: some units could not be updated\r\n";
  constexpr char kNotConfirmed[] = "Complete: the restart was not confirmed\r\n";
  // Units left out are something a script must know about, as is an
  // update that waits for a restart the operator asked for.
  bool restartMissed = false;
  if (restart) {
    const uint8_t address = unit.unitAddress;
    const bool restarted = ResetSystem(link, unit);
    if (session.history) session.history->UnitsRestarted(restarted);
    if (restarted) {
      // The restarted units come back at their own speed; the link follows.
      ChangePacketBaudRate(link, rememberedSpeed, rememberedParity, kLongTimeoutMs);
    } else {
      // The system may not have restarted: its units still run the old
      // software and the connected one may still be at the programming
      // speed. The run says so and puts the speed back (a unit that did
      // restart is there already). Only units that took update files wait
      // for the restart.
      restartMissed = session.unitsAwaitingRestart > 0;
      out.Print(Sink::kInfo, "The restart of the Ponderix units was not confirmed\r\n",
                restartMissed ? kAppliedLater : "");
      PutUnitBackToSpeed(link, address, rememberedSpeed, rememberedParity);
    }
  } else {
    if (session.history) session.history->UnitsRestarted(false);
    out.Print(Sink::kInfo, kAppliedLater);
    ReturnToSpeed(link, unit, rememberedSpeed);
  }
  const char* end = someFailed ? kSomeFailed : restartMissed ? kNotConfirmed : kSuccessLine;
  rt.PrintLastLine(end);
  if (end != kSuccessLine) rt.EndUnfinished(Runtime::kExitIncomplete, end);
}

void UpdateDirectly(UpdateSession& session, UnitInfo& unit, bool confirm) {
  PrintUnitInfo(session.runtime().out, unit);
  if (UpdateUnit(session, unit, false, false, confirm)) {
    FinishDirectUpdate(session.link, unit);
  } else {
    FinishRefusedUpdate(session.link, unit);
  }
}

}  // namespace

bool NeedsImmediateUpdate(const UnitInfo& unit) {
  return unit.mcuType == mcuLPC2478 && (unit.softwareVersion < kNetworkSoftwareVersion ||
                                        unit.bootLoaderRelease < kDisplayBootLoaderForNetwork);
}

void FieldUpdateUnit(UpdateSession& session, UnitInfo& unit, bool confirm, bool firstUnitOnly) {
  Output& out = session.runtime().out;
  out.Print(Sink::kDebug, "FieldUpdateUnit\r\n");
  if (NeedsImmediateUpdate(unit)) {
    UpdateOldDisplay(session, unit, confirm);
    if (firstUnitOnly) {
      session.runtime().PrintLastLine(kSuccessLine);
      return;
    }
  }
  if (!firstUnitOnly && ServesNetworkUpdate(session.link, unit)) {
    UpdateNetwork(session, unit);
  } else {
    UpdateDirectly(session, unit, confirm);
  }
}

}  // namespace kel
