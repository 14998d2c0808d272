#pragma once

#include "platform/posix/serial_speed_posix.h"

namespace kel {

/// The open serial port that a self-raised abort must still let go: its
/// saved settings go back and exclusive mode comes off, as an orderly close
/// would do. One port at a time; the last one held counts.
void HoldPortForAbort(int fd, const TerminalSettings& original);
/// The port `fd` is being closed in the orderly way; nothing to do for it.
void ForgetPortForAbort(int fd);

}  // namespace kel
