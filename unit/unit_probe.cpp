#include "unit/unit_probe.h"

#include <string>

#include "link/comm_port.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/link_speed.h"
#include "unit/programmer_probe.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/rpc_identification.h"

namespace kel {

namespace {

constexpr int kUnitIdRounds = 4;
constexpr int kBroadcastPings = 2;
constexpr int kSearchRounds = 10;
constexpr size_t kIspReplyBytes = 80;
// The ROM loader of an LPC chip finds the speed from the "?" at any rate;
// 115200 keeps the check short.
constexpr int32_t kIspProbeSpeed = 115200;
constexpr int32_t kBootLoaderSpeeds[2] = {9600, 115200};
constexpr char kIspSynchronized[] = "Synchronized\r\n";
constexpr char kIspOk[] = "OK\r\n";

std::string DeviceErrorText(Link& link) {
  SerialDevice* device = link.port.device();
  return device != nullptr ? device->LastFailure().systemText : std::string();
}

bool FoundBootLoader(Link& link, UnitInfo& unit) {
  SaveConnection(link);
  unit.unitAddress = link.state.bootLoaderAddress;
  link.runtime.options.unitId = link.state.bootLoaderAddress;
  unit.connectionMode = modePonderixBootLoader;
  link.runtime.out.Print(Sink::kDebug, "-- found unit (ponderix boot loader)\r\n");
  return true;
}

// The application answered at unitId; GetModbusAddress tells its own address,
// which replaces the broadcast address for every later request.
void TakeModbusAddress(Link& link, UnitInfo& unit) {
  if (GetModbusAddress(link, unit)) {
    unit.unitAddress = unit.modbusAddress;
    link.runtime.options.unitId = unit.modbusAddress;
  }
}

enum class IspResult { kNotFound, kFound, kPortError };

// The LPC ROM loader's autobaud handshake: "?" is answered with
// "Synchronized", which echoed back is answered with "OK".
IspResult CheckLpcChip(Link& link) {
  Output& out = link.runtime.out;
  CommPort& port = link.port;
  const uint8_t question = '?';
  if (port.WriteCommPortOverlapped(&question, 1) < 1) {
    out.Print(Sink::kDebug, "<ERROR> ", "Error: ", DeviceErrorText(link), "\r\n");
    return IspResult::kPortError;
  }
  uint8_t buffer[kIspReplyBytes];
  int count = port.ReadCommPortExact(buffer, sizeof buffer);
  if (count < 0) {
    out.Print(Sink::kDebug, "[ERROR]", "Error: ", DeviceErrorText(link), "\r\n");
    return IspResult::kPortError;
  }
  if (count == 0) {
    out.Print(Sink::kDebug, "[NO DATA]\r\n");
    return IspResult::kNotFound;
  }
  if (std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(count))
          .find(kIspSynchronized) == std::string::npos) {
    return IspResult::kNotFound;
  }
  out.Print(Sink::kInfo, "-- LPC chip firmware found\r\n");
  if (!link.runtime.options.manufacturingMode || link.runtime.options.plan) {
    // Only a production job programs a blank chip; this run refuses it (a
    // plan only says what the job would do with it). A
    // ROM loader that has synchronised no longer answers "?" until it is
    // switched off and on, so the next run (with the job) could not find
    // it: the handshake gets a line that is not its own instead, which
    // sends the loader back to waiting for "?".
    // The loader answers nothing to it; the wait lets the line end leave
    // at this speed before the port is set back and let go.
    static constexpr uint8_t kDecline[] = {'\r', '\n'};
    port.WriteCommPortOverlapped(kDecline, sizeof kDecline);
    port.FlushPendingWrites();
    port.ReadCommPortExact(buffer, sizeof buffer);
    out.Print(Sink::kDebug,
              "-- handshake declined: only a production job programs a blank chip\r\n");
    return IspResult::kFound;
  }
  const std::string sync = kIspSynchronized;
  port.WriteCommPortOverlapped(reinterpret_cast<const uint8_t*>(sync.data()), sync.size());
  count = port.ReadCommPortExact(buffer, sizeof buffer);
  if (count < 0) {
    out.Print(Sink::kDebug, "[ERROR]", "Error: ", DeviceErrorText(link), "\r\n");
    return IspResult::kPortError;
  }
  if (std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(count)).find(kIspOk) !=
      std::string::npos) {
    out.Print(Sink::kDebug, "-- synchronization succeeded\r\n");
    return IspResult::kFound;
  }
  out.Print(Sink::kInfo, "-- synchronization failed\r\n");
  return IspResult::kNotFound;
}

}  // namespace

