#include "unit/unit_left.h"

#include "link/comm_port.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"
#include "unit/programmer_note.h"
#include "unit/rpc_boot_loader.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/unit_info.h"

namespace kel {

namespace {

constexpr int kResetProgrammerTries = 3;
constexpr int kResetTries = 4;

bool SendReset(Link& link) {
  RpcRequest request(link.state.bootLoaderAddress, rpc::kReset);
  return RpcRetry(link, request, {4}, kResetTries);
}

}  // namespace

void UnitRestarted(Link& link) {
  link.state.unitLeftIn = modeUnknown;
  link.state.bootRegionIncomplete = false;
  ProgrammerNote(link.runtime.registry, link.port.settings().portNumber).Remove();
}

bool RestartProgrammerLeftRunning(Link& link) {
  link.state.unitLeftIn = modeFlashProgrammer;
  link.state.bootRegionIncomplete = false;
  return RestartUnitLeftOut(link);
}

bool RestartUnitLeftOut(Link& link) {
  LinkState& state = link.state;
  if (state.unitLeftIn == modeUnknown) return true;
  Output& out = link.runtime.out;
  if (state.bootRegionIncomplete) {
    out.Print(Sink::kDebug,
              "-- the unit's boot loader is not whole: the unit is left running its flash "
              "programmer\r\n");
    return false;
  }
  bool restarted = false;
  if (state.unitLeftIn == modeFlashProgrammer) {
    out.Print(Sink::kDebug, "-- restarting the unit from its flash programmer\r\n");
    const int32_t ranAt = link.port.settings().baudRate;
    SetReceiveTimeout(link, kNormalTimeoutMs);
    bool reset = false;
    for (int i = 0; i < kResetProgrammerTries && !reset; ++i) reset = rpc::ResetProgrammerOnce(link);
    // A reset programmer listens at 115200; one whose reset was not heard
    // still runs where it ran.
    for (const int32_t speed : {kFallbackSpeed, ranAt}) {
      if (restarted) break;
      if (!ChangePacketBaudRate(link, speed, false, kNormalTimeoutMs)) continue;
      restarted = SendReset(link);
    }
  } else {
    out.Print(Sink::kDebug, "-- restarting the unit from its boot loader\r\n");
    SetReceiveTimeout(link, kNormalTimeoutMs);
    restarted = SendReset(link);
  }
  if (restarted) UnitRestarted(link);
  return restarted;
}

}  // namespace kel
