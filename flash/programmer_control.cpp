#include "flash/programmer_control.h"

#include "flash/programmer_speed.h"
#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/link_speed.h"
#include "unit/rpc_boot_loader.h"
#include "unit/rpc_call.h"

namespace kel {

namespace {

constexpr int kControlAttempts = 12;
constexpr uint32_t kStartupMs = 100;
constexpr int32_t kControlSlowSpeed = 9600;

// Before attempt `attempt`: the speed the call started at, 115200, then
// 9600, as the programmer may be at any of them after a lost reply.
void SetLinkForAttempt(Link& link, int attempt, int32_t startRate, bool startParity) {
  bool changed = true;
  switch (attempt % 3) {
    case 0:
      changed = ChangePacketBaudRate(link, startRate, startParity, kNormalTimeoutMs);
      break;
    case 1:
      changed = ChangePacketBaudRate(link, kFallbackSpeed, false, kNormalTimeoutMs);
      break;
    default:
      changed = ChangePacketBaudRate(link, kControlSlowSpeed, false, kNormalTimeoutMs);
      break;
  }
  if (!changed) link.runtime.FatalError("Unable to change baudrate");
}

}  // namespace

bool TransferToRamProgram(Link& link, uint32_t start) {
  Runtime& rt = link.runtime;
  rt.out.Print(Sink::kDebug, "RPC: Transfer to RAM program at ", HexAddress(start), "\r\n");
  const LinkSettings& settings = link.port.settings();
  const int32_t startRate = settings.baudRate;
  const bool startParity = settings.evenParity;
  for (int attempt = 0; attempt < kControlAttempts; ++attempt) {
    SetLinkForAttempt(link, attempt, startRate, startParity);
    if (rpc::TransferToRamProgramOnce(link, start)) {
      TraceComplete(rt.out);
      rt.clock.Sleep(kStartupMs);
      return true;
    }
  }
  TraceFailed(rt.out);
  return false;
}

bool ResetProgrammer(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  TraceRpc(rt.out, "ResetProgrammer");
  const LinkSettings& settings = link.port.settings();
  const int32_t startRate = settings.baudRate;
  const bool startParity = settings.evenParity;
  for (int attempt = 0; attempt < kControlAttempts; ++attempt) {
    SetLinkForAttempt(link, attempt, startRate, startParity);
    if (!rpc::ResetProgrammerOnce(link)) continue;
    TraceComplete(rt.out);
    if (!ChangePacketBaudRate(link, kFallbackSpeed, false, kLongTimeoutMs)) {
      rt.FatalError("Unable to change baudrate");
    }
    if (!SetProgrammerSpeed(link, unit, settings.programmerBaudRate, false)) {
      rt.FatalError("Unable to change baud rate");
    }
    if (link.packets.proxy().on && !rpc::ConfigureProgrammer(link, 1)) {
      rt.FatalError("Unable to connect to programmer");
    }
    return true;
  }
  TraceFailed(rt.out);
  return false;
}

}  // namespace kel
