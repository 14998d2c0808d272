#pragma once

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// Restarts the unit into its software. Application software is asked at
/// its own address (8 attempts; afterwards the directly connected unit's
/// mode becomes unknown whatever the outcome); a boot loader or flash
/// programmer at the boot-loader address (4 attempts; mode unknown after
/// success). Any other mode prints "Unknown unit mode" and sends nothing.
bool Reset(Link& link, UnitInfo& unit);

/// Restarts the connected unit and every unit behind it (8 attempts). Only
/// for application software: otherwise the run ends ("Unable to restart
/// system"). The record's mode is unknown afterwards whatever the outcome.
bool ResetSystem(Link& link, UnitInfo& unit);

/// Polls application software 6.00 or later until it reports ready, every
/// 200 ms for up to 10 s, with a dot per unanswered poll. Units that do not
/// know the poll count as ready at once.
bool WaitForUnit(Link& link, const UnitInfo& unit);

}  // namespace kel
