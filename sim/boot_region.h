#pragma once

#include <cstdint>

#include "sim/flash_memory.h"

namespace kel::sim {

struct SimUnit;

/// The boot region is the first 16 KiB of an LPC unit's flash, where its
/// boot loader lives. At every reset the chip starts the boot loader only
/// when the region holds one that is whole; otherwise its ROM loader runs,
/// and only the factory's boot tool can bring the unit back.
///
/// Whole means one of two things:
/// - the region has not been erased or written since the unit was powered
///   on with its scenario (or given a boot loader through the control
///   channel): the boot loader is the one the scenario names;
/// - the region ends in a boot-loader trailer whose check value is right:
///   the last 16 bytes below offset 0x3E00 hold "PXBL", the boot-loader
///   version and release, six reserved bytes and, big-endian, the CRC-32
///   (zlib) of every byte from the region's start up to the check value
///   itself, the backup fields left out and erased bytes read as 0xFF.
///   The boot-loader images carry that trailer in their last record, so an
///   image cut short anywhere (a stopped run, a power loss, a lost record)
///   is not whole.
enum class BootRegionState : uint8_t {
  kScenario,  ///< untouched since power-on: the scenario's boot loader
  kWhole,     ///< rewritten, and its trailer checks
  kBroken,    ///< rewritten, and no whole boot loader is in it
};

/// What the region holds now, and for kWhole the trailer's version and release.
struct BootRegionReading {
  BootRegionState state = BootRegionState::kScenario;
  uint8_t version = 0;
  uint8_t release = 0;
};

/// The region's offsets: the trailer and the check value it ends in.
constexpr uint32_t kBootTrailerOffset = 0x3DF0;
constexpr uint32_t kBootCheckOffset = 0x3DFC;

/// Reads the unit's boot region as its chip does at reset. Units without an
/// LPC boot region (the H8S parts) always read as kScenario.
BootRegionReading ReadBootRegion(const SimUnit& unit);

/// The check value of a region's bytes below kBootCheckOffset (the backup
/// region left out): what a whole trailer holds.
uint32_t BootRegionCheck(const FlashMemory& flash, uint8_t mcuType);

/// Notes that the programmer or the unit's own updater erased or wrote the
/// bytes `first`..`last` (inclusive): a range that reaches into the boot
/// region outside the backup fields makes the region's contents, not the
/// scenario, say what boot loader the unit has.
void NoteBootRegionWrite(SimUnit& unit, uint32_t first, uint32_t last);

/// At a reset: takes on the identity of the boot loader the region holds.
/// False when it holds none that is whole; the chip then starts its ROM
/// loader (the caller makes the unit a blank chip).
bool TakeOnBootRegion(SimUnit& unit);

}  // namespace kel::sim
