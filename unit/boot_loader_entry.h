#pragma once

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// Brings the unit into its boot loader: asks its software to jump there
/// (GotoBootLoader, up to 4 attempts at 9600 and 115200 baud), and when
/// that does not bring the boot loader up, asks the operator to power-cycle
/// the unit (WaitForBootLoader). A unit that went silent after taking
/// GotoBootLoader is listened for a few seconds more before that; one found
/// in its boot loader that still answers there is not restarted at all. On
/// success the record is in modePonderixBootLoader with the boot loader's
/// release, flags and buffer size read. False when the boot loader never
/// answered.
bool InitialiseForUpdate(Link& link, UnitInfo& unit);

/// Asks the operator to switch the unit off and on and listens for its boot
/// loader: 60 s at 9600 baud, then 30 s at 115200 baud. ESC ends the run
/// ("Aborted"). True when the boot loader answered; the record's address
/// and unitId are then 1.
bool WaitForBootLoader(Link& link, UnitInfo& unit);

}  // namespace kel
