#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_state.h"

namespace kel {

struct TransferState;

/// Programs one block of the MCU's flash through the running programmer,
/// in the transport in use, checked in this order:
/// - overlapped: one windowed write (0x1041, at most 128 bytes) into the
///   program window, acknowledged later; `firstPiece` sets bit 15 of its tag;
/// - buffered, through a proxy: chunks into the unit's transfer buffer, then
///   program from the buffer (0x103A), up to 8 attempts;
/// - direct: 0x1040 for up to 128 bytes, 0x1042 above, up to 8 attempts,
///   each invalid reply reported ("BAD REPLY FOR", "!").
/// A non-zero result from the unit prints the hardware-failure line and
/// ends with false at once, without a retry. False also after "FAILED".
bool ProgramBlock(Link& link, TransferState& transfer, uint32_t address, const uint8_t* data,
                  size_t length, bool firstPiece);

}  // namespace kel