void SetProbeLink(Link& link, int32_t baudRate, uint32_t timeoutMs, bool direct) {
  if (!ChangePacketBaudRate(link, baudRate, false, timeoutMs, direct)) {
    link.runtime.FatalError("Unable to change baudrate");
  }
}

bool ProbeBootLoaderVersion(Link& link, UnitInfo& unit) {
  uint8_t versionByte = 0;
  RpcRequest request(link.state.bootLoaderAddress, rpc::kReadBootLoaderVersion);
  if (!RpcAttempt(link, request, {5}, [&versionByte](RpcReply& reply) {
        versionByte = reply.U8();
        return true;
      })) {
    return false;
  }
  unit.bootLoaderVersionByte = versionByte;
  return true;
}

void CheckForEscape(Link& link) {
  Runtime& rt = link.runtime;
  if (!rt.console.KeyWaiting()) return;
  if (rt.out.ReadPromptKey() == kEscapeKey) rt.FatalError("Aborted");
}

bool CheckUnitId(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  Options& options = rt.options;
  unit.connectionMode = modeUnknown;

  if (options.unitIdGiven) {
    out.Print(Sink::kDebug, "Checking Unit ID...\r\n");
    for (int round = 0; round < kUnitIdRounds; ++round) {
      SetProbeLink(link, kBootLoaderSpeeds[round % 2], kNormalTimeoutMs);
      if (ReadBootLoaderVersion(link, unit)) return FoundBootLoader(link, unit);
      RestoreConnection(link, kNormalTimeoutMs);
      out.Print(Sink::kDebug, "RPC: Ping address $", Hex(options.unitId, 2), "\r\n");
      if (Ping(link, options.unitId)) {
        TraceComplete(out);
        SaveConnection(link);
        unit.unitAddress = options.unitId;
        unit.connectionMode = modeApplication;
        out.Print(Sink::kDebug, "-- found unit ID = ", Hex(options.unitId, 2), "\r\n");
        return true;
      }
    }
  }

  out.Print(Sink::kDebug,
            "Checking for LPC chip firmware (blank chip or started with boot button pressed)\r\n");
  SetProbeLink(link, kIspProbeSpeed, kNormalTimeoutMs);
  ++out.chipProbeCounter;
  const IspResult isp = CheckLpcChip(link);
  --out.chipProbeCounter;
  if (isp == IspResult::kPortError) return false;
  if (isp == IspResult::kFound) {
    SaveConnection(link);
    unit.connectionMode = modeChipIsp;
    return true;
  }

  if (options.initialBaudGiven) {
    RestoreConnection(link, kNormalTimeoutMs);
    out.Print(Sink::kDebug, "RPC: Ping address $F0 at specified baud rate\r\n");
    for (int attempt = 0; attempt < kBroadcastPings; ++attempt) {
      if (!Ping(link, kBroadcastUnitId)) continue;
      TraceComplete(out);
      unit.unitAddress = kBroadcastUnitId;
      options.unitId = kBroadcastUnitId;
      unit.connectionMode = modeApplication;
      TakeModbusAddress(link, unit);
      out.Print(Sink::kDebug, "-- found unit ($F0)\r\n");
      return true;
    }
  }

  TraceRpc(out, "ReadBootLoaderVersion");
  for (int32_t speed : kBootLoaderSpeeds) {
    SetProbeLink(link, speed, link.state.fastTimeoutMs);
    if (ProbeBootLoaderVersion(link, unit)) {
      TraceComplete(out);
      return FoundBootLoader(link, unit);
    }
  }

  out.Print(Sink::kDebug, "Searching for unit ID...\r\n");
  options.unitId = kBroadcastUnitId;
  unit.unitAddress = kBroadcastUnitId;
  out.Print(Sink::kDebug, "Unit ID=", Hex(kBroadcastUnitId, 2), "\r\n");
  for (int round = 0; round < kSearchRounds; ++round) {
    CheckForEscape(link);
    SetProbeLink(link, kSearchSpeeds[round % 5], link.state.fastTimeoutMs);
    if (!Ping(link, options.unitId)) continue;
    if (options.unitId == kBroadcastUnitId) {
      out.Print(Sink::kDebug, "-- found unit ($F0)\r\n");
    } else {
      out.Print(Sink::kDebug, "-- found unit ID = ", Hex(options.unitId, 2), "\r\n");
    }
    SaveConnection(link);
    unit.unitAddress = options.unitId;
    unit.connectionMode = modeApplication;
    TakeModbusAddress(link, unit);
    return true;
  }

  // Last, a flash programmer an earlier run left running: it answers none
  // of the calls above.
  std::optional<NotedProgrammer> noted;
  if (FindProgrammerLeftRunning(link, unit, noted)) return true;

  out.Print(Sink::kDebug, "-- unable to find unit\r\n");
  return false;
}

}  // namespace kel
