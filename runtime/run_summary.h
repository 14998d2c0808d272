#pragma once

#include <string>
#include <vector>

namespace kel {

/// One unit's line in the summary that a job which touches units ends
/// with, printed just before the run's last line.
struct SummaryLine {
  int address = 0;
  /// As the unit report names it ("KT5 Transmitter"); empty for a unit
  /// that never told.
  std::string unitType;
  /// The unit's software before the run ("v6.08r12"); empty when not known.
  std::string before;
  /// After the run; empty when the job changes nothing (-i, -x), which
  /// shows the software once. "?" when it is not known (a failed update).
  std::string after;
  /// "updated", "up to date", "update files sent", "refused", "failed",
  /// "logs saved 3", "interrogated", ...
  std::string outcome;
};

/// The line as printed, without its line end:
/// "   <address>  <unit type>  <before> -> <after>  <outcome>", or
/// "   <address>  <unit type>  <software>  <outcome>" for a job that changes
/// nothing. An unknown unit type reads "unknown unit", an unknown version "?".
std::string FormatSummaryLine(const SummaryLine& line);

/// The heading printed before the lines.
inline constexpr char kSummaryHeading[] = "Summary:\r\n";

}  // namespace kel
