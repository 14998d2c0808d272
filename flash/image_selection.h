#pragma once

#include "runtime/runtime.h"
#include "unit/unit_info.h"

namespace kel {

/// The refusals of the programmer choice: a boot-loader version the
/// catalogue has no programmers for, and no programmer for the unit.
inline constexpr char kUnsupportedBootLoaderMessage[] =
    "KelUpdater cannot update this unit: unsupported boot loader version";
inline constexpr char kNoProgrammerMessage[] = "Cannot find a flash programmer for unit";

/// Chooses the flash programmer for `unit` by MCU type, unit type,
/// boot-loader version and buffer size (large when above 128), and for an
/// H8S2145 transmitter also the strings programmer. Prints the selection
/// lines on the debug sink. A pre-production board (boot flags bit 7, or
/// unit flags bit 7 while `updateFilesFlag`) gets nothing from the
/// catalogue: a programmer already in the record (from the boot tool) is
/// kept. Returns true when the record then holds a programmer; an
/// unsupported boot-loader version or unit type, or no programmer at all,
/// ends the run through FatalError.
bool SelectFlashProgrammer(Runtime& rt, UnitInfo& unit, bool updateFilesFlag);

/// The same choice for a report, which changes nothing in the unit: false
/// instead of the fatal end when the record holds no programmer afterwards
/// (a pre-production or card-tester board). The other refusals still end
/// the run.
bool FindFlashProgrammer(Runtime& rt, UnitInfo& unit, bool updateFilesFlag);

/// Sets the boot-loader image, the flash block size and the backup-enabled
/// flag. False, with the record unchanged, for an MCU type outside 2..7;
/// an LPC unit type without a boot loader ends the run. An H8S2145 gets a
/// block size of 128, no image and no backup.
bool SelectBootLoaderImage(Runtime& rt, UnitInfo& unit);

/// Sets the software image for the unit type and MCU type, or clears it
/// when the catalogue has none (the caller reports that).
void SelectSoftwareImage(UnitInfo& unit);

/// Prints the embedded software's checksum and CRC and the unit's, and
/// returns true when they differ. A unit type and MCU type without
/// software ends the run through FatalError.
bool CompareSoftwareChecksum(Runtime& rt, const UnitInfo& unit);

}  // namespace kel
