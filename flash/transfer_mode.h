#pragma once

#include <cstddef>

#include "link/link_state.h"

namespace kel {

struct TransferState;

/// Prints how the coming transfer travels (through a proxy, overlapped with
/// its window size, buffered). An overlapped transfer on a direct link
/// also switches hardware handshaking on and sets the link again at its
/// speed and parity with a 1000 ms reply timeout; when that fails the run
/// ends ("Unable to change baudrate").
void AnnounceTransferMode(Link& link, size_t windowLimit);

/// Switches hardware handshaking off again after a transfer, if it is on.
void EndHardwareHandshake(Link& link);

/// A record longer than 128 bytes ends overlapped transfer, and verifying
/// with it, for the rest of the run.
void TurnOverlappedOff(Link& link, TransferState& transfer);

}  // namespace kel
