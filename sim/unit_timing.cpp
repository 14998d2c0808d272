#include "sim/unit_timing.h"

#include "sim/boot_loader_role.h"
#include "sim/flash_memory.h"
#include "sim/role_reply.h"
#include "sim/sim_unit.h"
#include "sim/wire_bytes.h"

namespace kel::sim {

namespace {

constexpr uint64_t kPageBytes = 256;
constexpr size_t kWindow = 8;
constexpr uint8_t kWindowedBootLoaderRelease = 18;

// Flash sectors that first..last touch on the unit's MCU.
uint64_t SectorsTouched(uint8_t mcuType, uint32_t first, uint32_t last) {
  uint64_t count = 0;
  for (uint64_t at = first; at <= last;) {
    const FlashRange sector = FlashMemory::SectorOf(mcuType, static_cast<uint32_t>(at));
    if (FlashMemory::InFlash(mcuType, static_cast<uint32_t>(at))) ++count;
    at = uint64_t{sector.last} + 1;
  }
  return count;
}

// Bytes of flash (or of the flash file system) a request writes.
size_t ProgrammedBytes(const SimUnit& unit, const std::vector<uint8_t>& p) {
  if (p.size() >= 3 && (p[1] == 0x47 || p[1] == 0x48)) {
    const size_t body = p[1] == 0x48 ? 4 : 3;
    return p.size() >= body + 8 && p[body - 1] == '2' ? p[body + 7] : 0;
  }
  if (unit.role != SimRole::kProgrammer) return 0;
  if (IsCommand(p, 0x40) && p.size() >= 9) return p[8];
  if (IsCommand(p, 0x42) && p.size() >= 10) return ReadBe16(p, 8);
  if (IsCommand(p, 0x41) && p.size() >= 11) return p[10];
  if (IsCommand(p, 0x3A) && p.size() >= 10) return ReadBe16(p, 8);
  if (IsCommand(p, 0x50)) return kMaxSmallWrite;
  return 0;
}

uint64_t ErasedSectors(const SimUnit& unit, const std::vector<uint8_t>& p) {
  if (unit.role != SimRole::kProgrammer) return 0;
  if (IsCommand(p, 0x35) && p.size() == 12) {
    const uint32_t first = ReadBe32(p, 4);
    const uint32_t last = ReadBe32(p, 8);
    return last < first ? 0 : SectorsTouched(unit.mcuType, first, last);
  }
  if (IsCommand(p, 0x36)) return kDriveEraseSectors;
  return 0;
}

}  // namespace

uint64_t ProcessingUs(const SimUnit& unit, const std::vector<uint8_t>& payload) {
  const UnitTiming& t = unit.timing;
  const uint64_t program =
      (uint64_t{ProgrammedBytes(unit, payload)} * t.programPageUs + kPageBytes - 1) / kPageBytes;
  return t.requestUs + program + ErasedSectors(unit, payload) * t.eraseSectorMs * 1000;
}

WindowKind WindowKindOf(const SimUnit& unit, const std::vector<uint8_t>& p) {
  if (p.size() >= 3 && (p[1] == 0x47 || p[1] == 0x48)) return WindowKind::kFileBlock;
  if (IsCommand(p, 0x38)) return WindowKind::kChunk;
  if (unit.role == SimRole::kBootLoader && IsCommand(p, 0x20)) return WindowKind::kMemoryWrite;
  if (unit.role == SimRole::kProgrammer && IsCommand(p, 0x41)) return WindowKind::kProgram;
  return WindowKind::kNone;
}

size_t WindowLimit(const SimUnit& unit, WindowKind kind) {
  if (kind == WindowKind::kMemoryWrite && unit.bootLoaderRelease < kWindowedBootLoaderRelease)
    return 1;
  return kWindow;
}

size_t ReceiveCapacity(const SimUnit& unit) { return TransferBufferSize(unit) + kReceiveOverhead; }

}  // namespace kel::sim
