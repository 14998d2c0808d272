#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "unit/unit_info.h"

namespace kel {

/// The full path of the external boot tool: the parameter file's
/// "KelBootEXE" as given, or "bin/KelBoot.exe" under PONDERIXPATH, the
/// parameter file's "PonderixHomeDir" or the fixed fallback folder. Ends the
/// run ("Cannot find KelBoot in " + folder) when that file does not exist.
std::string FindBootTool(Runtime& rt);

/// The tool's command line: the quoted path, `arguments`, then the debug
/// switch (-dd or -d), -y, and -s when the run is silent.
std::string BootToolCommandLine(Runtime& rt, const std::string& toolPath,
                                const std::string& arguments);

/// Splits a command line into the program and its arguments: parts are
/// separated by runs of spaces, and a part that starts with a double quote
/// runs to the next double quote (the quotes are dropped). The program name
/// is cut to 255 characters and at most 19 arguments are kept.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

/// Runs the tool with `arguments` as a child process (no shell) and waits
/// for it. Returns only when it succeeded; a tool that cannot be started
/// ends the run ("FAILURE - cannot run KelBoot: " + command line), and one
/// that fails ends this process with the tool's exit code. A stop signal
/// while it runs ends the tool and then this process with exit code 1.
/// `beforeEnd`, when given, runs first on all of those ways out (to remove
/// what the caller made for the tool).
void RunBootTool(Runtime& rt, const std::string& toolPath, const std::string& arguments,
                 const std::function<void()>& beforeEnd = {});

/// The folder for the file exchanged with the tool: TEMP when set (a
/// separator is added unless it ends in one or ':'), else the user's
/// temporary folder (TMPDIR, then /tmp; on Windows the system's).
std::string BootToolTempFolder(Runtime& rt);

/// Creates the empty file the tool writes a programmer into, in
/// BootToolTempFolder: "KelUdpater" + random characters + ".tmp", new,
/// readable and writable by this user only, so no other user can read it,
/// plant one in its place or guess its name. Ends the run when it cannot be
/// made ("Cannot create a file for KelBoot in " + folder + ": " + reason).
std::string CreateBootToolExchangeFile(Runtime& rt);

/// Deletes the exchange file (once more after making it writable).
void RemoveBootToolExchangeFile(const std::string& path);

/// The single argument that asks the tool for a flash programmer for `unit`
/// written into `file`.
std::string ProgrammerRequestArgument(const UnitInfo& unit, const std::string& file);

}  // namespace kel
