#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "campaign/update_scenario.h"

namespace kel::campaign {

/// How one run ended.
enum class Outcome {
  kSuccess,       ///< success reported and the units hold the images
  kCleanFailure,  ///< one of the program's fatal messages and a non-zero exit
  kViolation,     ///< anything else: success over wrong contents, a hang, a crash
};

/// One run of an update with the faults it was given.
struct RunResult {
  Outcome outcome = Outcome::kViolation;
  std::string why;        ///< for a violation: what went wrong
  uint64_t requests = 0;  ///< requests the simulator decoded
  uint64_t faults = 0;    ///< faults that struck (planned ones fired, bytes damaged)
  /// A clean failure after which a run without faults, against the units
  /// as the failure left them, succeeded (after a power cycle when the
  /// failure asked for one).
  bool rerunRecovered = false;
  /// For a violation: its cause in a few words, the same for every run it
  /// hits, so that runs group by cause.
  std::string cause;
  /// The run left a unit whose boot region holds no whole boot loader (by
  /// the simulator's rule), restarted or at the end: a unit only the
  /// factory's boot tool brings back. A violation too, unless a power loss
  /// or a restart of the unit by itself struck the boot-loader write
  /// (powerLossInBootLoader).
  bool bootLoaderBroken = false;
  bool powerLossInBootLoader = false;
};

/// The faults of one run: planned rules, and random damage.
struct RunFaults {
  std::string rule;         ///< simulator fault rules separated by ';', or empty
  uint32_t noiseOneIn = 0;  ///< 0: no random damage
  uint32_t seed = 0;
};

/// Runs `scenario` once in a fresh world with `faults`. A run in which no
/// request reaches the units for ten minutes of virtual time hangs. With
/// `kinds`, the kind of every request is noted there. A run that ends in a
/// clean failure is followed by the same job without faults against the
/// units as it left them, which must succeed; when it does not and a unit
/// sits in its RAM programmer, the failure must have asked for a power
/// cycle, and the job after one must succeed. Every success must leave the
/// units at the line speed they were found at. After every run and rerun
/// each unit's boot region must hold a whole boot loader, or be about to
/// (the unit still runs its programmer, which the rerun finishes with); a
/// power cycle asked for while one does not is a violation. A violation is
/// printed with the end of the console; with `showFailure` a clean failure
/// is too.
RunResult RunOnce(const UpdateScenario& scenario, const RunFaults& faults,
                  std::vector<std::string>* kinds = nullptr, bool showFailure = false);

/// The fault kinds given one at a time, each at every request in turn
/// (rule sets of several rules, separated by ';', strike the same request).
const std::vector<std::string>& SingleFaultKinds();

struct Tally {
  uint64_t runs = 0;
  uint64_t faults = 0;
  uint64_t recovered = 0;
  uint64_t cleanFailures = 0;
  uint64_t violations = 0;
  uint64_t rerunRecovered = 0;
  uint64_t bootLoaderBroken = 0;
  uint64_t powerLossInBootLoader = 0;
  /// Violations by cause: how many, and how to repeat the first.
  std::map<std::string, std::pair<uint64_t, std::string>> causes;
  void Add(const RunResult& r, const std::string& repeat = "");
  void Merge(const Tally& other);
};

/// Which requests get a fault: of each kind of request (service and
/// command), every one when `perKind` is 0, else at most `perKind` spread
/// evenly from the first to the last.
/// With `sample` non-zero, at most that many of them, spread evenly.
std::vector<uint64_t> FaultPositions(const std::vector<std::string>& kinds, uint64_t perKind,
                                     uint64_t sample = 0);

/// The requests that open, split and close the transfer phases of a run:
/// a phase is a run of consecutive requests of one kind (the programmer's
/// download, an erase, an image's writes, a file's blocks, a restart), and
/// of each its first, middle and last request are taken. With `sample`
/// non-zero, at most that many, spread evenly.
std::vector<uint64_t> PhasePositions(const std::vector<std::string>& kinds, uint64_t sample = 0);

/// The middle request of the longest transfer phase (the software image's
/// writes, as a rule).
uint64_t MainTransferRequest(const std::vector<std::string>& kinds);

/// What a campaign runs.
struct Plan {
  bool mainTransfer = true;  ///< each fault kind once, at MainTransferRequest
  uint64_t perKind = 1;      ///< FaultPositions: requests of each kind (0: all)
  uint64_t sample = 4;       ///< at most this many positions (0: all)
  bool phases = false;       ///< PhasePositions instead of FaultPositions
  uint32_t randomRuns = 1;   ///< runs with a byte in 400 damaged each way
  bool singleFaults = true;
  std::string onlyRule;   ///< non-empty: this rule set alone, once
  int64_t onlySeed = -1;  ///< 0 or more: this random run alone
};

/// The whole campaign for `scenario`: a clean run that counts its requests
/// N and notes their kinds, then each fault kind at each chosen request in
/// turn, then the random runs. Violations are printed as they happen, and
/// what was covered at the end.
Tally RunCampaign(const UpdateScenario& scenario, const Plan& plan);

}  // namespace kel::campaign
