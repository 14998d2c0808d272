#pragma once

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
/// that fails ends this process with the tool's exit code.
void RunBootTool(Runtime& rt, const std::string& toolPath, const std::string& arguments);

/// The temporary file the tool writes a programmer into: TEMP (or TMP,
/// TMPDIR) + "KelUdpater" + the tick count in 8 hex digits + ".tmp".
std::string BootToolTempFile(Runtime& rt);

/// The single argument that asks the tool for a flash programmer for `unit`
/// written into `file`.
std::string ProgrammerRequestArgument(const UnitInfo& unit, const std::string& file);

}  // namespace kel
