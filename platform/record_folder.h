#pragma once

#include <string>

#include "platform/environment.h"

namespace kel {

/// Where the program keeps one folder of its records (run logs with the
/// update history, logs copied from units). `besidePath` is that folder
/// beside the program file ("/opt/kel/LogFiles"); `programName` names the
/// per-user folder. On Windows the folder stays beside the program where
/// the user can write it there, else it goes into the user's local
/// application data (`ChooseWindowsRecordFolder`). On POSIX it stays
/// beside the program wherever the user can write it there; when the user
/// cannot (an installed copy in /usr/bin), or the program stands in one of
/// the system's command folders, the folder of the same name in the
/// user's state folder is used instead (`UserStateFolder`, created private
/// to the user when missing). Only folders of the effective user's own
/// count: an XDG_STATE_HOME outside them is ignored, and a HOME that is
/// unset, relative or not the user's own (root under sudo keeping the
/// caller's HOME) gives way to the home in the user's password entry;
/// folders are made only below one the user already owns. Where there is
/// no usable state folder (a user without a home), `besidePath` is
/// returned, so that the run fails there with its cause.
std::string RecordFolder(const std::string& besidePath, const std::string& programName,
                         Environment& env);

/// The user's own folder for the program's records:
/// "$XDG_STATE_HOME/<programName>" when XDG_STATE_HOME is an absolute
/// path, else "$HOME/.local/state/<programName>" when HOME is; empty when
/// neither is.
std::string UserStateFolder(const std::string& programName, Environment& env);

/// True for the system's own command folders (/usr/bin, /bin, ...), where
/// records never belong even when the user may write there.
bool IsSystemCommandFolder(const std::string& folder);

/// The choice RecordFolder makes, from what it found: `besideWritable`
/// tells whether the user can write the folder beside the program (or
/// create it there). Returns `besidePath`, or the folder of its name in
/// the user's state folder.
std::string ChooseRecordFolder(const std::string& besidePath, bool besideWritable,
                               const std::string& programName, Environment& env);

/// The choice RecordFolder makes on Windows: `besidePath` when the user
/// can write it there, else the folder of its name in
/// "%LOCALAPPDATA%\\<programName>" (a standard user running the program
/// from Program Files), and `besidePath` again when LOCALAPPDATA is not an
/// absolute path, so that the run fails there with its cause.
std::string ChooseWindowsRecordFolder(const std::string& besidePath, bool besideWritable,
                                      const std::string& programName, Environment& env);

}  // namespace kel
