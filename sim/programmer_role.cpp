#include "sim/programmer_role.h"

#include <algorithm>

#include "sim/boot_loader_role.h"
#include "sim/boot_region.h"
#include "sim/role_reply.h"
#include "sim/sim_unit.h"
#include "sim/wire_bytes.h"

namespace kel::sim {

namespace {

constexpr uint16_t kSequenceMask = 0x7FFF;
constexpr uint16_t kFirstPieceFlag = 0x8000;
constexpr uint32_t kSoftwareOffset = 0x4000;  // the boot loader owns the first 16 KiB

// Processing times of the programmer, in milliseconds.
constexpr uint32_t kProgramMs = 2;
constexpr uint32_t kEraseMs = 20;
// With late replies switched on, even sequences are held back this much longer
// than odd ones, so that each pair of replies arrives swapped.
constexpr uint32_t kLateMs = 40;

SimReply ProgrammerReply(std::vector<uint8_t> payload, uint32_t delayMs = 0) {
  return MakeReply(std::move(payload), delayMs);
}

// Calls `visit` for each flash sector that overlaps first..last, skipping the
// gap between banks.
template <typename Visit>
void ForEachSector(uint8_t mcuType, uint32_t first, uint32_t last, Visit visit) {
  uint64_t at = first;
  while (at <= last) {
    const uint32_t address = static_cast<uint32_t>(at);
    const FlashRange sector = FlashMemory::SectorOf(mcuType, address);
    if (FlashMemory::InFlash(mcuType, address)) visit(sector);
    at = uint64_t{sector.last} + 1;
  }
}

void NoteWrite(SimUnit& unit, uint32_t first, uint32_t last) {
  const uint32_t base = FlashMemory::FlashBase(unit.mcuType);
  NoteBootRegionWrite(unit, first, last);
  if (last >= base + kSoftwareOffset) unit.flash.softwareWritten = true;
}

bool HandleProgram(SimUnit& unit, const std::vector<uint8_t>& payload, bool large,
                   SimReplies& replies) {
  BlockRequest block;
  if (!ParseBlockRequest(unit, payload, large, block)) return false;
  std::vector<uint8_t> out = EchoHead(payload, block.dataAt);
  out.push_back(ProgramFlash(unit, block.address, payload.data() + block.dataAt, block.length));
  replies.push_back(ProgrammerReply(std::move(out), kProgramMs));
  return true;
}

// Windowed programming: tag (sequence in bits 0..14, bit 15 on the first piece
// of a record split into several requests), address, length, data. The
// programmer takes the pieces in sequence order: sequence 0 starts an image,
// any other must follow the last one taken. A piece already taken is
// answered again without being written (its reply was lost); a piece after a
// gap is dropped unanswered, so the client's timeout makes it send the
// missing pieces again in order. A reply acknowledges its sequence and,
// cumulatively, every one before it. Every piece carries its own address, so
// a record short enough to go whole needs no bit 15.
bool HandleWindowedProgram(SimUnit& unit, const std::vector<uint8_t>& payload,
                           SimReplies& replies) {
  if (payload.size() < 11) return false;
  const uint16_t tag = ReadBe16(payload, 4);
  const uint32_t address = ReadBe32(payload, 6);
  const size_t length = payload[10];
  if (payload.size() != 11 + length || length > kMaxSmallWrite) return false;
  const uint16_t sequence = tag & kSequenceMask;
  FlashSession& session = unit.flashSession;
  const bool next = sequence == 0 || (session.haveSequence &&
                                      sequence == ((session.lastSequence + 1) & kSequenceMask));
  const bool repeated = !next && session.haveSequence && sequence <= session.lastSequence;
  if (!next && !repeated) return true;  // out of order: silently dropped
  uint8_t result = 0;
  if (next) {
    result = ProgramFlash(unit, address, payload.data() + 11, length);
    if (result == 0) {
      session.haveSequence = true;
      session.lastSequence = sequence;
    }
  }
  std::vector<uint8_t> out = EchoHead(payload, 11);
  out.push_back(result);
  SimReply reply = ProgrammerReply(std::move(out), kProgramMs);
  if (unit.windowedRepliesLate && sequence % 2 == 0) reply.lateMs = kLateMs;
  replies.push_back(std::move(reply));
  return true;
}

bool HandleProgramFromBuffer(SimUnit& unit, const std::vector<uint8_t>& payload,
                             SimReplies& replies) {
  if (payload.size() != 10) return false;
  const uint32_t address = ReadBe32(payload, 4);
  const size_t length = ReadBe16(payload, 8);
  if (length > unit.scratch.size()) return false;
  std::vector<uint8_t> out = EchoHead(payload, 10);
  out.push_back(ProgramFlash(unit, address, unit.scratch.data(), length));
  replies.push_back(ProgrammerReply(std::move(out), kProgramMs));
  return true;
}

bool HandleEraseRange(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 12) return false;
  const uint32_t first = ReadBe32(payload, 4);
  const uint32_t last = ReadBe32(payload, 8);
  if (last < first) return false;
  if (unit.hardwareFailure == 0) EraseFlashRange(unit, first, last);
  replies.push_back(ProgrammerReply(EchoHead(payload, kRequestHead), kEraseMs));
  return true;
}

bool HandleEraseFms(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 8 || payload[5] != 'F' || payload[6] != 'M' || payload[7] != 'S')
    return false;
  const uint8_t drive = payload[4];
  uint8_t result = unit.hardwareFailure;
  if (result == 0 && !unit.files.HasDrive(drive)) result = FileStore::kResultNoDrive;
  if (result == 0) {
    unit.files.EraseDrive(drive);
    unit.files.open = OpenFileState();
  }
  std::vector<uint8_t> out = EchoHead(payload, kRequestHead);
  out.push_back(drive);
  out.push_back(result);
  replies.push_back(ProgrammerReply(std::move(out), kEraseMs));
  return true;
}

