#pragma once

#include <cstdint>
#include <vector>

#include "sim/flash_memory.h"

namespace kel::sim {

struct SimUnit;

/// Update files a unit takes over at its next restart.
constexpr uint8_t kUpdateDrive = 1;
constexpr uint16_t kBootLoaderUpdateFile = 0x102;  ///< boot-loader image + Fletcher checksum (4 bytes, MSB first)
constexpr uint16_t kSoftwareUpdateFile = 0x103;    ///< software image + Fletcher checksum
constexpr uint16_t kResourceUpdateFile = 0x104;    ///< resource records, each with its own CRC
constexpr uint8_t kProgrammerDrive = 193;
constexpr uint16_t kProgrammerFile = 0;            ///< programmer image + CRC-16 (2 bytes, low first)
constexpr uint8_t kResourceDrive = 177;
constexpr uint16_t kResourceFile = 0;

/// One record of an image container.
struct ImageRecord {
  uint32_t address = 0;
  std::vector<uint8_t> data;
};

/// Parses an image container (start address, total length, records of
/// address, 16-bit length and data, ended by the address 0xFFFFFFFF, nothing
/// after it); false when it is truncated, malformed or has trailing bytes.
bool ParseRecordImage(const uint8_t* bytes, size_t size, std::vector<ImageRecord>& records);

/// True when the unit applies update files: application 6.00 or later, boot
/// loader release 14 or later, an LPC microcontroller and unit flags bit 0.
bool AcceptsUpdateFiles(const SimUnit& unit);

/// Called by the core when a unit restarts into its application. First the
/// unit takes on the software the flash programmer wrote since the last
/// restart (new software reports its version when its check values identify
/// it, and "no software" when its regions were left blank; the boot loader
/// is taken from the boot region at every restart, boot_region.h).
/// Then, when the unit accepts update files, it checks and applies the ones
/// it holds: boot loader, software, resource file and programmer. A file is
/// consumed either way; one whose check value or layout is wrong changes
/// nothing.
void ApplyPendingUpdates(SimUnit& unit);

}  // namespace kel::sim
