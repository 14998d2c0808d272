#pragma once

#include <string>

namespace kel::sim {

class SimNetwork;

/// Writes what the units of one port hold into `dir` (made when missing),
/// one folder per unit named after it (characters other than letters,
/// digits, '.', '-' and '_' become '_'):
///
///   UNIT/flash-XXXXXXXX.bin    each flash bank of the unit's MCU, whole,
///                              named by its first address in hexadecimal;
///                              bytes never written read 0xFF
///   UNIT/backup.bin            the MCU's backup region (when it has one)
///   UNIT/drive-DDD/file-NNNN.bin         each file's bytes (drive decimal,
///   UNIT/drive-DDD/file-NNNN.properties  file number hexadecimal), and its
///                                        properties block when not empty
///   UNIT/unit.txt              role, software, boot loader, boot flags,
///                              reported checksum and CRC, line settings
///
/// False with the reason in `error` when something cannot be written.
bool DumpNetwork(SimNetwork& network, const std::string& dir, std::string& error);
/// The same, once the units have reached tick `now`: a restart whose time
/// has come is finished first, so that the dump shows where it ended.
bool DumpNetworkAt(SimNetwork& network, uint32_t now, const std::string& dir, std::string& error);

/// A unit name made safe as one folder name.
std::string SafeFolderName(const std::string& name);

}  // namespace kel::sim
