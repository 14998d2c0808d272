#pragma once

#include "runtime/output.h"
#include "unit/unit_info.h"

namespace kel {

/// True when the unit can take update files: application software 6.00 or
/// later, boot-loader release 14 or later, an LPC microcontroller, and the
/// unit's own flag bit 0. Each refusal and the acceptance are traced on
/// DebugSink.
bool AcceptsUpdateFiles(Output& out, const UnitInfo& unit);

/// Prints one line per set boot flag (no software, checksum disabled or
/// failed, RAM test failed, JTAG unlocked, pre-production or production
/// boot loader) on DebugSink; nothing when `bootFlags` is 0.
void PrintBootFlags(Output& out, uint8_t bootFlags);

}  // namespace kel
