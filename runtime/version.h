#pragma once

#include <string>

namespace kel {

/// The program's own name, as the banner and the usage text show it.
inline constexpr char kProgramName[] = "KelUpdater";
/// The program's own version (hundredths: 610 = 6.10) and release.
inline constexpr int kProgramVersion = 610;
inline constexpr int kProgramRelease = 57;
/// The maker's name, as the program uses it (its settings live under it).
inline constexpr char kProgramMaker[] = "Arkwend";
/// What the program does, in one line.
inline constexpr char kProgramDescription[] = "Updates Ponderix weighing instruments over a serial link";

// The build reads the five constants above (cmake/Version.cmake) for the
// Windows version resource, the manual page and the packages, so each
// stays one "kName = value;" line.

/// Version text: the version divided by 100, ".", the remainder as two
/// digits, "r", the release as two digits (610, 57 gives "6.10r57").
std::string ProgramVersionText(int version, int release);

/// What --version says after the banner: "Built from commit " + the
/// commit's short name, and " with local changes" when tracked files
/// differed from it; empty when the build did not know its commit (no git,
/// sources outside a checkout).
std::string BuildCommitLine();

}  // namespace kel
