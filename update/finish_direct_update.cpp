#include "update/finish_direct_update.h"

#include "flash/image_selection.h"
#include "runtime/runtime.h"
#include "unit/rpc_reset.h"
#include "unit/unit_connection.h"
#include "update/update_rules.h"

namespace kel {

namespace {

// Long enough for the boot loader to hand over to the new software.
constexpr uint32_t kStartupPauseMs = 1000;

constexpr char kSoftwareMismatch[] =
    "Unable to update unit: the software in the unit does not match the new software after the "
    "update";

// A write that went through is no proof of what the flash holds: a frame
// damaged on the line can now and then pass its CRC. The restarted unit's
// own checksum and CRC of its software must be the new software's. The
// kind of unit is taken from the record the software was chosen for.
void CheckWrittenSoftware(Runtime& rt, const UnitInfo& written, const UnitInfo& now) {
  if (now.bootLoaderRelease < kFirstChecksumBootLoaderRelease) return;  // reports none
  UnitInfo reported = written;
  reported.softwareChecksum = now.softwareChecksum;
  reported.softwareCrc = now.softwareCrc;
  if (CompareSoftwareChecksum(rt, reported)) rt.FatalError(kSoftwareMismatch);
}

}  // namespace

void RestartAndReconnect(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  rt.out.Print(Sink::kInfo, "restarting unit...\r\n");
  if (!Reset(link, unit)) rt.FatalError("Unable to restart unit");
  rt.out.Print(Sink::kDebug, "Pausing to bypass boot loader and unit startup\r\n");
  rt.clock.Sleep(kStartupPauseMs);
  const UnitInfo written = unit;
  if (written.softwareWritten) {
    // Values from before the update must not stand in for a reading that
    // fails after it.
    unit.softwareChecksum = 0;
    unit.softwareCrc = 0;
  }
  if (!ReconnectUnit(link, unit)) rt.FatalError("Unable to reconnect to unit");
  if (written.softwareWritten) CheckWrittenSoftware(rt, written, unit);
}

void RestartIfNotRunning(Link& link, UnitInfo& unit) {
  if (unit.connectionMode == modeApplication) return;
  if (!Reset(link, unit)) link.runtime.FatalError("Unable to restart unit");
}

void FinishDirectUpdate(Link& link, UnitInfo& unit) {
  RestartAndReconnect(link, unit);
  link.runtime.PrintLastLine(kSuccessLine);
}

void FinishRefusedUpdate(Link& link, UnitInfo& unit) {
  RestartIfNotRunning(link, unit);
  link.runtime.PrintLastLine(kSuccessLine);
}

}  // namespace kel
