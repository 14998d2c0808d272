#include "unit/programmer_probe.h"

#include <vector>

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/unit_probe.h"

namespace kel {

namespace {

constexpr int kProbeTries = 2;

constexpr char kUnnotedLine[] =
    "The unit is running its flash programmer: an update was cut short, and this computer "
    "has no note of which unit it is. Do not switch the unit off: run KelUpdater again on the "
    "computer that started the update.\r\n";

}  // namespace

bool ProgrammerAnswers(Link& link, int32_t baudRate, UnitInfo& unit) {
  SetProbeLink(link, baudRate, link.state.fastTimeoutMs);
  RpcRequest request(link.state.bootLoaderAddress, rpc::kGetProgrammerVersion);
  for (int attempt = 0; attempt < kProbeTries; ++attempt) {
    if (RpcAttempt(link, request, {6}, [&unit](RpcReply& reply) {
          unit.programmerVersion[0] = reply.U8();
          unit.programmerVersion[1] = reply.U8();
          return true;
        })) {
      return true;
    }
  }
  return false;
}

std::optional<NotedProgrammer> NoteOfProgrammer(Link& link) {
  std::optional<NotedProgrammer> noted =
      ProgrammerNote(link.runtime.registry, link.port.settings().portNumber).Read();
  const ProxySettings& proxy = link.packets.proxy();
  if (noted && noted->jigAddress != (proxy.on ? proxy.unitId : 0)) noted.reset();
  return noted;
}

bool FindProgrammerLeftRunning(Link& link, UnitInfo& unit, std::optional<NotedProgrammer>& noted) {
  Runtime& rt = link.runtime;
  noted = NoteOfProgrammer(link);
  std::vector<int32_t> speeds;
  if (noted) speeds.push_back(noted->baudRate);
  const int32_t programming = link.port.settings().programmerBaudRate;
  for (const int32_t speed : {programming > 0 ? programming : kFallbackSpeed, kFallbackSpeed}) {
    bool tried = false;
    for (const int32_t done : speeds) tried = tried || done == speed;
    if (!tried) speeds.push_back(speed);
  }
  for (const int32_t speed : speeds) {
    if (!ProgrammerAnswers(link, speed, unit)) continue;
    SaveConnection(link);
    unit.connectionMode = modeFlashProgrammer;
    unit.unitAddress = link.state.bootLoaderAddress;
    rt.out.Print(Sink::kDebug, "-- found unit (flash programmer)\r\n");
    if (noted) TakeNotedIdentity(unit, *noted);
    rt.options.unitId = unit.unitAddress;
    return true;
  }
  return false;
}

void TakeNotedIdentity(UnitInfo& unit, const NotedProgrammer& noted) {
  const UnitInfo& from = noted.unit;
  unit.cardNumber = from.cardNumber;
  unit.circuitCode = from.circuitCode;
  unit.cardSuffixLetter = from.cardSuffixLetter;
  unit.cardSuffixNumber = from.cardSuffixNumber;
  unit.serialNumber = from.serialNumber;
  unit.mcuType = from.mcuType;
  unit.unitType = from.unitType;
  unit.bootLoaderVersion = from.bootLoaderVersion;
  unit.bootLoaderRelease = from.bootLoaderRelease;
  unit.bootFlags = from.bootFlags;
  unit.unitFlags = from.unitFlags;
  unit.softwareVersion = from.softwareVersion;
  unit.softwareRelease = from.softwareRelease;
  unit.buildIncrement = from.buildIncrement;
  unit.modbusAddress = from.modbusAddress;
  unit.identityNoted = true;
  // Requests to the programmer go to the boot-loader address whatever this
  // says; after the restart the unit's software answers at its own.
  if (from.modbusAddress != 0) unit.unitAddress = from.modbusAddress;
}

void RefuseUnnotedProgrammer(Link& link) {
  link.runtime.out.Print(Sink::kInfo, kUnnotedLine);
  link.runtime.FatalError(kProgrammerRunningMessage);
}

}  // namespace kel
