#pragma once

#include <cstdint>
#include <span>

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// The speeds a boot loader or flash programmer can be moved to, in the
/// order of their speed codes (code 1 is the first). Boot loaders before
/// release 15 use the old table, which has 128000 as code 6.
std::span<const int32_t> ProgrammerSpeeds(bool oldCodes);

/// Moves the boot loader or flash programmer, and the link, to `baud` (0:
/// 115200; a rate outside the table is reported with the list of rates and
/// 115200 is used). Already there: only the reply timeout becomes 1000 ms.
/// Otherwise up to 16 attempts of the speed request (0x1090 before
/// boot-loader release 11, else 0x1023), the link set before each to the
/// speed it started at, the new one, 115200 and 9600 in turn (50 ms
/// timeout), as the unit may already have moved. On success the link is at
/// the new speed without parity with a 1000 ms timeout. A link change that
/// fails ends the run ("Unable to change baudrate"). False after "FAILED".
bool SetProgrammerSpeed(Link& link, const UnitInfo& unit, int32_t baud, bool oldCodes);

}  // namespace kel
