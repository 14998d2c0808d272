#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/remote_file_access.h"
#include "runtime/run_summary.h"
#include "unit/unit_info.h"

namespace kel {

/// One file of a unit's file set in a plan.
struct PlannedFile {
  std::string kind;    ///< "language", "image", "font", "fieldbus", "resource file"
  std::string number;  ///< "01E0"; empty for the resource file
  uint32_t size = 0;
  bool differs = true;  ///< would be written (or sent)
};

/// What an update would do to one unit, worked out by reads only: the same
/// decisions as the update's, from what the unit reports. Nothing is
/// written, erased or restarted, and no speed is changed.
struct UnitPlan {
  /// Why the update would not go on with this unit, in the program's words;
  /// empty when it would.
  std::string refusal;
  bool updateFiles = false;   ///< update files, else written directly
  bool inBootLoader = false;  ///< the unit answers through its boot loader already
  bool windowed = false;      ///< direct, with windowed writes (-o, the unit raises CTS)
  /// The boot loader: written, and why (or why not known yet).
  bool bootLoader = false;
  std::string bootLoaderNote;
  /// The software: written, and why.
  bool software = false;
  std::string softwareNote;
  /// The unit's files; `filesCompared` false when they can only be
  /// compared once the update runs (every one is then counted).
  std::vector<PlannedFile> files;
  bool filesCompared = false;
  /// The flash programmer downloaded into the unit or sent with its update
  /// files; 0 bytes when none goes, or when it is chosen only once the unit
  /// is in its boot loader (`programmerNote` says so).
  uint32_t programmerBytes = 0;
  std::string programmerNote;
  /// The speed the bytes would travel at, and how many there are.
  int32_t baudRate = 0;
  uint64_t bytes = 0;
};

/// Works out what the update of `unit` would do: directly through its boot
/// loader, or (`updateFiles`) with update files; `forceBootLoader` is the
/// caller's demand (a KD3 display's immediate update); `linkSpeed` the speed
/// update files travel at. The unit's files are compared through its
/// application (one attributes request each) when it runs software 6.00 or
/// later; otherwise they are counted as written.
UnitPlan PlanUnit(RemoteFileAccess& files, UnitInfo& unit, bool updateFiles, bool forceBootLoader,
                  int32_t linkSpeed);

/// The plan of a unit found running the flash programmer that an earlier
/// run left running: what that run noted as due, then the files, all
/// through the programmer at the link's speed (the files counted, as they
/// are compared only once the update runs).
UnitPlan PlanUnitInProgrammer(RemoteFileAccess& files, UnitInfo& unit, bool bootLoaderDue,
                              bool softwareDue);

/// The least time the plan's bytes take on the line, in seconds: 11 bits a
/// byte (no parity, two stop bits) at its speed, twice under -v, which
/// reads them back.
double PlannedSeconds(const UnitPlan& plan, bool verify);

/// The line that opens a unit's plan: "Ponderix Unit <address>: <unit
/// type>, software <version>" (", in its boot loader" for a unit that
/// answers there).
void PrintPlanHeading(Output& out, const UnitInfo& unit);

/// Prints the plan: its transport, boot loader, software, files, flash
/// programmer and the estimated time, one "   Name : text" line each (or
/// the refusal), then a blank line.
void PrintUnitPlan(Output& out, const UnitPlan& plan, bool verify);

/// The plan's line in the run's summary.
SummaryLine PlanSummaryLine(const UnitInfo& unit, const UnitPlan& plan);

}  // namespace kel
