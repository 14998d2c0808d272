#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "unit/slot_ring.h"
#include "link/link_state.h"

namespace kel {

/// One windowed flash write (0x1041) in flight, with the tag it was sent
/// with: the sequence number in bits 0..14, bit 15 on a record's first piece.
struct ProgramSlot {
  uint32_t address = 0;
  std::array<uint8_t, 132> data{};
  uint32_t length = 0;
  uint16_t tag = 0;
};

/// The window of windowed flash writes, at most 8 in flight, and the
/// sequence number of the next one (0 at the start of each image).
struct ProgramWindow : SlotRing<ProgramSlot> {
  uint16_t sequence = 0;
};

/// Sends one windowed flash write of at most 128 bytes without waiting,
/// retiring first when 8 are outstanding. False when that retire failed
/// (lost for good, or a hardware failure the unit reported).
bool SendWindowedProgram(Link& link, ProgramWindow& window, uint32_t address, const uint8_t* data,
                         size_t length, bool firstPiece);

/// Waits for one reply and retires every outstanding write up to the
/// sequence it acknowledges (one reply acknowledges all older ones). A
/// missing or damaged reply sends every outstanding write again from the
/// oldest; a reply older than the oldest outstanding write, or naming one
/// not sent yet, is stale. Both are reported ("ACK MISSING FOR", "!") and
/// cost one of 20 attempts. A reply carrying a non-zero result prints the
/// hardware-failure line and ends with false whichever write it names (it
/// may come late, after a younger write's reply retired it); so do 20
/// failed attempts, after "FAILED".
bool RetireProgram(Link& link, ProgramWindow& window);

/// Retires until no write is outstanding.
bool DrainProgramWindow(Link& link, ProgramWindow& window);

}  // namespace kel