bool HandleRead128(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 9 || payload[8] != kMaxSmallWrite) return false;
  const uint32_t address = ReadBe32(payload, 4);
  std::vector<uint8_t> out = EchoHead(payload, 9);
  const std::vector<uint8_t> bytes = unit.flash.Read(address, kMaxSmallWrite);
  out.insert(out.end(), bytes.begin(), bytes.end());
  replies.push_back(ProgrammerReply(std::move(out)));
  return true;
}

bool HandleWrite128(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 9 + kMaxSmallWrite || payload[8] != kMaxSmallWrite) return false;
  const uint32_t address = ReadBe32(payload, 4);
  std::vector<uint8_t> out = EchoHead(payload, 9);
  out.push_back(ProgramFlash(unit, address, payload.data() + 9, kMaxSmallWrite));
  replies.push_back(ProgrammerReply(std::move(out), kProgramMs));
  return true;
}

}  // namespace

void EraseFlashRange(SimUnit& unit, uint32_t first, uint32_t last) {
  ForEachSector(unit.mcuType, first, last, [&](const FlashRange& sector) {
    unit.flash.Erase(sector.first, sector.last);
    unit.flashSession.erasedSectors.insert(sector.first);
    NoteWrite(unit, sector.first, sector.last);
  });
}

uint8_t ProgramFlash(SimUnit& unit, uint32_t address, const uint8_t* data, size_t count) {
  if (unit.hardwareFailure != 0) return unit.hardwareFailure;
  if (count == 0) return 0;
  const uint64_t end = uint64_t{address} + count - 1;
  if (end > 0xFFFFFFFFull) return kResultBadAddress;
  const uint32_t last = static_cast<uint32_t>(end);
  // Banks are 512 KiB aligned, so checking every 4 KiB and the last byte
  // finds any part of the range outside flash.
  bool inside = true;
  for (uint64_t at = address; at <= last && inside; at += 0x1000) {
    inside = FlashMemory::InFlash(unit.mcuType, static_cast<uint32_t>(at));
  }
  if (!inside || !FlashMemory::InFlash(unit.mcuType, last)) return kResultBadAddress;
  // The first write into a sector this session erases the whole sector.
  ForEachSector(unit.mcuType, address, last, [&](const FlashRange& sector) {
    if (unit.flashSession.erasedSectors.insert(sector.first).second) {
      unit.flash.Erase(sector.first, sector.last);
      NoteWrite(unit, sector.first, sector.last);
    }
  });
  // Programming only clears bits: bytes written again without an erase
  // keep what both writes left (the same data rewritten stays as it was).
  std::vector<uint8_t> programmed = unit.flash.Read(address, count);
  for (size_t i = 0; i < count; ++i) programmed[i] &= data[i];
  unit.flash.Write(address, programmed);
  NoteWrite(unit, address, last);
  return 0;
}

bool HandleProgrammerRequest(SimUnit& unit, const std::vector<uint8_t>& payload,
                             SimReplies& replies) {
  if (payload.size() < kRequestHead || payload[1] != 0x45 || payload[2] != 0x10) return false;
  switch (payload[3]) {
    case 0x31: {  // GetProgrammerVersion: the programmer's own version, from the scenario
      if (payload.size() != kRequestHead) return false;
      std::vector<uint8_t> out = EchoHead(payload, kRequestHead);
      out.push_back(unit.programmerVersionMajor);
      out.push_back(unit.programmerVersionMinor);
      replies.push_back(ProgrammerReply(std::move(out)));
      return true;
    }
    case 0x3B:  // ConfigureProgrammer
      if (payload.size() != 5) return false;
      unit.programmerConfig = payload[4];
      replies.push_back(ProgrammerReply(EchoHead(payload, kRequestHead)));
      return true;
    case 0x33:  // ResetProgrammer: a fresh session at 115200, after this reply
      if (payload.size() != kRequestHead) return false;
      replies.push_back(ProgrammerReply(EchoHead(payload, kRequestHead)));
      unit.flashSession.Clear();
      unit.scratch.clear();
      unit.nextBaudRate = kProgrammerBaud;
      unit.nextEvenParity = false;
      return true;
    case 0x1F:
    case 0x91:
      return HandleGetBufferSize(unit, payload, replies);
    case 0x23:
    case 0x90:
      return HandleSetSpeed(unit, payload, false, replies);
    case 0x35:
      return HandleEraseRange(unit, payload, replies);
    case 0x36:
      return HandleEraseFms(unit, payload, replies);
    case 0x38:
      return HandleBufferedChunk(unit, payload, replies);
    case 0x3A:
      return HandleProgramFromBuffer(unit, payload, replies);
    case 0x40:
      return HandleProgram(unit, payload, false, replies);
    case 0x42:
      return HandleProgram(unit, payload, true, replies);
    case 0x41:
      return HandleWindowedProgram(unit, payload, replies);
    case 0x50:
      return HandleWrite128(unit, payload, replies);
    case 0x51:
      return HandleRead128(unit, payload, replies);
    case 0x32:
      return HandleReset(unit, payload, replies);
    default:
      return false;
  }
}

}  // namespace kel::sim
