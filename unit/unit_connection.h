#pragma once

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// The fatal message of a run that finds no unit to talk to.
inline constexpr char kCannotConnect[] = "Unable to connect to Ponderix unit";

/// The address of a KJ3 test jig's own control display.
inline constexpr uint8_t kJigDisplayAddress = 60;

/// Reads the identity of the unit that CheckUnitId found, through its
/// software or its boot loader; when nothing answers, asks the operator to
/// power-cycle the unit and waits for its boot loader. False when no port
/// is open or the unit never answered. A boot loader that does not give its
/// unit information ends the run ("Unable to read the unit information from
/// the boot loader"). Leaves the link at the unit's saved connection with
/// the 1000 ms reply timeout.
bool ConnectToUnit(Link& link, UnitInfo& unit);

/// Finds the unit again after it was restarted: the directly connected unit
/// by pinging its address for 5 s and then by probing the port for up to
/// 60 s; a unit behind it by listing the network (10 s fast, then up to
/// 60 s slow) until a unit of the same MCU and unit type answers. Two such
/// units in one slow round end the run. A unit behind the connected one is
/// looked for at the link's present speed (the connected unit may run at
/// the programming speed), the directly connected one at its saved
/// connection. True when found; the record then holds the unit's fresh
/// identity.
bool ReconnectUnit(Link& link, UnitInfo& unit);

/// Waits up to 1000 ms for the unit to raise CTS. True (and a line saying
/// so) when it did; overlapped programming then needs no other check.
bool TestCts(Link& link);

}  // namespace kel
