#include "unit/unit_summary.h"

#include "unit/card_table.h"
#include "unit/version_text.h"

namespace kel {

std::string SoftwareText(const UnitInfo& unit) {
  return "v" + (unit.mcuType == mcuH8S2145
                    ? FormatVersionNumber(unit.softwareVersion)
                    : FormatVersion(unit.softwareVersion, unit.softwareRelease));
}

std::string BootLoaderText(int version, int release) {
  std::string text = "v" + std::to_string(version);
  if (release >= 4) text += " r" + std::to_string(release);
  return text;
}

bool UnitIsKnown(const UnitInfo& unit) { return unit.cardNumber != 0 || unit.softwareVersion != 0; }

SummaryLine SummaryLineFor(const UnitInfo& unit, const std::string& outcome) {
  SummaryLine line;
  line.address = unit.unitAddress;
  if (UnitIsKnown(unit)) {
    line.unitType = CardName(unit.cardNumber);
    line.before = SoftwareText(unit);
  }
  line.outcome = outcome;
  return line;
}

}  // namespace kel
