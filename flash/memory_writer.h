#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_state.h"

namespace kel {

struct TransferState;

/// Writes one block (at most 16,384 bytes) into the unit's RAM in the
/// transport in use, checked in this order:
/// - overlapped: one write-memory request (at most 128 bytes) into the
///   write window, acknowledged later (DrainWindow);
/// - buffered, through a proxy: chunks into the unit's transfer buffer, then
///   one commit (0x1039) of the whole block, up to 8 attempts;
/// - direct: 0x1020 for up to 128 bytes, 0x1024 above, up to 8 attempts,
///   each invalid echo reported ("BAD REPLY FOR", "!").
/// False, after "FAILED", when the block could not be written.
bool WriteMemory(Link& link, TransferState& transfer, uint32_t address, const uint8_t* data,
                 size_t length);

/// Reads `length` bytes back from `address` in pieces of at most 128 bytes
/// and compares them with `expected`. Each differing byte is reported
/// ("Examine returned different data at ..."), then "Verify error"; a piece
/// that differs or is not read is read again, up to 8 times. False when a
/// piece never matched.
bool ExamineMemory(Link& link, uint32_t address, const uint8_t* expected, size_t length);

}  // namespace kel
