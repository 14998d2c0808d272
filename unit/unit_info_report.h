#pragma once

#include "runtime/output.h"
#include "unit/unit_info.h"

namespace kel {

/// The unit information report (QuietSink; the checksum line on DebugSink):
/// unit type, card, MCU type and, unless `shortReport`, software, serial
/// number, build details, boot loader, checksum and warning lines.
void PrintUnitInfo(Output& out, const UnitInfo& unit, bool shortReport = false);

}  // namespace kel
