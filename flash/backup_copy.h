#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kel {

/// The region of flash whose bytes (the backup fields) are read before the
/// first flash block is rewritten and written back after it.
struct BackupRegion {
  uint32_t first = 0;
  uint32_t last = 0;  ///< inclusive
  size_t size() const { return last - first + 1; }
};

/// The backup region of an MCU type: 0x300..0x3FF for LPC2478, LPC1768 and
/// LPC4078, 0x1A000400..0x1A0005FF for LPC4337 and LPC4357. False for types
/// without one.
bool BackupRegionOf(int8_t mcuType, BackupRegion& region);

/// The first address of an MCU type's flash: 0x1A000000 for LPC4337 and
/// LPC4357, 0 for the others.
uint32_t FlashBaseOf(int8_t mcuType);

/// The copy of the backup fields taken from the unit, as big as the largest
/// region.
struct BackupCopy {
  static constexpr size_t kMaxSize = 512;
  BackupCopy() { bytes.fill(0xFF); }
  std::array<uint8_t, kMaxSize> bytes;
};

}  // namespace kel
