#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// The speeds that a unit's application software can be moved to.
constexpr std::array<int32_t, 8> kUnitSpeeds = {9600,   19200,  38400,  57600,
                                                115200, 230400, 460800, 921600};
/// The speed every unit can fall back to.
constexpr int32_t kFallbackSpeed = 115200;

/// Sets the link's speed, parity and reply timeout, and forgets any held
/// reply. A new speed reopens the port (or, with `direct`, is set on the
/// open port in place); while the proxy is on, only the proxy's own link to
/// the remote unit changes (set proxy speed). An unchanged speed only
/// stores the settings: parity alone takes effect at the next reopen.
/// False when the reopen or the proxy change failed.
bool ChangePacketBaudRate(Link& link, int32_t baudRate, bool evenParity, uint32_t timeoutMs,
                          bool direct = false);

/// Changes only the reply timeout (and forgets any held reply).
void SetReceiveTimeout(Link& link, uint32_t timeoutMs);

/// Remembers the link's current speed and parity as the unit's connection.
void SaveConnection(Link& link);
/// Returns the link to the saved connection with `timeoutMs`; the run ends
/// ("Unable to change baudrate") when that fails.
void RestoreConnection(Link& link, uint32_t timeoutMs);

/// Moves a unit's application software and the link to `baudRate` (0 means
/// 115200), within what the unit can do. A unit that accepts the speed but
/// cannot be reached there is moved back to 115200, which also returns
/// true; the link's speed shows where it ended.
bool SetUnitSpeed(Link& link, UnitInfo& unit, int32_t baudRate);

/// Puts the application of the unit at `address` back to `baudRate` and
/// `evenParity`, whether it still runs at the link's present speed or is
/// there already (it restarted, or took an earlier request whose reply was
/// lost), and leaves the link there. A few short rounds, never fatal, so
/// that it can also serve on the way out of a failed run; true when the
/// unit answered at `baudRate`.
bool ReturnUnitToSpeed(Link& link, uint8_t address, int32_t baudRate, bool evenParity);

/// ReturnUnitToSpeed, and when it fails a warning on the console naming the
/// speed the unit should be at, so that the operator can put it back. A
/// unit to be put back at even parity is restarted instead: the speed
/// request moves a unit without parity, and only its own settings, which
/// it starts with, give it even parity. A unit not found from the link's
/// speed is asked from each of `alsoFrom` too, the latest first: speeds it
/// was sent to without the run knowing that it went (a reply lost, a stop
/// while the run looked for it there).
bool PutUnitBackToSpeed(Link& link, uint8_t address, int32_t baudRate, bool evenParity,
                        const std::vector<int32_t>& alsoFrom = {});

/// The warning PutUnitBackToSpeed prints: "Warning: the connected unit could
/// not be put back to <baudRate> baud".
std::string NotPutBackText(int32_t baudRate);

/// The speed SetUnitSpeed would use for `baudRate` on `unit`, before the
/// check against kUnitSpeeds: 0 becomes 115200, an H8S2145 is held to
/// 115200 and software before 6.06r35 to 230400.
int32_t LimitUnitSpeed(const UnitInfo& unit, int32_t baudRate);

}  // namespace kel
