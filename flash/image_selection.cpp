#include "flash/image_selection.h"

#include <string>

#include "flash/image_catalogue.h"
#include "runtime/text_format.h"

namespace kel {
namespace {

constexpr const char* kTesterLine = "-- needs flash programmer for TESTER\r\n";
constexpr const char* kLargePacketLine = "-- using large packet flash programmer\r\n";
constexpr const char* kUnknownLpc4357Type = "Unknown unit type (MCU LPC4357)";
constexpr const char* kUnknownLpc4337Type = "Unknown unit type (MCU LPC4337)";

// The "Unsupported unit L" messages carry a fixed site number each, which
// the service desk uses to tell the refusals apart.
[[noreturn]] void Unsupported(Runtime& rt, int site) {
  rt.FatalError("Unsupported unit L" + std::to_string(site));
}

constexpr uint8_t kBit7 = 0x80;
constexpr uint32_t kNormalBufferSize = 128;

// Boards with test (pre-production or card-tester) software need a
// programmer built for them; the catalogue has none.
bool NeedsTesterProgrammer(const UnitInfo& unit, bool updateFilesFlag) {
  return (unit.bootFlags & kBit7) != 0 || ((unit.unitFlags & kBit7) != 0 && updateFilesFlag);
}

void SelectH8Programmer(Runtime& rt, UnitInfo& unit) {
  const ProgrammerEntry* entry =
      FindProgrammer(unit.mcuType, unit.unitType, unit.bootLoaderVersion, false);
  if (entry == nullptr) rt.FatalError(kUnsupportedBootLoaderMessage);
  unit.flashProgrammer = CatalogueImage(entry->image);
  rt.out.Print(Sink::kDebug, entry->message, "\r\n");
  if (unit.unitType == unitTypeTransmitter) {
    if (const StringsProgrammerEntry* strings = FindStringsProgrammer(unit.bootLoaderVersion)) {
      unit.stringsProgrammer = CatalogueImage(strings->image);
      rt.out.Print(Sink::kDebug, strings->message, "\r\n");
    }
  }
}

void SelectLpcProgrammer(Runtime& rt, UnitInfo& unit, bool updateFilesFlag) {
  const int8_t version = unit.bootLoaderVersion;
  if (version != 3 && version != 4) rt.FatalError(kUnsupportedBootLoaderMessage);
  if (NeedsTesterProgrammer(unit, updateFilesFlag)) {
    rt.out.Print(Sink::kDebug, kTesterLine);
    return;
  }
  const bool large = unit.bufferSize > kNormalBufferSize;
  const ProgrammerEntry* entry = FindProgrammer(unit.mcuType, unit.unitType, version, large);
  if (entry == nullptr) {
    switch (unit.mcuType) {
      case mcuLPC1768:
        if (version == 3) Unsupported(rt, large ? 1032 : 1045);
        Unsupported(rt, large ? 1091 : 1104);
      case mcuLPC4357:
        rt.FatalError(kUnknownLpc4357Type);
      case mcuLPC4337:
        rt.FatalError(kUnknownLpc4337Type);
      default:
        // LPC2478 and LPC4078 entries match every unit type.
        rt.FatalError(kNoProgrammerMessage);
    }
  }
  unit.flashProgrammer = CatalogueImage(entry->image);
  rt.out.Print(Sink::kDebug, entry->message, "\r\n");
  if (large && unit.mcuType == mcuLPC1768) rt.out.Print(Sink::kDebug, kLargePacketLine);
}

}  // namespace

bool FindFlashProgrammer(Runtime& rt, UnitInfo& unit, bool updateFilesFlag) {
  switch (unit.mcuType) {
    case mcuH8S2145:
      SelectH8Programmer(rt, unit);
      break;
    case mcuLPC2478:
    case mcuLPC4078:
    case mcuLPC1768:
    case mcuLPC4337:
    case mcuLPC4357:
      SelectLpcProgrammer(rt, unit, updateFilesFlag);
      break;
    default:
      break;  // H8S2148 and unknown MCUs: nothing to select
  }
  return unit.flashProgrammer != nullptr;
}

bool SelectFlashProgrammer(Runtime& rt, UnitInfo& unit, bool updateFilesFlag) {
  if (!FindFlashProgrammer(rt, unit, updateFilesFlag)) rt.FatalError(kNoProgrammerMessage);
  return true;
}

bool SelectBootLoaderImage(Runtime& rt, UnitInfo& unit) {
  if (unit.mcuType < mcuH8S2145 || unit.mcuType > mcuLPC4357) return false;
  const bool testSoftware = (unit.bootFlags & kBit7) != 0 || (unit.unitFlags & kBit7) != 0;
  if (unit.mcuType == mcuH8S2145) {
    // H8 units are never flashed by this program and have no backup region.
    unit.flashBlockSize = 128;
    unit.bootLoaderImage = nullptr;
    unit.backupEnabled = false;
    return true;
  }
  const BootLoaderEntry* entry = FindBootLoader(unit.mcuType, unit.unitType);
  if (entry == nullptr) {
    switch (unit.mcuType) {
      case mcuLPC1768:
        Unsupported(rt, 1551);
      case mcuLPC4337:
        Unsupported(rt, 1563);
      default:
        Unsupported(rt, 1574);  // LPC4357 that is not a display
    }
  }
  unit.flashBlockSize = entry->flashBlockSize;
  unit.bootLoaderImage = CatalogueImage(entry->image);
  unit.backupEnabled = !testSoftware;
  return true;
}

void SelectSoftwareImage(UnitInfo& unit) {
  const SoftwareEntry* entry = FindSoftware(unit.unitType, unit.mcuType);
  unit.softwareImage = entry != nullptr ? CatalogueImage(entry->image) : nullptr;
}

bool CompareSoftwareChecksum(Runtime& rt, const UnitInfo& unit) {
  const SoftwareEntry* entry = FindSoftware(unit.unitType, unit.mcuType);
  if (entry == nullptr) {
    switch (unit.unitType) {
      case unitTypeDisplay:
        Unsupported(rt, 120);
      case unitTypeTransmitter:
        Unsupported(rt, 138);
      case unitTypeIOUnit:
        Unsupported(rt, 147);
      default:
        Unsupported(rt, 153);
    }
  }
  rt.out.Print(Sink::kDebug, "New software checksum=", Hex(entry->checksum, 8),
               " CRC=", Hex(entry->crc, 4), "\r\n");
  rt.out.Print(Sink::kDebug, "Current software checksum=", Hex(unit.softwareChecksum, 8),
               " CRC=", Hex(unit.softwareCrc, 4), "\r\n");
  const bool different = unit.softwareChecksum != entry->checksum || unit.softwareCrc != entry->crc;
  rt.out.Print(Sink::kDebug, different ? "Current software is different than the new software\r\n"
                                       : "Current software is the same as the new software\r\n");
  return different;
}

}  // namespace kel
