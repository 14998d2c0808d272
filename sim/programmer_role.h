#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/sim_reply.h"

namespace kel::sim {

struct SimUnit;

/// The flash programmer running from RAM after Transfer to RAM program, at the
/// boot-loader address: GetProgrammerVersion (0x1031), ConfigureProgrammer
/// (0x103B), ResetProgrammer (0x1033, back to 115200), GetBufferSize, set
/// speed (new speed codes), EraseRange (0x1035), EraseFMS (0x1036), program
/// flash (0x1040, 0x1042, windowed 0x1041 with tags and cumulative replies;
/// tag bit 15 marks the first piece of a record sent in several pieces),
/// buffered chunks 0x1038 with program-from-buffer 0x103A, read and write
/// 128 bytes (0x1051, 0x1050) and Reset. The file services are answered by
/// `HandleFileRequest`.
///
/// Programming follows the programmer's erase rule: the first write into a
/// sector that has not been erased in this session erases that whole sector.
/// With `SimUnit::hardwareFailure` set every flash write answers that result
/// and writes nothing.
bool HandleProgrammerRequest(SimUnit& unit, const std::vector<uint8_t>& payload,
                             SimReplies& replies);

/// Result answered for a write outside the MCU's flash.
constexpr uint8_t kResultBadAddress = 0x07;

/// Programs bytes into flash the way the programmer does (erase rule, address
/// check, failure setting) and returns the result code (0 = success).
uint8_t ProgramFlash(SimUnit& unit, uint32_t address, const uint8_t* data, size_t count);

/// Erases every sector of flash that overlaps `first`..`last`.
void EraseFlashRange(SimUnit& unit, uint32_t first, uint32_t last);

}  // namespace kel::sim
