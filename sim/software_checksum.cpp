#include "sim/software_checksum.h"

#include <algorithm>

#include "sim/crc16.h"
#include "sim/file_checksums.h"
#include "sim/sim_unit.h"

namespace kel::sim {

namespace {

struct RegionRow {
  uint8_t unitType;
  uint8_t mcuType;
  FlashRange regions[2];
  int count;
};

// Each software image fills its regions from the first record of a flash bank
// to the end of the bank's last record; the two-bank parts have one region
// per bank.
constexpr RegionRow kRegions[] = {
    {1, 3, {{0x4000, 0x67CFF}, {}}, 1},                                   // KD3 LPC2478
    {1, 6, {{0x1A004000, 0x1A07F5FF}, {0x1B000000, 0x1B075BFF}}, 2},      // KD4 LPC4337
    {1, 7, {{0x1A004000, 0x1A07FFFF}, {0x1B000000, 0x1B05F7FF}}, 2},      // KD3 LPC4357
    {2, 5, {{0x4000, 0x756FF}, {}}, 1},                                   // KT3 LPC1768
    {2, 4, {{0x4000, 0x7D0FF}, {}}, 1},                                   // KT3 LPC4078
    {2, 6, {{0x1A004000, 0x1A07FFFF}, {0x1B000000, 0x1B02D405}}, 2},      // KT5 LPC4337
    {3, 5, {{0x4000, 0x30BFF}, {}}, 1},                                   // KR3 LPC1768
};

struct KnownSoftware {
  uint8_t unitType;
  uint8_t mcuType;
  uint32_t checksum;
  uint16_t crc;
};

// The software 6.10r57 for each unit, by its check values.
constexpr KnownSoftware kKnownSoftware[] = {
    {1, 3, 0x7193221F, 0x304A}, {1, 6, 0x1CD6C5F0, 0x26D1}, {1, 7, 0xDFF7C009, 0x3C08},
    {2, 5, 0xAA30E654, 0x5F8A}, {2, 4, 0xC1408AF7, 0xB2D1}, {2, 6, 0x20513140, 0xC139},
    {3, 5, 0x46199722, 0x687D},
};
constexpr int16_t kKnownVersion = 610;
constexpr uint8_t kKnownRelease = 57;

}  // namespace

bool IdentifySoftware(uint8_t unitType, uint8_t mcuType, const SoftwareCheck& check, int16_t& version,
                      uint8_t& release) {
  for (const KnownSoftware& known : kKnownSoftware) {
    if (known.unitType == unitType && known.mcuType == mcuType && known.checksum == check.checksum &&
        known.crc == check.crc) {
      version = kKnownVersion;
      release = kKnownRelease;
      return true;
    }
  }
  return false;
}

uint8_t UnitTypeOfCard(uint16_t cardNumber) {
  switch (cardNumber) {
    case 611:
    case 647:
    case 653:
      return 1;
    case 620:
    case 648:
    case 659:
      return 2;
    case 649:
      return 3;
    case 652:
      return 4;
    default:
      return 0;
  }
}

std::vector<FlashRange> SoftwareRegions(uint8_t unitType, uint8_t mcuType) {
  for (const RegionRow& row : kRegions) {
    if (row.unitType == unitType && row.mcuType == mcuType) {
      return std::vector<FlashRange>(row.regions, row.regions + row.count);
    }
  }
  return {};
}

SoftwareCheck ComputeSoftwareCheck(const FlashMemory& flash, const std::vector<FlashRange>& regions) {
  uint32_t crc32 = 0;
  uint16_t crc16 = 0xFFFF;
  constexpr uint32_t kStep = 0x10000;
  for (const FlashRange& region : regions) {
    // In slices, so that a 1 MiB region never needs one 1 MiB copy.
    for (uint64_t at = region.first; at <= region.last; at += kStep) {
      const size_t count = static_cast<size_t>(std::min<uint64_t>(kStep, uint64_t{region.last} - at + 1));
      const std::vector<uint8_t> bytes = flash.Read(static_cast<uint32_t>(at), count);
      crc32 = Crc32(bytes.data(), bytes.size(), crc32);
      crc16 = ModbusCrc16(bytes.data(), bytes.size(), crc16);
    }
  }
  return {crc32, crc16};
}

bool SoftwareInFlash(const SimUnit& unit) {
  for (const FlashRange& region : SoftwareRegions(UnitTypeOfCard(unit.cardNumber), unit.mcuType)) {
    if (unit.flash.HasData(region.first, region.last)) return true;
  }
  return false;
}

SoftwareCheck ReportedSoftwareCheck(const SimUnit& unit) {
  const uint8_t unitType = UnitTypeOfCard(unit.cardNumber);
  // A megabyte of flash takes tens of milliseconds to check, and the value is
  // asked for at every restart and boot-loader query: keep the last result
  // while the flash is unchanged.
  struct Cached {
    uint64_t stamp = 0;
    uint8_t unitType = 0;
    uint8_t mcuType = 0;
    bool programmed = false;
    SoftwareCheck check;
  };
  thread_local Cached cached;
  const uint64_t stamp = unit.flash.Stamp();
  if (stamp == 0 || cached.stamp != stamp || cached.unitType != unitType || cached.mcuType != unit.mcuType) {
    const std::vector<FlashRange> regions = SoftwareRegions(unitType, unit.mcuType);
    bool programmed = false;
    for (const FlashRange& region : regions) programmed = programmed || unit.flash.HasData(region.first, region.last);
    cached = Cached{stamp, unitType, unit.mcuType, programmed, programmed ? ComputeSoftwareCheck(unit.flash, regions) : SoftwareCheck{}};
  }
  if (!cached.programmed) return {unit.softwareChecksum, unit.softwareCrc};
  return cached.check;
}

}  // namespace kel::sim
