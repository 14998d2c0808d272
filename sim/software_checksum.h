#pragma once

#include <cstdint>
#include <vector>

#include "sim/flash_memory.h"

namespace kel::sim {

struct SimUnit;

/// The software check values a unit reports: CRC-32 (zlib/IEEE) and the
/// Modbus CRC-16 register, both over the flash bytes of the unit's software
/// regions in ascending address order, erased bytes included.
struct SoftwareCheck {
  uint32_t checksum = 0;
  uint16_t crc = 0;
};

/// Unit type of a card number: 1 display, 2 transmitter, 3 remote I/O unit,
/// 4 test jig, 0 unknown.
uint8_t UnitTypeOfCard(uint16_t cardNumber);

/// The flash regions that hold the software of a unit type on an MCU type
/// (one per flash bank); empty when the combination has no software.
std::vector<FlashRange> SoftwareRegions(uint8_t unitType, uint8_t mcuType);

/// Check values over the given regions of a flash.
SoftwareCheck ComputeSoftwareCheck(const FlashMemory& flash, const std::vector<FlashRange>& regions);

/// The version and release of software the unit knows by its check values
/// (the software the update tool carries); false for unknown software.
bool IdentifySoftware(uint8_t unitType, uint8_t mcuType, const SoftwareCheck& check, int16_t& version,
                      uint8_t& release);

/// True when any byte of the unit's software regions is programmed. A unit
/// whose regions hold nothing has no application to start.
bool SoftwareInFlash(const SimUnit& unit);

/// What the unit reports: computed from its flash when any byte of its
/// software regions is programmed, otherwise the scenario's values (a unit
/// that starts with software installed but no flash contents).
SoftwareCheck ReportedSoftwareCheck(const SimUnit& unit);

}  // namespace kel::sim
