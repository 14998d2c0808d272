#pragma once

#include <string>

namespace kel {

/// A software version in hundredths as major "." two-digit minor: 610 gives
/// "6.10", 5 gives "0.05".
std::string FormatVersionNumber(int version);

/// Version and release as the program prints them: 610 and 5 give "6.10r05".
std::string FormatVersion(int version, int release);

}  // namespace kel
