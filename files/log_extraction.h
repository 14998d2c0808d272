#pragma once

#include <string>
#include <vector>

#include "files/remote_file_access.h"
#include "runtime/run_summary.h"
#include "unit/unit_info.h"

namespace kel {

/// The folder beside the program that extracted logs go into.
inline constexpr char kExtractFolderName[] = "PonderixLogFiles";

/// Drive and file numbers of the logs a unit keeps.
constexpr uint8_t kLogDrive = 1;
constexpr uint16_t kConfigurationLogFile = 0x131;
constexpr uint16_t kCrashLogFile = 0x10F;

/// The -x job: lists the connected unit and the units behind it in address
/// order (a test jig is left out), then copies each one's configuration,
/// crash and debug logs into `folder`. Only for a connected unit running
/// application software 6.00 or later; the link runs at the programming
/// speed meanwhile and returns to its speed after, also when the listing
/// stops early at a unit that does not answer. A copy stops at the unit's
/// flash size (4 MiB at most). A log that cannot be saved whole (the unit
/// stopped sending it, a full disk) is named with the reason and leaves an
/// earlier copy in place; a log, unit or listing that does not answer is
/// said. Any of these ends the job with "Incomplete: some logs could not be
/// saved" and the run's exit code for an incomplete run (3). Each unit
/// whose logs were looked for gets a line in `copied`, when given: "logs
/// saved N" (", M not saved" when some were not), or "failed" for a unit
/// that did not answer.
void ExtractLogs(RemoteFileAccess& files, UnitInfo& connected, const std::string& folder,
                 std::vector<SummaryLine>* copied = nullptr);

/// Copies one unit's logs (application software 6.01 or later) into
/// `folder`: "ConfigurationLog_", "CrashLog_" and "DebugLog_" + the unit's
/// tag + ".txt", the debug logs one after another in one file. `unit` is a
/// record in modeApplication at the unit's address; its information is
/// read and reported first.
void ExtractLogFilesFromUnit(RemoteFileAccess& files, UnitInfo& unit, const std::string& folder);

/// The tag in the names of a unit's log files: Modbus address (two digits
/// at least), " PX" + product word, card short name, serial number.
std::string UnitTag(const UnitInfo& unit);

}  // namespace kel
