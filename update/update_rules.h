#pragma once

#include <string>

#include "runtime/options.h"
#include "unit/unit_info.h"

namespace kel {

/// The exit code of a run that the operator declined.
inline constexpr int kExitDeclined = 1;

/// The version the embedded software carries, and the program's own.
inline constexpr int kNewSoftwareVersion = 610;
inline constexpr int kNewSoftwareRelease = 57;

/// Boot loaders below this release are older than the one the program
/// delivers.
inline constexpr int kNewestBootLoaderRelease = 24;
/// Software from this version on runs the network services (unit list,
/// update files, build increments).
inline constexpr int kNetworkSoftwareVersion = 600;

/// Why an update does not go on with a unit, in the words the update ends
/// with (or, for a unit behind the connected one, reports) and its plan
/// shows.
inline constexpr char kOldH8Refusal[] =
    "This version of KelUpdater is unable to update the software in old H8 units. Please use the "
    "older KelUpdater";
inline constexpr char kPreProductionRefusal[] = "Cannot update this unit (pre-production board)";
inline constexpr char kNoSoftwareRefusal[] = "No new software can be found for this unit";
inline constexpr char kVcomNeedsUpdateFiles[] =
    "The unit does not support Update files, which are required on a vcom port";
inline constexpr char kUnknownUnitRefusal[] = "Unknown ponderix unit";
/// Followed by the embedded software's version.
inline constexpr char kDowngradeRefusal[] = "The software cannot be downgraded to ";
/// Follow "Ponderix Unit " + the unit's address.
inline constexpr char kRemoteNeedsNetworkSoftware[] =
    " must be running version 6.00 or later of the Ponderix software for remote update.\r\n";
inline constexpr char kRemoteNeedsUpdateFileBootLoader[] =
    " must have boot loader release 14 or later for remote update.\r\n";

/// Unit flags and boot flags the update decisions read.
inline constexpr uint8_t kUnitFlagCardTester = 0x80;
inline constexpr uint8_t kUnitFlagJtag = 0x40;
inline constexpr uint8_t kBootFlagPreProduction = 0x80;
inline constexpr uint8_t kBootFlagJtag = 0x40;
inline constexpr uint8_t kBootFlagFlashCheckFailed = 0x04;
inline constexpr uint8_t kBootFlagNoSoftware = 0x01;

/// A board with pre-production test software, which only the production
/// line may update.
bool IsPreProductionBoard(const UnitInfo& unit, bool updateFiles);

/// Test software or an open JTAG interface on a production board: its boot
/// loader is replaced.
bool HasTestSoftware(const UnitInfo& unit);

/// Why the boot loader must be written on this run's options: the tail of
/// the "-- updating boot loader " line; empty when it need not be.
/// `forced` is the caller's demand (a KD3 display's immediate update).
std::string BootLoaderReason(const Options& options, const UnitInfo& unit, bool forced);

/// A unit whose software is newer than the embedded one (its build
/// increment says so) is not put back to an older version.
bool RefusesDowngrade(const UnitInfo& unit);

/// The first boot-loader release whose unit reports its software checksum.
inline constexpr int kFirstChecksumBootLoaderRelease = 4;

/// Why the software must be written, from what the unit reports: empty
/// when it already runs exactly the embedded software. `checksumDiffers`
/// is asked only for a unit at the embedded version.
template <typename ChecksumDiffers>
std::string SoftwareReason(const UnitInfo& unit, ChecksumDiffers checksumDiffers) {
  if (unit.softwareVersion != kNewSoftwareVersion || unit.softwareRelease != kNewSoftwareRelease) {
    return "it is different than the current version";
  }
  if (checksumDiffers()) return "the checksum is different";
  if (unit.bootFlags & kBootFlagNoSoftware) return "there is no software in the unit";
  if (unit.bootFlags & kBootFlagFlashCheckFailed) return "the MCU FLASH check failed";
  if (unit.bootLoaderRelease < kFirstChecksumBootLoaderRelease)
    return "the checksum is not available (old boot loader)";
  return {};
}

}  // namespace kel
