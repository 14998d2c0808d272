#pragma once

#include <cstdint>
#include <string>

#include "unit/unit_info.h"

namespace kel {

/// One hardware card the program knows: its names and the unit type it
/// makes. The MCU type may depend on the circuit code (see CardMcuType).
struct CardEntry {
  uint16_t cardNumber;
  const char* shortName;
  const char* fullName;
  uint8_t unitType;
};

/// The table entry of `cardNumber`, or null for a card outside the table.
const CardEntry* FindCard(uint16_t cardNumber);

/// The MCU type that `cardNumber` with `circuitCode` carries. False when the
/// table does not say (unknown card, or a circuit code between two known
/// revisions); `mcuType` is then left as it was.
bool CardMcuType(uint16_t cardNumber, uint16_t circuitCode, int8_t& mcuType);

/// Sets the record's MCU type and unit type from its card number and circuit
/// code. False for a card outside the table (the record is left unchanged).
bool ApplyCardTable(UnitInfo& unit);

/// The card's full name, or "Unsupported Card Number" for an unknown card.
std::string CardName(uint16_t cardNumber);
/// The card's short name, or "Card" followed by the number.
std::string CardShortName(uint16_t cardNumber);
/// The MCU's name ("LPC1768", ...), empty for an unknown code.
std::string McuTypeName(int mcuType);
/// The bytes of flash the MCU carries (512 KiB, or 1 MiB for the
/// LPC4337 and LPC4357); 0 when not known.
uint32_t McuFlashBytes(int mcuType);

}  // namespace kel
