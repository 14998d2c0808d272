#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_reply.h"

namespace kel::sim {

struct SimUnit;

/// The unit's boot loader at address 1: ReadUnitInfo (0x1010; the version
/// is 0 when there is no application), ReadBootLoaderVersion (0x1012),
/// ReadBootLoaderRelease (0x1013), GetBufferSize (0x101F, or 0x1091 below
/// release 11), write memory into RAM (0x1020, 0x1024), examine memory
/// (0x1021), buffered chunks and commit (0x1038, 0x1039), set programmer speed
/// (0x1023, or 0x1090 below release 11; the speed codes of releases below 15
/// include 128000), Transfer to RAM program (0x1022; a programmer that lies
/// outside the MCU's RAM is not started) and Reset (0x1032).
/// Returns false for a request it does not serve or cannot parse (the unit
/// stays silent); otherwise appends its reply.
bool HandleBootLoaderRequest(SimUnit& unit, const std::vector<uint8_t>& payload,
                             SimReplies& replies);

/// The baud rate of a speed code (0 for an unknown code). The old table has
/// 128000 as code 6; the new one goes 115200, 230400, 460800, 921600.
int32_t SpeedOfCode(uint8_t code, bool oldTable);

// Requests the boot loader and the RAM programmer answer alike.

/// GetBufferSize with the command code that the unit's boot-loader release uses.
bool HandleGetBufferSize(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies);
/// Set speed: replies at the old speed, then moves the line without parity.
bool HandleSetSpeed(SimUnit& unit, const std::vector<uint8_t>& payload, bool oldTable,
                    SimReplies& replies);
/// Buffered chunk 0x1038 into the unit's transfer buffer (`SimUnit::scratch`).
bool HandleBufferedChunk(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies);
/// Reset 0x1032: restart into the application software.
bool HandleReset(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies);

/// True when `payload` is a 0x45 request with command 0x10 `command`.
bool IsCommand(const std::vector<uint8_t>& payload, uint8_t command);

}  // namespace kel::sim
