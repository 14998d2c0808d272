#include "update/manufacturing_update.h"

#include "link/comm_port.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"
#include "unit/proxy_switch.h"
#include "unit/remote_units.h"
#include "unit/rpc_proxy.h"
#include "unit/rpc_reset.h"
#include "unit/unit_info_report.h"
#include "update/finish_direct_update.h"
#include "update/update_unit.h"

namespace kel {

namespace {

constexpr char kNoUnitOnJig[] =
    "Unable to find a Ponderix unit to update: no unit answers on the KJ3 test jig (a job for the "
    "jig itself names UnitType and McuType)";

// Where the unit to update was found.
enum class Found { kConnected, kBehindJig, kOnNetwork };

Found FindTarget(Link& link, UnitInfo& connected, const ProductionTarget& target, UnitInfo& found) {
  if (!target.named) {
    // A job that names no unit updates the connected one, unless that is a
    // KJ3 test jig: the unit on the jig is the one the line builds, and the
    // jig is never put into its boot loader by a job that did not name it.
    if (connected.cardNumber != kTestJigCard) return Found::kConnected;
    if (SearchForProxyUnit(link, connected, found)) return Found::kBehindJig;
    link.runtime.FatalError(kNoUnitOnJig);
  }
  if (MatchesProduct(connected, target.unitType, target.mcuA, target.mcuB)) {
    return Found::kConnected;
  }
  if (SearchForMatchingProxyUnit(link, connected, target.unitType, target.mcuA, target.mcuB,
                                 found)) {
    return Found::kBehindJig;
  }
  if (SearchForMatchingRemoteUnit(link, connected, target.unitType, target.mcuA, target.mcuB,
                                  found)) {
    return Found::kOnNetwork;
  }
  link.runtime.FatalError("Unable to find a Ponderix unit to update: " + DescribeTarget(target));
}

}  // namespace

bool ManufacturingUpdateUnit(Link& link, UnitInfo& connected, const ProductionTarget& target,
                             const UnitUpdater& update, const std::function<void()>& restarted) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  out.Print(Sink::kDebug, "ManufacturingUpdateUnit\r\n");
  // The unit goes back where it belongs: where this run found it, or where
  // an earlier run that left it elsewhere had found it.
  const bool kept = link.state.homeBaudRate != 0;
  const int32_t startBaudRate = kept ? link.state.homeBaudRate : link.port.settings().baudRate;
  const bool startEvenParity = kept ? link.state.homeEvenParity : link.port.settings().evenParity;
  // Only application software changes speed on request; a unit that answers
  // through its boot loader alone (a chip just given one, a board without
  // software) is taken at the speed it answers at.
  const bool movesSpeed = connected.connectionMode == modeApplication;
  if (movesSpeed && !SetUnitSpeed(link, connected, rt.options.programmingBaudRate)) {
    rt.FatalError("Unable to change baud rate");
  }

  UnitInfo remote;
  const Found where = FindTarget(link, connected, target, remote);
  UnitInfo& unit = where == Found::kConnected ? connected : remote;
  PrintUnitInfo(out, unit);

  // A unit behind the connected one takes update files (the remote search
  // only accepts one that can); the connected unit and one behind a jig's
  // proxy are programmed directly.
  const bool updated = update(link, unit, where == Found::kOnNetwork);
  if (updated) {
    RestartAndReconnect(link, unit);
    if (restarted) restarted();
  } else {
    Reset(link, unit);  // nothing was written; the unit only leaves its boot loader
  }

  if (where == Found::kBehindJig) {
    TurnProxyOff(link);
    link.state.bufferedTransfer = false;
    // The proxied link counted as the connection while the proxy was on.
    SaveConnection(link);
    CloseKelUpdaterProxy(link, connected.unitAddress);
  }
  if (movesSpeed && !SetUnitSpeed(link, connected, startBaudRate)) {
    out.Print(Sink::kDebug, "Unable to change baud rate\r\n");
    // A unit that restarted is back at its speed already. One that cannot
    // be found there is left elsewhere than it was found: no success then;
    // the way out tries once more, and the speed note lets the next run put
    // it back.
    if (!ReturnUnitToSpeed(link, connected.unitAddress, startBaudRate, startEvenParity)) {
      rt.FatalError("Unable to change baud rate");
    }
  }
  // The speed request gives no parity: a unit found at even parity is
  // restarted into its own settings, and no success without it.
  if (movesSpeed && startEvenParity &&
      !PutUnitBackToSpeed(link, connected.unitAddress, startBaudRate, true)) {
    rt.FatalError("Unable to change baud rate");
  }

  if (!updated) {
    rt.PrintLastLine("\aFAILURE: unable to update unit!\r\n");
    return false;
  }
  rt.PrintLastLine(kSuccessLine);
  return true;
}

bool ManufacturingUpdateUnit(UpdateSession& session, UnitInfo& connected,
                             const ProductionTarget& target) {
  // Update files that the unit took apply at the restart that follows.
  return ManufacturingUpdateUnit(
      session.link, connected, target,
      [&session](Link&, UnitInfo& unit, bool updateFiles) {
        return UpdateUnit(session, unit, false, updateFiles, false);
      },
      [&session] {
        if (session.history) session.history->UnitsRestarted(true);
      });
}

}  // namespace kel
