#include "sim/boot_loader_role.h"

#include <algorithm>

#include "sim/role_reply.h"
#include "sim/sim_unit.h"
#include "sim/software_checksum.h"
#include "sim/wire_bytes.h"

namespace kel::sim {

namespace {

constexpr uint8_t kService = 0x45;

// Boot loaders before release 11 answer the older codes of these two calls;
// before release 15 their speed codes include 128000.
constexpr uint8_t kOldCodesBelowRelease = 11;
constexpr uint8_t kOldSpeedTableBelowRelease = 15;
// Boot flag bit 0: no application software.

SimReply Reply(std::vector<uint8_t> payload) { return MakeReply(std::move(payload)); }

uint8_t ReadMemoryByte(const SimUnit& unit, uint32_t address) {
  const auto written = unit.ram.Read(address);
  return written ? *written : unit.flash.ReadByte(address);
}

void WriteRam(SimUnit& unit, uint32_t address, const uint8_t* data, size_t count) {
  unit.ram.Write(address, data, count);
}

bool HandleWriteMemory(SimUnit& unit, const std::vector<uint8_t>& payload, bool large,
                       SimReplies& replies) {
  // A request whose data does not match its length field, or that the unit's
  // buffer cannot hold, is dropped as the boot loader drops a bad frame.
  BlockRequest block;
  if (!ParseBlockRequest(unit, payload, large, block) ||
      !FitsAddressSpace(block.address, block.length))
    return false;
  WriteRam(unit, block.address, payload.data() + block.dataAt, block.length);
  replies.push_back(Reply(EchoHead(payload, block.dataAt)));
  return true;
}

bool HandleExamineMemory(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 9) return false;
  const uint32_t address = ReadBe32(payload, 4);
  const uint8_t count = payload[8];
  if (count > kMaxSmallWrite || !FitsAddressSpace(address, count)) return false;
  std::vector<uint8_t> out = EchoHead(payload, 9);
  for (uint32_t i = 0; i < count; ++i) out.push_back(ReadMemoryByte(unit, address + i));
  replies.push_back(Reply(std::move(out)));
  return true;
}

bool HandleBufferedCommit(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 10) return false;
  const uint32_t address = ReadBe32(payload, 4);
  const size_t length = ReadBe16(payload, 8);
  if (length > unit.scratch.size() || !FitsAddressSpace(address, length)) return false;
  WriteRam(unit, address, unit.scratch.data(), length);
  replies.push_back(Reply(EchoHead(payload, 10)));
  return true;
}

// The RAM an MCU type has, inclusive ranges; a programmer built for another
// microcontroller lies (in part) where this one has none. Unknown types take
// any address.
struct RamRange {
  uint8_t mcuType;
  uint32_t first;
  uint32_t last;
};
constexpr RamRange kRam[] = {
    {1, 0x00FFC000, 0x00FFEFFF}, {2, 0x00FFC000, 0x00FFEFFF},  // H8S/2148, H8S/2145
    {3, 0x40000000, 0x4000FFFF},                               // LPC2478
    {4, 0x10000000, 0x1000FFFF},                               // LPC4078
    {5, 0x10000000, 0x10007FFF}, {5, 0x2007C000, 0x20083FFF},  // LPC1768
    {6, 0x10000000, 0x10007FFF}, {6, 0x10080000, 0x10089FFF},  // LPC4337
    {7, 0x10000000, 0x10007FFF}, {7, 0x10080000, 0x10089FFF},  // LPC4357
};

bool InRam(uint8_t mcuType, uint32_t address) {
  bool known = false;
  for (const RamRange& r : kRam) {
    if (r.mcuType != mcuType) continue;
    known = true;
    if (address >= r.first && address <= r.last) return true;
  }
  return !known;
}

// A programmer fits when its start and every byte written lie in the MCU's RAM.
bool ProgrammerFits(const SimUnit& unit, uint32_t start) {
  if (!InRam(unit.mcuType, start)) return false;
  return unit.ram.EveryWrittenAddress(
      [&](uint32_t address) { return InRam(unit.mcuType, address); });
}

bool HandleTransferToRam(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 8) return false;
  const uint32_t start = ReadBe32(payload, 4);
  replies.push_back(Reply(EchoHead(payload, kRequestHead)));
  // Jumping to RAM that was never written, or into a programmer built for
  // another microcontroller, would leave the unit hanging; the simulated
  // one stays in its boot loader instead, so the client sees the programmer
  // never answering.
  if (!unit.ram.Read(start) || !ProgrammerFits(unit, start)) return true;
  unit.programStart = start;
  unit.role = SimRole::kProgrammer;
  unit.flashSession.Clear();
  unit.scratch.clear();
  // The programmer starts at 115200 without parity, after this reply.
  unit.nextBaudRate = kProgrammerBaud;
  unit.nextEvenParity = false;
  unit.autoBaud = false;
  return true;
}

}  // namespace

bool IsCommand(const std::vector<uint8_t>& payload, uint8_t command) {
  return payload.size() >= kRequestHead && payload[1] == kService && payload[2] == 0x10 &&
         payload[3] == command;
}

