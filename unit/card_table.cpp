#include "unit/card_table.h"

#include <array>

namespace kel {

namespace {

constexpr std::array<CardEntry, 8> kCards = {{
    {611, "KV70", "KV70 Display", unitTypeDisplay},
    {620, "KT1357", "KT1357 Transmitter", unitTypeTransmitter},
    {647, "KD3", "KD3/KP3 Display", unitTypeDisplay},
    {648, "KT3", "KT3 Transmitter", unitTypeTransmitter},
    {649, "KR3", "KR3 Remote I/O Unit", unitTypeIOUnit},
    {652, "KJ3", "KJ3 Test Jig", unitTypeTestJig},
    {653, "KD4", "KD4/KP4 Display", unitTypeDisplay},
    {659, "KT5", "KT5 Transmitter", unitTypeTransmitter},
}};

constexpr std::array<const char*, 8> kMcuNames = {
    "", "H8S2148", "H8S2145", "LPC2478", "LPC4078", "LPC1768", "LPC4337", "LPC4357",
};

}  // namespace

const CardEntry* FindCard(uint16_t cardNumber) {
  for (const CardEntry& entry : kCards) {
    if (entry.cardNumber == cardNumber) return &entry;
  }
  return nullptr;
}

bool CardMcuType(uint16_t cardNumber, uint16_t circuitCode, int8_t& mcuType) {
  switch (cardNumber) {
    case 611:
    case 620:
      mcuType = mcuH8S2145;
      return true;
    case 647:
      // The KD3 moved from the LPC2478 to the LPC4357 at circuit 6; circuit 5
      // was never built, so the table says nothing for it.
      if (circuitCode <= 4) {
        mcuType = mcuLPC2478;
        return true;
      }
      if (circuitCode >= 6) {
        mcuType = mcuLPC4357;
        return true;
      }
      return false;
    case 648:
      mcuType = circuitCode <= 5 ? mcuLPC1768 : mcuLPC4078;
      return true;
    case 649:
      mcuType = mcuLPC1768;
      return true;
    case 652:
      mcuType = mcuLPC4357;
      return true;
    case 653:
    case 659:
      mcuType = mcuLPC4337;
      return true;
    default:
      return false;
  }
}

bool ApplyCardTable(UnitInfo& unit) {
  const CardEntry* entry = FindCard(unit.cardNumber);
  if (entry == nullptr) return false;
  CardMcuType(unit.cardNumber, unit.circuitCode, unit.mcuType);
  unit.unitType = entry->unitType;
  return true;
}

std::string CardName(uint16_t cardNumber) {
  const CardEntry* entry = FindCard(cardNumber);
  return entry != nullptr ? entry->fullName : "Unsupported Card Number";
}

std::string CardShortName(uint16_t cardNumber) {
  const CardEntry* entry = FindCard(cardNumber);
  return entry != nullptr ? std::string(entry->shortName) : "Card" + std::to_string(cardNumber);
}

std::string McuTypeName(int mcuType) {
  if (mcuType <= 0 || mcuType >= static_cast<int>(kMcuNames.size())) return {};
  return kMcuNames[static_cast<size_t>(mcuType)];
}

uint32_t McuFlashBytes(int mcuType) {
  constexpr uint32_t kKiB = 1024;
  switch (mcuType) {
    case mcuLPC2478:
    case mcuLPC4078:
    case mcuLPC1768:
      return 512 * kKiB;
    case mcuLPC4337:
    case mcuLPC4357:
      return 1024 * kKiB;  // two banks of 512 KiB
    default:
      return 0;
  }
}

}  // namespace kel
