#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

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
  uint32_t sends = 0;   ///< times the request went out
  uint32_t echoes = 0;  ///< echoes with its key and length seen while it was outstanding
};

/// Echoes still owed by requests already retired: a request sent again is
/// answered once for each time it went out, and the answer to an earlier
/// sending may come late, after later requests with the same key and length
/// went out (buffered chunks reuse their offsets block after block).
struct OwedEcho {
  uint32_t key = 0;
  uint32_t length = 0;
  uint32_t count = 0;
};

/// A window of such requests, with the echoes its retired requests still owe.
struct EchoWindow : SlotRing<EchoSlot> {
  std::vector<OwedEcho> owed;
};

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
/// echo sends the oldest request again. An echo that a retired request
/// still owes retires nothing, even when an outstanding request has the
/// same key and length: taken for that one's, it could pass a request that
/// never arrived. Each attempt that did not retire is reported ("ACK
/// MISSING FOR" and "!"). False, after "FAILED", when all 20 failed.
bool RetireEchoed(Link& link, EchoWindow& window, const EchoKind& kind);

/// Retires every outstanding request (each with its own 20 attempts).
bool DrainEchoed(Link& link, EchoWindow& window, const EchoKind& kind);

}  // namespace kel
