#pragma once

#include "runtime/runtime.h"
#include "unit/unit_info.h"

namespace kel {

/// Asks the operator for the unit type while the record has none the
/// program knows (1 Display, 2 Transmitter, 3 DisplayKZ6 stored as an I/O
/// unit's code) and stores the answer. -y does not answer it: a wrong guess
/// would write the wrong software. Input that has ended ends the run
/// instead of asking forever.
void AskUnitType(Runtime& rt, UnitInfo& unit);

}  // namespace kel
