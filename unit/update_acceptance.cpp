#include "unit/update_acceptance.h"

namespace kel {

namespace {

constexpr int kFirstUpdateFileSoftware = 600;
constexpr int kFirstUpdateFileBootRelease = 14;

}  // namespace

bool AcceptsUpdateFiles(Output& out, const UnitInfo& unit) {
  out.Print(Sink::kDebug, "Checking if unit will accept update files\r\n");
  if (unit.connectionMode != modeApplication || unit.softwareVersion < kFirstUpdateFileSoftware) {
    out.Print(Sink::kDebug, "-- Ponderix software does not support update files\r\n");
    return false;
  }
  if (unit.bootLoaderRelease < kFirstUpdateFileBootRelease) {
    out.Print(Sink::kDebug,
              "-- Boot loader does not support update files (needs boot loader release 14 or "
              "later)\r\n");
    return false;
  }
  if (unit.mcuType < mcuLPC2478 || unit.mcuType > mcuLPC4357) {
    out.Print(Sink::kDebug, "-- MCU does not support software update files\r\n");
    return false;
  }
  if ((unit.unitFlags & 0x01) == 0) {
    out.Print(Sink::kDebug, "-- Unit reports that it will not accept update files\r\n");
    return false;
  }
  out.Print(Sink::kDebug, "COMPLETE: unit will accept update files\r\n");
  return true;
}

void PrintBootFlags(Output& out, uint8_t bootFlags) {
  if (bootFlags == 0) return;
  if (bootFlags & 0x01) out.Print(Sink::kDebug, "- No ponderix software present\r\n");
  // Bit 1 reports the checksum as enabled, so it is its absence that is worth a line.
  if ((bootFlags & 0x02) == 0) out.Print(Sink::kDebug, "- Flash checksum is disabled\r\n");
  if (bootFlags & 0x04) out.Print(Sink::kDebug, "- Flash checksum has failed\r\n");
  if (bootFlags & 0x08) out.Print(Sink::kDebug, "- RAM test has failed\r\n");
  if (bootFlags & 0x40) out.Print(Sink::kDebug, "- JTAG interface is unlocked\r\n");
  out.Print(Sink::kDebug, (bootFlags & 0x80) ? "- pre-production boot loader\r\n"
                                             : "- production boot loader\r\n");
}

}  // namespace kel
