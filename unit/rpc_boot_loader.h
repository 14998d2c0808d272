#pragma once

#include <cstdint>

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// The calls answered by a unit's boot loader and by the downloaded flash
/// programmer, all at the boot-loader address except GotoBootLoader. The
/// link changes around the programmer calls belong to the programmer
/// download; here are the exchanges themselves.
namespace rpc {

/// Restarts the unit at `unitId` into its boot loader (8 attempts).
bool GotoBootLoader(Link& link);

/// One Transfer to RAM program exchange: starts the downloaded program at
/// `startAddress`. Valid on the bare 4-byte echo.
bool TransferToRamProgramOnce(Link& link, uint32_t startAddress);

/// One set-programmer-speed exchange with a speed code; `oldCodes` selects
/// the command of boot loaders before release 11.
bool SetProgrammerSpeedOnce(Link& link, bool oldCodes, uint8_t speedCode);

/// One ResetProgrammer exchange.
bool ResetProgrammerOnce(Link& link);

/// "RPC: GetProgrammerVersion", up to 8 attempts; the two bytes are stored
/// as the programmer version (major, minor) whenever a reply is read.
bool GetProgrammerVersion(Link& link, UnitInfo& unit);

/// "RPC: ConfigureProgrammer", up to 8 attempts with the value byte.
bool ConfigureProgrammer(Link& link, uint8_t value);

}  // namespace rpc

}  // namespace kel
