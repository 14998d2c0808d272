#include "unit/boot_loader_entry.h"

#include "link/comm_port.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"
#include "unit/rpc_buffer_size.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/rpc_identification.h"
#include "unit/unit_probe.h"

namespace kel {

namespace {

constexpr int kFirstSoftwareWithSpeedChange = 600;
constexpr uint32_t kGotoBootLoaderMs = 800;
constexpr uint32_t kBootLoaderAnswerMs = 1000;
// A unit that took GotoBootLoader and has gone silent is still restarting:
// some take seconds. It is listened for this much longer before the
// operator is asked for a power cycle.
constexpr uint32_t kSlowRestartMs = 4000;
// A unit found in its boot loader is asked this many times whether it is
// still there before anything restarts it.
constexpr int kStillThereTries = 4;
constexpr uint32_t kSlowPowerCycleMs = 60000;
constexpr uint32_t kFastPowerCycleMs = 30000;
// One row per restart attempt: the speed the running software is asked to
// move to before GotoBootLoader, the speed the program then listens for the
// boot loader at, and whether the open port's line is changed in place (the
// unit restarts while the port stays open) or the port is reopened. So the
// four pairs of unit and boot-loader speed are each tried once.
struct RestartAttempt {
  int32_t unitSpeed;
  int32_t listenSpeed;
  bool inPlace;
};
constexpr RestartAttempt kRestartRows[] = {
    {9600, 9600, true},
    {9600, 115200, true},
    {115200, 9600, false},
    {115200, 115200, false},
};
constexpr int kRestartAttempts = sizeof kRestartRows / sizeof kRestartRows[0];

bool SendGotoBootLoader(Link& link, const UnitInfo& unit) {
  TraceRpc(link.runtime.out, "GotoBootLoader");
  RpcRequest request(unit.unitAddress, rpc::kGotoBootLoader);
  const int tries = static_cast<int>(kGotoBootLoaderMs / kNormalTimeoutMs);
  return RpcRetry(link, request, {4}, tries);
}

// Listens for the boot loader at the link's speed for `limitMs`, with ESC
// checked before each try.
bool ListenForBootLoader(Link& link, UnitInfo& unit, uint32_t limitMs) {
  TraceRpc(link.runtime.out, "ReadBootLoaderVersion");
  Clock& clock = link.runtime.clock;
  const uint32_t start = clock.Ticks();
  while (clock.Ticks() - start < limitMs) {
    CheckForEscape(link);
    if (ProbeBootLoaderVersion(link, unit)) return true;
  }
  return false;
}

}  // namespace

bool WaitForBootLoader(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  unit.unitAddress = link.state.bootLoaderAddress;
  rt.options.unitId = link.state.bootLoaderAddress;

  out.Print(Sink::kInfo,
            "Attempting to connect to boot loader, please turn the unit power off and on now\r\n");
  SetProbeLink(link, 9600, kFastTimeoutMs);
  SaveConnection(link);
  bool found = ListenForBootLoader(link, unit, kSlowPowerCycleMs);
  if (!found) {
    out.Print(Sink::kInfo,
              "Attempting to connect to boot loader at 115200 baud, please turn the unit power "
              "off and on now\r\n");
    SetProbeLink(link, 115200, kFastTimeoutMs);
    SaveConnection(link);
    found = ListenForBootLoader(link, unit, kFastPowerCycleMs);
  }
  if (!found) return false;

  TraceComplete(out);
  unit.unitAddress = link.state.bootLoaderAddress;
  rt.options.unitId = link.state.bootLoaderAddress;
  unit.connectionMode = modePonderixBootLoader;
  out.Print(Sink::kInfo, "\r\n-- Found Unit (ponderix boot loader)\r\n");
  return true;
}

// The boot loader of a unit that was found answering as one is asked again,
// at the link's speed: it is not sent to its boot loader a second time.
bool StillInBootLoader(Link& link, UnitInfo& unit) {
  if (unit.connectionMode != modePonderixBootLoader) return false;
  TraceRpc(link.runtime.out, "ReadBootLoaderVersion");
  for (int i = 0; i < kStillThereTries; ++i) {
    if (ProbeBootLoaderVersion(link, unit)) {
      TraceComplete(link.runtime.out);
      return true;
    }
  }
  return false;
}

bool InitialiseForUpdate(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  out.Print(Sink::kDebug, "InitialiseForUpdate: Rebooting unit\r\n");
  LinkSettings& settings = link.port.settings();
  if (settings.hardwareHandshake) {
    out.Print(Sink::kDebug, "-- hardware handshaking disabled\r\n");
    settings.hardwareHandshake = false;
  }

  SetReceiveTimeout(link, kNormalTimeoutMs);
  bool answered = StillInBootLoader(link, unit);
  for (int attempt = 0; attempt < kRestartAttempts && !answered; ++attempt) {
    const RestartAttempt& row = kRestartRows[attempt];
    SetReceiveTimeout(link, kNormalTimeoutMs);
    if (unit.connectionMode == modeApplication &&
        unit.softwareVersion >= kFirstSoftwareWithSpeedChange) {
      if (!SetUnitSpeed(link, unit, row.unitSpeed)) rt.FatalError("Unable to change baud rate");
      SetReceiveTimeout(link, kNormalTimeoutMs);
    }
    if (!SendGotoBootLoader(link, unit)) break;
    TraceComplete(out);
    SetProbeLink(link, row.listenSpeed, kFastTimeoutMs, row.inPlace);

    TraceRpc(out, "ReadBootLoaderVersion");
    const uint32_t tries = kBootLoaderAnswerMs / kFastTimeoutMs;
    for (uint32_t i = 0; i < tries && !answered; ++i) answered = ProbeBootLoaderVersion(link, unit);
    if (answered) {
      TraceComplete(out);
      break;
    }
    // The unit did not come up in its boot loader within the second; see
    // what answers now. Its boot loader, come up meanwhile, is taken; its
    // software is asked again.
    if (CheckUnitId(link, unit)) {
      answered = unit.connectionMode == modePonderixBootLoader;
      continue;
    }
    // Nothing answers: the unit is still restarting.
    SetProbeLink(link, row.listenSpeed, kFastTimeoutMs);
    answered = ListenForBootLoader(link, unit, kSlowRestartMs);
    if (!answered) break;
    TraceComplete(out);
  }

  if (!answered && !WaitForBootLoader(link, unit)) return false;

  unit.connectionMode = modePonderixBootLoader;
  link.state.unitLeftIn = modePonderixBootLoader;
  SetReceiveTimeout(link, kNormalTimeoutMs);
  ReadBootLoaderRelease(link, unit);
  GetBufferSize(link, unit);
  return true;
}

}  // namespace kel
