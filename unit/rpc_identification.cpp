#include "unit/rpc_identification.h"

#include <algorithm>
#include <string>

#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/card_table.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/update_acceptance.h"
#include "unit/version_text.h"

namespace kel {

namespace {

constexpr int kFirstAdvancedSoftware = 600;  // build increment, advanced info
constexpr int kFirstExtendedSoftware = 220;
constexpr int kFirstVComSoftware = 606;

// The fixed part of the extended-information reply after offset 6.
constexpr uint8_t kExtendedFieldBytes = 24;
// Bytes of the advanced-information head after the four header bytes.
constexpr int kAdvancedHeadFields = 33;

struct BasicInfo {
  uint16_t cardNumber = 0;
  uint16_t circuitCode = 0;
  int16_t softwareVersion = 0;
  uint16_t word = 0;
};

bool BasicInfoExchange(Link& link, const UnitInfo& unit, int attempts, BasicInfo& info) {
  RpcRequest request(unit.unitAddress, rpc::kReadUnitInfo);
  return RpcRetry(link, request, {12}, attempts, [&info](RpcReply& reply) {
    info.cardNumber = reply.U16();
    info.circuitCode = reply.U16();
    info.softwareVersion = static_cast<int16_t>(reply.U16());
    info.word = reply.U16();
    return true;
  });
}

void StoreBasicInfo(const BasicInfo& info, UnitInfo& unit) {
  unit.cardNumber = info.cardNumber;
  unit.circuitCode = info.circuitCode;
  unit.softwareVersion = info.softwareVersion;
  // The last word changed meaning with software 6.00.
  if (info.softwareVersion >= kFirstAdvancedSoftware) {
    unit.buildIncrement = static_cast<int8_t>(info.word >> 8);
  } else {
    unit.productWord = info.word;
  }
}

void PrintBootLoaderLines(Output& out, const UnitInfo& unit) {
  out.Print(Sink::kDebug, "MCUType=", unit.mcuType, " ", McuTypeName(unit.mcuType), "\r\n");
  out.Print(Sink::kDebug, "Boot loader version=", unit.bootLoaderVersion, "\r\n");
  out.Print(Sink::kDebug, "Boot loader release=", unit.bootLoaderRelease, "\r\n");
}

}  // namespace

bool Ping(Link& link, uint8_t address) {
  PacketLayer& packets = link.packets;
  packets.StartRequest();
  packets.PutPacketByte(address);
  packets.PutPacketByte(service::kPing);
  packets.SendPacket(2);
  const bool received = packets.RecvPacket(2);
  const uint8_t replyAddress = packets.NextReplyByte();
  const uint8_t replyService = packets.NextReplyByte();
  const bool checked = packets.CheckReply();
  return received && checked && replyAddress == address && replyService == service::kPingReply;
}

bool ReadBasicInfo(Link& link, UnitInfo& unit) {
  Output& out = link.runtime.out;
  TraceRpc(out, "ReadBasicInfo");
  BasicInfo info;
  if (!BasicInfoExchange(link, unit, 1, info)) {
    TraceFailed(out);
    return false;
  }
  StoreBasicInfo(info, unit);
  TraceComplete(out);
  return true;
}

bool ReadUnitInfo(Link& link, UnitInfo& unit) {
  Output& out = link.runtime.out;
  TraceRpc(out, "ReadUnitInfo");
  BasicInfo info;
  if (!BasicInfoExchange(link, unit, 4, info)) {
    TraceFailed(out);
    return false;
  }
  StoreBasicInfo(info, unit);
  if (!ApplyCardTable(unit)) {
    link.runtime.FatalError("Unsupported Card Number: " + std::to_string(unit.cardNumber));
  }
  out.Print(Sink::kDebug, "Card Number=", unit.cardNumber, " ", CardName(unit.cardNumber), "\r\n");
  out.Print(Sink::kDebug, "MCU Type=", unit.mcuType, "\r\n");
  out.Print(Sink::kDebug, "Software Version=", FormatVersionNumber(unit.softwareVersion), "\r\n");
  TraceComplete(out);
  return true;
}

bool ReadBootLoaderVersion(Link& link, UnitInfo& unit) {
  uint8_t versionByte = 0;
  RpcRequest request(link.state.bootLoaderAddress, rpc::kReadBootLoaderVersion);
  if (!CallRpc(link, "ReadBootLoaderVersion", request, {5}, 1, [&](RpcReply& reply) {
        versionByte = reply.U8();
        return true;
      })) {
    return false;
  }
  unit.bootLoaderVersionByte = versionByte;
  TraceComplete(link.runtime.out);
  return true;
}

bool ReadBootLoaderRelease(Link& link, UnitInfo& unit) {
  Output& out = link.runtime.out;
  uint8_t info = 0, mcu = 0, version = 0, release = 0, flags = 0;
  uint32_t checksum = 0;
  // The argument byte 1 is what every boot loader expects; its meaning is
  // not used here.
  RpcRequest request(link.state.bootLoaderAddress, rpc::kReadBootLoaderRelease);
  request.U8(1);
  if (!CallRpc(link, "ReadBootLoaderRelease", request, {13}, 3, [&](RpcReply& reply) {
        info = reply.U8();
        mcu = reply.U8();
        version = reply.U8();
        release = reply.U8();
        checksum = reply.U32();
        flags = reply.U8();
        return true;
      })) {
    // Older boot loaders only know the version byte: both version and
    // release are its low four bits.
    unit.bootLoaderInfo = 0;
    unit.mcuType = static_cast<int8_t>(unit.bootLoaderVersionByte >> 4);
    unit.bootLoaderVersion = static_cast<int8_t>(unit.bootLoaderVersionByte & 0x0F);
    unit.bootLoaderRelease = unit.bootLoaderVersion;
    unit.bootFlags = 0;
    PrintBootLoaderLines(out, unit);
    return false;
  }
  unit.bootLoaderInfo = info;
  unit.mcuType = static_cast<int8_t>(mcu);
  unit.bootLoaderVersion = static_cast<int8_t>(version);
  unit.bootLoaderRelease = static_cast<int8_t>(release);
  unit.softwareChecksum = checksum;
  unit.bootFlags = flags;
  PrintBootLoaderLines(out, unit);
  out.Print(Sink::kDebug, "BootFlags=", Hex(flags, 2), "\r\n");
  PrintBootFlags(out, flags);
  TraceComplete(out);
  return true;
}

bool ReadAdvancedInfo(Link& link, UnitInfo& unit) {
  if (unit.connectionMode != modeApplication || unit.softwareVersion < kFirstAdvancedSoftware) {
    return false;
  }
  UnitInfo fresh = unit;
  RpcRequest request(unit.unitAddress, rpc::kReadAdvancedInfo);
  if (!CallRpc(link, "ReadAdvancedInfo", request, {37, true}, 8, [&fresh](RpcReply& reply) {
        const uint8_t length = reply.U8();
        reply.U8();  // not used
        fresh.mcuType = static_cast<int8_t>(reply.U8());
        fresh.bootLoaderVersion = static_cast<int8_t>(reply.U8());
        fresh.bootLoaderRelease = static_cast<int8_t>(reply.U8());
        fresh.cardNumber = reply.U16();
        fresh.circuitCode = reply.U16();
        fresh.cardSuffixLetter = reply.U8();
        fresh.cardSuffixNumber = reply.U8();
        fresh.softwareVersion = static_cast<int16_t>(reply.U16());
        fresh.softwareRelease = reply.U8();
        fresh.buildIncrement = static_cast<int8_t>(reply.U8());
        reply.Read(fresh.buildTime, sizeof fresh.buildTime);
        fresh.softwareChecksum = reply.U32();
        fresh.softwareCrc = reply.U16();
        fresh.serialNumber = static_cast<int32_t>(reply.U32());
        fresh.productWord = reply.U16();
        // The tail is counted as a signed byte: a length below the head's
        // own size means no tail at all.
        const int tail = static_cast<int8_t>(static_cast<uint8_t>(length - kAdvancedHeadFields));
        if (tail >= 1) {
          reply.Receive(static_cast<size_t>(tail));
          fresh.modbusAddress = reply.U8();
          if (tail >= 2) fresh.unitFlags = reply.U8();
          if (tail > 2) reply.Skip(static_cast<size_t>(tail - 2));
        }
        return true;
      })) {
    return false;
  }
  fresh.bootFlags = 2;
  unit = fresh;
  Output& out = link.runtime.out;
  out.Print(Sink::kDebug, "Modbus Address=", unit.modbusAddress, "\r\n");
  PrintBootLoaderLines(out, unit);
  TraceComplete(out);
  return true;
}

bool ReadExtendedInfo(Link& link, UnitInfo& unit) {
  if (unit.connectionMode != modeApplication || unit.softwareVersion < kFirstExtendedSoftware) {
    return false;
  }
  bool hasText = false;
  uint8_t textLength = 0;
  int32_t serialNumber = 0;
  uint8_t buildTime[6] = {};
  RpcRequest request(unit.unitAddress, rpc::kReadExtendedInfo);
  if (!CallRpc(link, "ReadExtendedInfo", request, {30}, 2, [&](RpcReply& reply) {
        const uint8_t count = reply.U8();
        hasText = reply.U8() == 1;
        reply.Skip(6);  // three words not used
        serialNumber = static_cast<int32_t>(reply.U32());
        reply.Skip(7);  // not used
        reply.Read(buildTime, sizeof buildTime);
        textLength = reply.U8();
        // A longer layout than this one is skipped; in a 30-byte reply the
        // skip runs past the end and the exchange is rejected.
        if (count > kExtendedFieldBytes) reply.Skip(count - kExtendedFieldBytes);
        return true;
      })) {
    return false;
  }
  unit.serialNumber = serialNumber;
  std::copy(buildTime, buildTime + 6, unit.buildTime);
  Output& out = link.runtime.out;
  out.Print(Sink::kDebug, "Serial Number=", serialNumber, "\r\n");
  TraceComplete(out);
  if (hasText) ReadInformationText(link, unit, textLength);
  return true;
}

bool ReadInformationText(Link& link, UnitInfo& unit, uint8_t length) {
  std::string text;
  RpcRequest request(unit.unitAddress, rpc::kReadInformationText);
  if (!CallRpc(link, "ReadInformationText", request, {static_cast<size_t>(4 + length)}, 8,
               [&](RpcReply& reply) {
                 text.clear();
                 for (uint8_t i = 0; i < length; ++i) {
                   const uint8_t c = reply.U8();
                   // Control characters (DEL among them) would break the
                   // report's lines or garble the terminal.
                   text += c < 0x20 || c == 0x7F ? ':' : static_cast<char>(c);
                 }
                 return true;
               })) {
    return false;
  }
  unit.informationText = text;
  Output& out = link.runtime.out;
  out.Print(Sink::kDebug, "Information=", text, "\r\n");
  TraceComplete(out);
  return true;
}

bool GetModbusAddress(Link& link, UnitInfo& unit) {
  uint8_t modbusAddress = 0;
  RpcRequest request(unit.unitAddress, rpc::kGetModbusAddress);
  if (!CallRpc(link, "GetModbusAddress", request, {5}, 4, [&](RpcReply& reply) {
        modbusAddress = reply.U8();
        return true;
      })) {
    return false;
  }
  unit.modbusAddress = modbusAddress;
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: ModbusAddress=", modbusAddress, " (",
                         Hex(modbusAddress, 2), ")\r\n");
  return true;
}

bool IsVComPort(Link& link, const UnitInfo& unit) {
  if (unit.connectionMode != modeApplication || unit.softwareVersion < kFirstVComSoftware) {
    return false;
  }
  uint8_t result = 0;
  RpcRequest request(unit.unitAddress, rpc::kIsVComPort);
  if (!CallRpc(link, "IsVComPort", request, {5}, 8, [&](RpcReply& reply) {
        result = reply.U8();
        return true;
      })) {
    return false;
  }
  const bool vcom = result != 0;
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: Result=", vcom ? 1 : 0, "\r\n");
  return vcom;
}

}  // namespace kel
