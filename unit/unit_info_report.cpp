#include "unit/unit_info_report.h"

#include <string>

#include "runtime/text_format.h"
#include "unit/card_table.h"
#include "unit/version_text.h"

namespace kel {

namespace {

constexpr const char kFlagIndent[] = "                     ";

// Suffix letter 1 is "A", 2 is "B" and so on; 0 means none. A byte beyond
// "Z" from a confused unit is shown as "?" rather than as punctuation.
char SuffixLetter(uint8_t letter) {
  if (letter == 0) return '-';
  if (letter > 26) return '?';
  return static_cast<char>('A' + letter - 1);
}

}  // namespace

void PrintUnitInfo(Output& out, const UnitInfo& unit, bool shortReport) {
  const bool h8s2145 = unit.mcuType == mcuH8S2145;
  const bool application = unit.connectionMode == modeApplication || unit.identityNoted;

  out.Print(Sink::kQuiet, "   Unit Type       : ", CardName(unit.cardNumber), "\r\n");
  if (h8s2145) {
    out.Print(Sink::kQuiet, "   Card            : ", unit.cardNumber, "\r\n");
    out.Print(Sink::kQuiet, "   Circuit code    : ", unit.circuitCode, "\r\n");
  } else {
    out.Print(Sink::kQuiet, "   Card            : c", unit.cardNumber, "r", unit.circuitCode);
    if (application) {
      out.Print(Sink::kQuiet, SuffixLetter(unit.cardSuffixLetter), unit.cardSuffixNumber);
    }
    out.Print(Sink::kQuiet, "\r\n");
  }
  if (shortReport) {
    out.Print(Sink::kQuiet, "   MCU Type        : ", McuTypeName(unit.mcuType), "\r\n");
    return;
  }

  // The H8S2145 software has no release number of its own.
  out.Print(Sink::kQuiet, "   Software        : v",
            h8s2145 ? FormatVersionNumber(unit.softwareVersion)
                    : FormatVersion(unit.softwareVersion, unit.softwareRelease),
            "\r\n");
  if (application) {
    out.Print(Sink::kQuiet, "   Serial No       : ", unit.serialNumber, "\r\n");
    const uint8_t* t = unit.buildTime;
    out.Print(Sink::kQuiet, "   Build time      : 20", ZeroPadded(t[0], 2), "-",
              ZeroPadded(t[1], 2), "-", ZeroPadded(t[2], 2), " ", ZeroPadded(t[3], 2), ":",
              ZeroPadded(t[4], 2), ":", ZeroPadded(t[5], 2), "\r\n");
    out.Print(Sink::kQuiet, "   Build increment : ", unit.buildIncrement, "\r\n");
    if (!unit.informationText.empty()) {
      out.Print(Sink::kQuiet, "   Information     : ", unit.informationText, "\r\n");
    }
    if (unit.modbusAddress != 0) {
      out.Print(Sink::kQuiet, "   Modbus Address  : ", unit.modbusAddress, "\r\n");
    }
  }

  const bool bootReleaseKnown = unit.bootLoaderRelease >= 4;
  // Old units with the factory serial number 1 report nothing useful about
  // their boot loader.
  if (!(unit.serialNumber == 1 && unit.softwareVersion < 600)) {
    out.Print(Sink::kQuiet, "   Boot loader     : v");
    if (!h8s2145) out.Print(Sink::kQuiet, unit.bootLoaderVersion);
    if (bootReleaseKnown) out.Print(Sink::kQuiet, " r", unit.bootLoaderRelease);
    out.Print(Sink::kQuiet, "\r\n");
    out.Print(Sink::kQuiet, "   MCU Type        : ", McuTypeName(unit.mcuType), "\r\n");
  }

  if (!bootReleaseKnown) return;
  out.Print(Sink::kDebug, "   Checksum        : ", Hex(unit.softwareChecksum, 8), " ",
            Hex(unit.softwareCrc, 4), "\r\n");
  const bool preProductionBoot = (unit.bootFlags & 0x80) != 0;
  const bool cardTester = (unit.unitFlags & 0x80) != 0;
  if (preProductionBoot || cardTester) {
    out.Print(Sink::kQuiet, kFlagIndent, "Test software present (pre-production board)\r\n");
    if (preProductionBoot) out.Print(Sink::kQuiet, kFlagIndent, "- pre-production boot loader\r\n");
    if (cardTester) out.Print(Sink::kQuiet, kFlagIndent, "- card tester software\r\n");
  } else if ((unit.bootFlags & 0x40) != 0 || (unit.unitFlags & 0x40) != 0) {
    out.Print(Sink::kQuiet, kFlagIndent, "WARNING: JTAG interface is active!\r\n", '\a');
  }
}

}  // namespace kel
