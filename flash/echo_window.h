#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "unit/slot_ring.h"
#include "link/link_state.h"

namespace kel {

/// One request in flight whose reply is its own echo: the key it is
/// matched by (a RAM address, or an offset in the unit's transfer buffer),
/// its bytes, and whether its echo has already come ahead of older ones.
struct EchoSlot {
  uint32_t key = 0;
  std::array<uint8_t, 132> data{};
  uint32_t length = 0;
  bool acknowledged = false;
};

/// A window of such requests.
using EchoWindow = SlotRing<EchoSlot>;

/// The request a window carries: command, then the key in `keyBytes`
/// bytes, the length (one byte, at most 128) and the data. The echo
/// repeats the head, key and length.
struct EchoKind {
  uint16_t command;
  int keyBytes;
};

/// Sends one request without waiting for its echo. With `limit` requests
/// outstanding (or the ring full) the oldest is retired first; false when
/// that failed.
bool SendEchoed(Link& link, EchoWindow& window, const EchoKind& kind, size_t limit, uint32_t key,
                const uint8_t* data, size_t length);

/// Retires the oldest outstanding request, in up to 20 attempts: an echo
/// already seen retires it at once; its own echo (key and length) retires
/// it; the echo of a younger request marks that one; a missing or damaged
/// echo sends the oldest request again. Each attempt that did not retire is reported
/// ("ACK MISSING FOR" and "!"). False, after "FAILED", when all 20 failed.
bool RetireEchoed(Link& link, EchoWindow& window, const EchoKind& kind);

/// Retires every outstanding request (each with its own 20 attempts).
bool DrainEchoed(Link& link, EchoWindow& window, const EchoKind& kind);

}  // namespace kel
