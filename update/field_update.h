#pragma once

#include "update/update_session.h"

namespace kel {

/// The update a plain run performs. A KD3 display with an LPC2478 and old
/// software or boot loader is first updated directly and restarted. Then,
/// when the connected unit runs network software and lists the units
/// behind it (and `firstUnitOnly` is clear), every unit of the table gets
/// update files after the operator agreed, and the system is restarted or
/// left to apply them at its next restart; otherwise the connected unit is
/// updated directly. `confirm` asks before a direct update. Ends with the
/// closing line; a no ends the program with exit code 1, and every failure
/// ends the run through FatalError.
void FieldUpdateUnit(UpdateSession& session, UnitInfo& unit, bool confirm, bool firstUnitOnly);

/// A KD3 display with an LPC2478 whose software or boot loader is too old
/// to serve the network update: it is updated directly first, boot loader
/// included.
bool NeedsImmediateUpdate(const UnitInfo& unit);

}  // namespace kel
