#pragma once

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// The line that closes a run in which everything was done.
inline constexpr char kSuccessLine[] = "Success: all operations are complete\r\n";

/// After a direct update that went through: restarts the unit into its new
/// software, waits 1000 ms for the boot loader and the unit to start,
/// reconnects, and says all is done. What cannot be done ends the run.
void FinishDirectUpdate(Link& link, UnitInfo& unit);

/// The same ending after an update that was refused (nothing was written):
/// a unit left outside its application is restarted, then the success line.
void FinishRefusedUpdate(Link& link, UnitInfo& unit);

/// The restart of FinishDirectUpdate without its closing line. When the
/// run wrote the software, the reconnected unit's software checksum and
/// CRC must be the new software's, or the run ends (a unit whose boot
/// loader reports no checksum is taken as it is).
void RestartAndReconnect(Link& link, UnitInfo& unit);

/// Restarts the unit if it is not running its application; the run ends
/// ("Unable to restart unit") when it does not take the restart.
void RestartIfNotRunning(Link& link, UnitInfo& unit);

}  // namespace kel
