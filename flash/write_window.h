#pragma once

#include <cstddef>
#include <cstdint>

#include "flash/echo_window.h"
#include "link/link_state.h"

namespace kel {

/// The overlapped download's window of write-memory requests (0x1020),
/// whose echoes act as acknowledgements.
struct WriteWindow : EchoWindow {};

/// Sends one write of at most 128 bytes to RAM at `address` without
/// waiting, retiring the oldest write first when `limit` are outstanding.
bool SendWindowedWrite(Link& link, WriteWindow& window, size_t limit, uint32_t address,
                       const uint8_t* data, size_t length);

/// Retires every outstanding write; false when one was never acknowledged.
bool DrainWindow(Link& link, WriteWindow& window);

}  // namespace kel
