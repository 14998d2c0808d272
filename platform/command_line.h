#pragma once

#include <string>
#include <vector>

namespace kel {

/// Quotes one argument so that a Windows program's C runtime splits it back
/// into exactly the same text: arguments with spaces, tabs or quotes (and
/// the empty argument) are put in double quotes, a quote becomes \" and
/// backslashes that precede a quote or the closing quote are doubled.
std::string QuoteWindowsArgument(const std::string& argument);

/// The command line for CreateProcess: the program and every argument,
/// each quoted as above, separated by single spaces.
std::string BuildWindowsCommandLine(const std::string& program,
                                    const std::vector<std::string>& args);

}  // namespace kel
