#include "update/finish_direct_update.h"

#include "runtime/runtime.h"
#include "unit/rpc_reset.h"
#include "unit/unit_connection.h"

namespace kel {

namespace {

// Long enough for the boot loader to hand over to the new software.
constexpr uint32_t kStartupPauseMs = 1000;

}  // namespace

void RestartAndReconnect(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  rt.out.Print(Sink::kInfo, "restarting unit...\r\n");
  if (!Reset(link, unit)) rt.FatalError("Unable to restart unit");
  rt.out.Print(Sink::kDebug, "Pausing to bypass boot loader and unit startup\r\n");
  rt.clock.Sleep(kStartupPauseMs);
  if (!ReconnectUnit(link, unit)) rt.FatalError("Unable to reconnect to unit");
}

void RestartIfNotRunning(Link& link, UnitInfo& unit) {
  if (unit.connectionMode == modeApplication) return;
  if (!Reset(link, unit)) link.runtime.FatalError("Unable to restart unit");
}

void FinishDirectUpdate(Link& link, UnitInfo& unit) {
  RestartAndReconnect(link, unit);
  link.runtime.out.Print(Sink::kInfo, kSuccessLine);
}

void FinishRefusedUpdate(Link& link, UnitInfo& unit) {
  RestartIfNotRunning(link, unit);
  link.runtime.out.Print(Sink::kInfo, kSuccessLine);
}

}  // namespace kel
