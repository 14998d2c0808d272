#pragma once

#include <cstddef>
#include <cstdint>

#include "flash/echo_window.h"
#include "link/link_state.h"

namespace kel {

/// The window of buffered chunks (0x1038) sent through a proxy into the
/// unit's transfer buffer, at most 8 in flight.
struct ChunkWindow : EchoWindow {};

/// Fills the unit's transfer buffer with `length` bytes: chunks of at most
/// 128 bytes at offsets 0, 128, 256, ..., each retired by its echo. Returns
/// once every chunk is acknowledged; false when one never was. The caller
/// commits the buffer.
bool SendBufferedChunks(Link& link, ChunkWindow& window, const uint8_t* data, size_t length);

}  // namespace kel
