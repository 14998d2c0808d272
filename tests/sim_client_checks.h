#pragma once

// Sessions against the demo network (a KD4 display at address 10 with KT5
// transmitters at 3 and 12 behind it), written once with the scripted
// client and run both in-process and over a pseudo-terminal. Each reports
// through GoogleTest expectations.

#include <cstdint>

#include "tests/sim_client.h"

namespace kel::simclient {

/// All three units answer ReadUnitInfo and ReadAdvancedInfo with exactly
/// the scenario's identity.
void CheckDemoIdentification(SimClient& client);

/// Files written in "G" and "H" blocks read back identical, with matching
/// attributes; an empty file has size 0.
void CheckDemoFileWrites(SimClient& client);

/// Restarts the display into its boot loader, downloads a programmer with
/// `download`, programs an image made from `seed` with `program`, reads
/// the flash back, resets, and returns the software checksum the display
/// reports afterwards (0 when the session failed). `expectLate`: the
/// windowed replies must have come out of order. `restartMs`: how long the
/// display takes to restart (300 ms in the demo scenario), with a margin.
uint32_t CheckDemoFlashSession(SimClient& client, MemoryTransport download, MemoryTransport program, uint8_t seed,
                               bool expectLate = false, uint32_t restartMs = 400);

/// The display's software checksum as ReadAdvancedInfo reports it now.
uint32_t DemoDisplayChecksum(SimClient& client);

}  // namespace kel::simclient
