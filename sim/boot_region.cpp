#include "sim/boot_region.h"

#include "sim/file_checksums.h"
#include "sim/role_reply.h"
#include "sim/sim_unit.h"

namespace kel::sim {

namespace {

constexpr uint8_t kMagic[4] = {'P', 'X', 'B', 'L'};
constexpr uint8_t kPreProductionFlag = 0x80;

// Only the LPC parts have the boot region and the backup fields inside it.
bool HasBootRegion(uint8_t mcuType, FlashRange& backup) {
  return FlashMemory::BackupRegion(mcuType, backup);
}

uint32_t Be32(const std::vector<uint8_t>& bytes, size_t at) {
  return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
         (uint32_t{bytes[at + 2]} << 8) | uint32_t{bytes[at + 3]};
}

}  // namespace

uint32_t BootRegionCheck(const FlashMemory& flash, uint8_t mcuType) {
  FlashRange backup;
  if (!HasBootRegion(mcuType, backup)) return 0;
  const uint32_t base = FlashMemory::FlashBase(mcuType);
  const std::vector<uint8_t> below = flash.Read(base, backup.first - base);
  const std::vector<uint8_t> above =
      flash.Read(backup.last + 1, base + kBootCheckOffset - (backup.last + 1));
  return Crc32(above.data(), above.size(), Crc32(below.data(), below.size()));
}

BootRegionReading ReadBootRegion(const SimUnit& unit) {
  BootRegionReading reading;
  FlashRange backup;
  if (!unit.bootRegionTouched || !HasBootRegion(unit.mcuType, backup)) return reading;
  reading.state = BootRegionState::kBroken;
  const uint32_t base = FlashMemory::FlashBase(unit.mcuType);
  const std::vector<uint8_t> trailer = unit.flash.Read(base + kBootTrailerOffset, 16);
  for (size_t i = 0; i < sizeof kMagic; ++i) {
    if (trailer[i] != kMagic[i]) return reading;
  }
  if (Be32(trailer, kBootCheckOffset - kBootTrailerOffset) !=
      BootRegionCheck(unit.flash, unit.mcuType)) {
    return reading;
  }
  reading.state = BootRegionState::kWhole;
  reading.version = trailer[4];
  reading.release = trailer[5];
  return reading;
}

void NoteBootRegionWrite(SimUnit& unit, uint32_t first, uint32_t last) {
  FlashRange backup;
  if (!HasBootRegion(unit.mcuType, backup)) return;
  const uint32_t base = FlashMemory::FlashBase(unit.mcuType);
  const uint32_t end = base + kBootAreaSize - 1;
  if (last < base || first > end) return;
  if (first >= backup.first && last <= backup.last) return;  // the backup fields alone
  unit.bootRegionTouched = true;
}

bool TakeOnBootRegion(SimUnit& unit) {
  const BootRegionReading reading = ReadBootRegion(unit);
  switch (reading.state) {
    case BootRegionState::kScenario:
      return true;
    case BootRegionState::kWhole:
      unit.bootLoaderVersion = reading.version;
      unit.bootLoaderRelease = reading.release;
      // A boot loader the updater delivers is a production one.
      unit.bootFlags &= static_cast<uint8_t>(~kPreProductionFlag);
      return true;
    case BootRegionState::kBroken:
      return false;
  }
  return false;
}

}  // namespace kel::sim
