#pragma once

#include <string>
#include <vector>

#include "runtime/options.h"

namespace kel {

/// Reads the command-line arguments (the program name left out) into
/// `options`, in order from the first.
///
/// An argument starting with "-" or "+" (and "/" when `slashStartsOptions`)
/// is a cluster of option letters, compared case-insensitively: flags
/// i x y v s w l f o may be clustered; "d" sets debug and a directly
/// following "d" also sets detailedDebug; the value letters b p r u take the
/// rest of the argument, or the whole next argument when nothing follows,
/// and end the cluster. An argument starting with "--" is one long option
/// (--list-ports, --help, --version, --plan), its name compared
/// case-insensitively. Any other argument
/// is "COM<n>" (longer than three characters, "\\.\COM<n>" too), an
/// all-digit port number (the empty argument included), on POSIX a port
/// named by its device (a character device, or a path in /dev where
/// nothing stands), or the
/// parameter file name; a later port replaces an earlier one, however
/// named, and a later file name an earlier one.
///
/// Returns false on an unknown letter or long option, a value letter
/// without a value, a -p value other than "0" or "1", a -b or -r value that
/// is no positive number, a -u value outside 0..255, or a port number that
/// is negative or past 32767; for the last three `reason` (when given) gets
/// the program's words, naming the option and the value. Fields set before
/// the failing argument stay set, as the fatal-error path reads them
/// (parameter file, -y).
bool ParseCommandLine(const std::vector<std::string>& arguments, bool slashStartsOptions,
                      Options& options, std::string* reason = nullptr);

/// True on platforms where "/" starts an option cluster (Windows); on POSIX
/// an argument starting with "/" is an absolute file path.
bool SlashStartsOptions();

}  // namespace kel
