#pragma once

#include <cstdint>

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// Probes the open port for something that answers and records how: a boot
/// loader at address 1 (-u rounds first when an ID was given), a blank LPC
/// chip's ROM loader, the application at F0 at the given speed, a boot
/// loader at 9600 or 115200 baud, and finally the 10-round search at address
/// F0 over five speeds (ESC ends the run with "Aborted"), and last a flash
/// programmer an earlier run left running (modeFlashProgrammer; with the
/// identity of the unit its note names, FindProgrammerLeftRunning). On success the
/// record's connectionMode and unit address are set, unitId follows the
/// unit, and the link is left at the speed that answered.
bool CheckUnitId(Link& link, UnitInfo& unit);

/// One ReadBootLoaderVersion exchange at the boot-loader address, without
/// any trace; stores the version byte on success. The probing loops use it
/// so that hundreds of silent tries do not fill the log.
bool ProbeBootLoaderVersion(Link& link, UnitInfo& unit);

/// Sets the link to `baudRate` without parity and with `timeoutMs`; the run
/// ends with "Unable to change baudrate" when the link cannot be set.
void SetProbeLink(Link& link, int32_t baudRate, uint32_t timeoutMs, bool direct = false);

/// The speeds of the 10-round search, in the order they are tried.
inline constexpr int32_t kSearchSpeeds[5] = {19200, 9600, 115200, 57600, 38400};
/// The address every unit's application answers besides its own.
inline constexpr uint8_t kBroadcastUnitId = 0xF0;
/// The ESC key: aborts a search or a wait.
inline constexpr int kEscapeKey = 27;

/// Reads a pending key, if any; ESC ends the run through FatalError "Aborted".
void CheckForEscape(Link& link);

}  // namespace kel
