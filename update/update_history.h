#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/history_file.h"
#include "runtime/run_summary.h"
#include "unit/unit_info.h"

namespace kel {

/// What became of one unit in a run, as the history names it.
enum class HistoryOutcome { kUpdated, kUpToDate, kUpdateFilesSent, kRefused, kFailed };

/// Records each unit that a run updates, finds up to date, sends update
/// files, refuses or fails to update as one row of the update history.
/// The update flows call it where a unit's outcome is known; a fatal error
/// that ends the run records the unit in hand as failed with its message.
/// The same records give the run's closing summary (Runtime::summaryLines
/// while it lives): one line per unit, as its row says.
class UpdateHistory {
 public:
  /// Rows go to the history file at `path` (none when it is empty).
  UpdateHistory(Runtime& rt, const std::string& path);
  ~UpdateHistory();
  UpdateHistory(const UpdateHistory&) = delete;
  UpdateHistory& operator=(const UpdateHistory&) = delete;

  /// The update of `unit` begins: its start time and what it runs now are
  /// kept. Begun again for the same unit before an outcome, the first
  /// start and details stay. The record is kept in hand until the outcome:
  /// a boot loader that reports its version meanwhile (software before 6.00
  /// tells none) gives the row its boot loader before, whatever the outcome.
  void Begin(const UnitInfo& unit);

  /// The update went through. Update files are recorded at once, with the
  /// versions the unit takes at its restart. A unit written directly is
  /// recorded by Complete, once it has been restarted, so that a restart
  /// that fails records it as failed instead. `changed`: files for the
  /// unit's updater were written; `fieldbusWritten`: fieldbus files were,
  /// which the unit takes at once (the unit is updated, not up to date).
  void WentThrough(const UnitInfo& unit, bool bootLoader, bool software, bool changed,
                   bool updateFiles, bool fieldbusWritten = false);

  /// Nothing was written for `message` (the program's own words).
  void Refused(const UnitInfo& unit, const std::string& message);
  /// The unit could not be updated, for `message`.
  void Failed(const UnitInfo& unit, const std::string& message);

  /// Writes the row of a unit written directly, now that it has restarted.
  void Complete();

  /// The units that took update files were restarted (`confirmed`: they run
  /// the new software now) or were not (they take it at their next restart):
  /// their rows, held until now, are written accordingly.
  void UnitsRestarted(bool confirmed);

  /// One summary line per unit recorded so far, in the order of the rows,
  /// and the unit in hand: with `fatal` as failed (as the fatal error will
  /// record it), else a unit written directly with its coming outcome.
  std::vector<SummaryLine> SummaryLines(bool fatal) const;

 private:
  enum class State { kIdle, kBegun, kWaiting };

  void Write(HistoryOutcome outcome, const std::string& message);
  void LearnBootLoader(const UnitInfo& unit);

  Runtime& rt_;
  HistoryFile file_;
  State state_ = State::kIdle;
  uint8_t address_ = 0;
  std::string time_;
  uint64_t startMicros_ = 0;
  std::string unitType_, card_, serial_;
  std::string softwareBefore_, softwareAfter_, bootLoaderBefore_, bootLoaderAfter_;
  int bootLoaderVersion_ = 0;
  // The record of the unit begun, until its outcome is known.
  const UnitInfo* inHand_ = nullptr;
  HistoryOutcome waiting_ = HistoryOutcome::kUpdated;
  // Rows of units that took update files, until their restart is known,
  // and their lines in summary_.
  std::vector<std::vector<std::string>> held_;
  std::vector<size_t> heldLines_;
  std::vector<SummaryLine> summary_;
};

}  // namespace kel
