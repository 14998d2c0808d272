#pragma once

#include <string>
#include <vector>

#include "platform/clock.h"
#include "runtime/runtime.h"

namespace kel {

/// The name of the run-log folder beside the program file.
inline constexpr char kLogFolderName[] = "LogFiles";
/// Present in the log folder while one run is deleting old logs.
inline constexpr char kCleanupLockName[] = "Cleanup.lck";

/// The folder `name` beside a program started as `programPath`: the
/// program's folder plus `name`. A relative path is taken from the current
/// directory.
std::string FolderBesideProgram(const std::string& programPath, const std::string& name);

/// The log folder for a program started as `programPath`: the program's
/// folder plus "LogFiles".
std::string LogFolderFor(const std::string& programPath);

/// The folder `name` ("LogFiles", "PonderixLogFiles") that a program
/// started as `programPath` keeps its records in: beside the program where
/// the user can keep it there, else the user's own (RecordFolder). The
/// choice is made for the run-log folder and holds for every record
/// folder, so that a run's records never end up split between the two.
std::string RecordFolderFor(Environment& env, const std::string& programPath,
                            const std::string& name);

/// The log file of a run started at `now`:
/// folder + separator + "YYYY-MM-DD hh-mm-ss.log". Runs started in the same
/// second take the next `copy`: "YYYY-MM-DD hh-mm-ss_2.log" and so on, which
/// the monthly clean-up judges by the same date.
std::string LogFileName(const std::string& folder, const LocalTime& now, int copy = 1);

/// True when the monthly clean-up at `now` deletes the log named `name`.
/// Nothing is deleted before the 22nd; then logs of other years go from
/// March on, and logs of this year go unless dated this month or one of the
/// two before it (a later month of this year goes too).
bool IsOldLog(const std::string& name, const LocalTime& now);

/// The monthly clean-up of `folder` at `now`, guarded by "Cleanup.lck":
/// skipped when the lock cannot be created. A folder that cannot be listed
/// ends the run ("Cannot open directory: " + folder).
void CleanUpOldLogs(Runtime& rt, const std::string& folder, const LocalTime& now);

/// Opens the run's log: creates `folder`, cleans it up, creates the file
/// under the first free name of the run's start time (an existing log is
/// never replaced; a failure ends the run, exit code 1), prints the
/// "LogFile" line on the console and writes the header: the arguments
/// (program path first) each followed by a space, then COMPUTERNAME and
/// USERNAME lines.
void OpenRunLog(Runtime& rt, const std::string& folder, const std::vector<std::string>& arguments);

}  // namespace kel
