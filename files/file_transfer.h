#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "files/remote_file_access.h"
#include "unit/unit_info.h"

namespace kel {

/// Where the file requests for `unit` go: its own address when its
/// application answers, the programmer's address when the flash programmer
/// does. Any other mode ends the run.
uint8_t FileTargetAddress(RemoteFileAccess& files, const UnitInfo& unit);

/// Whether data blocks for `unit` may take the "H" form: application
/// software 6.04 or later.
bool HighSpeedFor(const UnitInfo& unit);

/// Writes `data` into the file created for writing in blocks of 128 bytes
/// from offset 0, with a "Writing $" line per block and the progress dots;
/// no flush.
bool WriteFileData(RemoteFileAccess& files, const FileRef& ref, std::span<const uint8_t> data);

/// Reads the open file back in blocks of 128 bytes with ReadFileBlock (a
/// "Verifying $" line per block) and hands each byte that differs from
/// `data` to `difference` (file offset, expected, got); false when it
/// returns false or a read fails or comes back short.
using ByteDifference = std::function<bool(uint32_t offset, uint8_t expected, uint8_t got)>;
bool ReadBackFileData(RemoteFileAccess& files, const FileRef& ref, std::span<const uint8_t> data,
                      const ByteDifference& difference);

}  // namespace kel
