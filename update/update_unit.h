#pragma once

#include "unit/unit_info.h"
#include "update/update_session.h"

namespace kel {

/// Brings one unit's boot loader, software and files up to date, directly
/// (boot loader, flash programmer, flash writes) or, with `updateFiles`,
/// as update files that the running unit applies at its next restart (a
/// unit on a USB virtual COM port always gets those). `updateBootLoader`
/// forces the boot loader to be written; `confirm` asks the operator first
/// (a no ends the program with exit code 1).
///
/// True when the run went through: the caller restarts the unit, which may
/// still be in its boot loader or programmer. False when the unit's newer
/// software must not be downgraded; nothing was written then. Every other
/// failure ends the run through FatalError.
bool UpdateUnit(UpdateSession& session, UnitInfo& unit, bool updateBootLoader, bool updateFiles,
                bool confirm);

}  // namespace kel
