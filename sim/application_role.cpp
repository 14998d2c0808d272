#include "sim/application_role.h"

#include "sim/payload_writer.h"
#include "sim/role_reply.h"

namespace kel::sim {

namespace {

constexpr uint8_t kPong = 0x42;

// Application commands (low byte; the high byte is always 0x10).
constexpr uint8_t kReadUnitInfo = 0x10;
constexpr uint8_t kGotoBootLoader = 0x11;
constexpr uint8_t kReadAdvancedInfo = 0x14;
constexpr uint8_t kReadExtendedInfo = 0x15;
constexpr uint8_t kReadInformationText = 0x16;
constexpr uint8_t kListRemoteUnits = 0x17;
constexpr uint8_t kResetSystem = 0x18;
constexpr uint8_t kGetModbusAddress = 0x1B;
constexpr uint8_t kIsVComPort = 0x1C;
constexpr uint8_t kSetUnitSpeed = 0x30;
constexpr uint8_t kReset = 0x32;
constexpr uint8_t kUnitReady = 0x33;
constexpr uint8_t kGetDebugLogs = 0x34;

// Software generations that brought the newer calls.
constexpr int kNetworkSoftware = 600;   // unit list, ResetSystem, readiness, advanced info
constexpr int kExtendedSoftware = 220;  // extended info
constexpr int kVComSoftware = 606;      // IsVComPort

constexpr uint32_t kUnitSpeeds[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr uint8_t kMcuH8s2145 = 2;

// The advanced-info record after its length byte: 33 fixed bytes, then the
// Modbus address and the unit flags.
constexpr uint8_t kAdvancedLength = 35;
// Bytes of the extended-info record counted from offset 6 on.
constexpr uint8_t kExtendedCount = 24;

void Reply(SimReplies& replies, std::vector<uint8_t> payload) {
  SimReply r;
  r.payload = std::move(payload);
  replies.push_back(std::move(r));
}

std::string InformationText(const SimUnit& unit) {
  // The length travels in one byte.
  return unit.informationText.substr(0, 255);
}

bool HandleCommand(SimUnit& unit, const std::vector<uint8_t>& p,
                   const std::vector<uint8_t>& remoteAddresses, SimReplies& replies) {
  if (p.size() < 4 || p[2] != 0x10) return false;
  const int version = unit.softwareVersion;
  PayloadWriter w = PayloadWriter::EchoCommand(p);
  switch (p[3]) {
    case kReadUnitInfo: {
      if (p.size() != 4) return false;
      Reply(replies, UnitInfoReply(unit, p, unit.softwareVersion));
      return true;
    }
    case kGotoBootLoader:
      if (p.size() != 4) return false;
      unit.restartRequested = true;
      unit.restartRole = SimRole::kBootLoader;
      break;
    case kReadAdvancedInfo:
      if (p.size() != 4 || version < kNetworkSoftware) return false;
      w.U8(kAdvancedLength).U8(0).U8(unit.mcuType).U8(unit.bootLoaderVersion).U8(unit.bootLoaderRelease);
      w.U16(unit.cardNumber).U16(unit.circuitCode).U8(unit.suffixLetter).U8(unit.suffixNumber);
      w.U16(static_cast<uint16_t>(unit.softwareVersion)).U8(unit.softwareRelease);
      w.U8(static_cast<uint8_t>(unit.buildIncrement));
      for (uint8_t b : unit.buildTime) w.U8(b);
      w.U32(unit.reportedChecksum).U16(unit.reportedCrc).U32(static_cast<uint32_t>(unit.serialNumber));
      w.U16(unit.productWord).U8(unit.modbusAddress).U8(unit.unitFlags);
      break;
    case kReadExtendedInfo: {
      if (p.size() != 4 || version < kExtendedSoftware) return false;
      const std::string text = InformationText(unit);
      w.U8(kExtendedCount).U8(text.empty() ? 0 : 1);
      w.U16(0).U16(0).U16(0);
      w.U32(static_cast<uint32_t>(unit.serialNumber));
      for (int i = 0; i < 7; ++i) w.U8(0);
      for (uint8_t b : unit.buildTime) w.U8(b);
      w.U8(static_cast<uint32_t>(text.size()));
      break;
    }
    case kReadInformationText:
      if (p.size() != 4 || version < kExtendedSoftware) return false;
      w.Text(InformationText(unit));
      break;
    case kListRemoteUnits:
      if (p.size() != 4 || version < kNetworkSoftware) return false;
      w.U8(static_cast<uint32_t>(remoteAddresses.size()));
      w.Bytes(remoteAddresses);
      break;
    case kResetSystem:
      if (p.size() != 4 || version < kNetworkSoftware) return false;
      unit.networkRestartRequested = true;
      break;
    case kGetModbusAddress:
      if (p.size() != 4) return false;
      w.U8(unit.modbusAddress);
      break;
    case kIsVComPort:
      if (p.size() != 4 || version < kVComSoftware) return false;
      w.U8(unit.vcom ? 1 : 0);
      break;
    case kSetUnitSpeed: {
      if (p.size() != 8) return false;
      const uint32_t rate = ReadU32(p, 4);
      // A speed the unit cannot run is refused by silence; the program then
      // stays where the unit still is.
      if (!ApplicationAcceptsSpeed(unit, rate)) return false;
      unit.nextBaudRate = static_cast<int32_t>(rate);
      unit.nextEvenParity = false;
      break;
    }
    case kReset:
      if (p.size() != 4) return false;
      unit.restartRequested = true;
      unit.restartRole = SimRole::kApplication;
      break;
    case kUnitReady:
      if (p.size() != 4 || version < kNetworkSoftware) return false;
      w.U8(static_cast<int32_t>(unit.now - unit.readyAt) >= 0 ? 1 : 0);
      break;
    case kGetDebugLogs: {
      if (p.size() != 4 || version < kNetworkSoftware) return false;
      const size_t n = unit.debugLogFiles.size() > 255 ? 255 : unit.debugLogFiles.size();
      w.U8(static_cast<uint32_t>(n));
      for (size_t i = 0; i < n; ++i) w.U16(unit.debugLogFiles[i]);
      break;
    }
    default:
      return false;
  }
  Reply(replies, w.Take());
  return true;
}

}  // namespace

bool ApplicationAcceptsSpeed(const SimUnit& unit, uint32_t baudRate) {
  bool listed = false;
  for (uint32_t s : kUnitSpeeds) listed = listed || s == baudRate;
  if (!listed) return false;
  if (unit.mcuType == kMcuH8s2145 && baudRate > 115200) return false;
  const bool oldSoftware =
      unit.softwareVersion < 606 || (unit.softwareVersion == 606 && unit.softwareRelease < 35);
  if (oldSoftware && baudRate > 230400) return false;
  return true;
}

bool HandleApplicationRequest(SimUnit& unit, const std::vector<uint8_t>& payload,
                              const std::vector<uint8_t>& remoteAddresses, SimReplies& replies) {
  if (payload.size() < 2) return false;
  if (payload[1] == kPing) {
    if (payload.size() != 2) return false;
    Reply(replies, {payload[0], kPong});
    return true;
  }
  if (payload[1] == kCommandService) return HandleCommand(unit, payload, remoteAddresses, replies);
  return false;
}

}  // namespace kel::sim
