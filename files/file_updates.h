#pragma once

#include <cstdint>
#include <span>

#include "files/remote_file_access.h"
#include "unit/unit_info.h"

namespace kel {

/// How an update file carries its check value after the data.
enum class CheckMode : uint8_t {
  kNone = 0,
  kCrc = 1,       ///< the file CRC, 2 bytes, CRC low byte first
  kFletcher = 2,  ///< the Fletcher checksum, 4 bytes, most significant first
};

/// The file operations below work on a unit running its application
/// (requests to its own address) or its flash programmer (requests to the
/// programmer's address); in any other mode they end the run ("Cannot
/// perform this operation, the unit is not in the correct mode"). Data
/// blocks travel in the "H" form to application software 6.04 or later.

/// Whether the unit's file must be written: always under -w; otherwise
/// when its attributes cannot be read, or its size or one of its four
/// checksums differs from `data`'s, or, with `crc`, when the CRC stored in
/// its properties differs. One request per file.
bool FileIsDifferent(RemoteFileAccess& files, const UnitInfo& unit, uint8_t drive, uint16_t file,
                     std::span<const uint8_t> data, bool crc);

/// Writes `data` as the unit's file, with `crc` storing the file CRC in its
/// properties for the next comparison. Under -v the file is read back, and
/// the first differing byte ends the run ("Verify file failed at ...").
bool UpdateFile(RemoteFileAccess& files, const UnitInfo& unit, uint8_t drive, uint16_t file,
                std::span<const uint8_t> data, bool crc);

/// Sends an update file that the unit applies at its next restart: `data`,
/// then its check value as one more block. Under -v the data are read back
/// and each differing byte is reported on the console; that is not a
/// failure.
bool SendUpdateFile(RemoteFileAccess& files, const UnitInfo& unit, uint8_t drive, uint16_t file,
                    std::span<const uint8_t> data, CheckMode mode);

}  // namespace kel