int32_t SpeedOfCode(uint8_t code, bool oldTable) {
  static constexpr int32_t kOld[] = {9600,   19200,  38400,  57600, 115200,
                                     128000, 230400, 460800, 921600};
  static constexpr int32_t kNew[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
  if (oldTable) return code >= 1 && code <= 9 ? kOld[code - 1] : 0;
  return code >= 1 && code <= 8 ? kNew[code - 1] : 0;
}

bool HandleGetBufferSize(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  const uint8_t command = unit.bootLoaderRelease < kOldCodesBelowRelease ? 0x91 : 0x1F;
  if (!IsCommand(payload, command) || payload.size() != kRequestHead) return false;
  std::vector<uint8_t> out = EchoHead(payload, kRequestHead);
  AppendBe16(out, BufferSizeOf(unit));
  replies.push_back(Reply(std::move(out)));
  return true;
}

bool HandleSetSpeed(SimUnit& unit, const std::vector<uint8_t>& payload, bool oldTable,
                    SimReplies& replies) {
  const uint8_t command = unit.bootLoaderRelease < kOldCodesBelowRelease ? 0x90 : 0x23;
  if (!IsCommand(payload, command) || payload.size() != 5) return false;
  const int32_t baud = SpeedOfCode(payload[4], oldTable);
  if (baud == 0) return false;
  replies.push_back(Reply(EchoHead(payload, kRequestHead)));
  unit.nextBaudRate = baud;
  unit.nextEvenParity = false;
  unit.autoBaud = false;
  return true;
}

bool HandleBufferedChunk(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (!IsCommand(payload, 0x38) || payload.size() < 7) return false;
  const size_t offset = ReadBe16(payload, 4);
  const size_t length = payload[6];
  if (payload.size() != 7 + length || length > kMaxSmallWrite) return false;
  if (offset + length > TransferBufferSize(unit)) return false;
  if (unit.scratch.size() < offset + length) unit.scratch.resize(offset + length, 0xFF);
  std::copy_n(payload.begin() + 7, length,
              unit.scratch.begin() + static_cast<std::ptrdiff_t>(offset));
  replies.push_back(Reply(EchoHead(payload, 7)));
  return true;
}

bool HandleReset(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (!IsCommand(payload, 0x32) || payload.size() != kRequestHead) return false;
  replies.push_back(Reply(EchoHead(payload, kRequestHead)));
  unit.restartRequested = true;
  unit.restartRole = SimRole::kApplication;
  return true;
}

bool HandleBootLoaderRequest(SimUnit& unit, const std::vector<uint8_t>& payload,
                             SimReplies& replies) {
  if (payload.size() < kRequestHead || payload[1] != kService || payload[2] != 0x10) return false;
  switch (payload[3]) {
    case 0x10: {
      // ReadUnitInfo: the boot loader keeps the card number and circuit code
      // of its board and reads the version from the application it would
      // start; with no application (boot flag bit 0) the version is 0.
      if (payload.size() != kRequestHead) return false;
      const bool application = unit.softwarePresent && (unit.bootFlags & kNoSoftwareFlag) == 0;
      replies.push_back(
          Reply(UnitInfoReply(unit, payload, application ? unit.softwareVersion : int16_t{0})));
      return true;
    }
    case 0x12: {  // ReadBootLoaderVersion: MCU type in the high nibble
      if (payload.size() != kRequestHead) return false;
      std::vector<uint8_t> out = EchoHead(payload, kRequestHead);
      out.push_back(static_cast<uint8_t>((unit.mcuType << 4) | (unit.bootLoaderVersion & 0x0F)));
      replies.push_back(Reply(std::move(out)));
      return true;
    }
    case 0x13: {  // ReadBootLoaderRelease
      if (payload.size() != 5) return false;
      const SoftwareCheck check = ReportedSoftwareCheck(unit);
      std::vector<uint8_t> out = EchoHead(payload, kRequestHead);
      out.push_back(unit.bootInfoByte);
      out.push_back(unit.mcuType);
      out.push_back(unit.bootLoaderVersion);
      out.push_back(unit.bootLoaderRelease);
      AppendBe32(out, check.checksum);
      out.push_back(unit.bootFlags);
      replies.push_back(Reply(std::move(out)));
      return true;
    }
    case 0x1F:
    case 0x91:
      return HandleGetBufferSize(unit, payload, replies);
    case 0x20:
      return HandleWriteMemory(unit, payload, false, replies);
    case 0x24:
      return HandleWriteMemory(unit, payload, true, replies);
    case 0x21:
      return HandleExamineMemory(unit, payload, replies);
    case 0x22:
      return HandleTransferToRam(unit, payload, replies);
    case 0x23:
    case 0x90:
      return HandleSetSpeed(unit, payload, unit.bootLoaderRelease < kOldSpeedTableBelowRelease,
                            replies);
    case 0x38:
      return HandleBufferedChunk(unit, payload, replies);
    case 0x39:
      return HandleBufferedCommit(unit, payload, replies);
    case 0x32:
      return HandleReset(unit, payload, replies);
    default:
      return false;
  }
}

}  // namespace kel::sim
