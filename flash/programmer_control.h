#pragma once

#include <cstdint>

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// Starts the downloaded programmer at `start` ("RPC: Transfer to RAM
/// program at $..."): up to 12 attempts, the link set before each to the
/// speed it started at, 115200 and 9600 in turn (100 ms timeout). After the
/// echo it waits 100 ms for the programmer to come up. A link change that
/// fails ends the run ("Unable to change baudrate"). False after "FAILED".
bool TransferToRamProgram(Link& link, uint32_t start);

/// Restarts the running programmer for the next image ("RPC:
/// ResetProgrammer"): up to 12 attempts cycling the link as
/// TransferToRamProgram does; after the echo the link goes to 115200, the
/// programmer to the programming speed (the run ends with "Unable to
/// change baud rate" when that fails) and, through a proxy, it is
/// configured again (else "Unable to connect to programmer"). False after
/// "FAILED".
bool ResetProgrammer(Link& link, UnitInfo& unit);

}  // namespace kel
