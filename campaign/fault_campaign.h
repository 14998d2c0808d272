#pragma once

#include <cstdint>
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
};

/// The faults of one run: at most one planned rule, and random damage.
struct RunFaults {
  std::string rule;         ///< a simulator fault rule, or empty
  uint32_t noiseOneIn = 0;  ///< 0: no random damage
  uint32_t seed = 0;
};

/// Runs `scenario` once in a fresh world with `faults`. A run in which no
/// request reaches the units for ten minutes of virtual time hangs. With
/// `kinds`, the kind of every request is noted there. A violation is
/// printed with the end of the console; with `showFailure` a clean failure
/// is too.
RunResult RunOnce(const UpdateScenario& scenario, const RunFaults& faults,
                  std::vector<std::string>* kinds = nullptr, bool showFailure = false);

/// The fault kinds given one at a time, each at every request in turn.
const std::vector<std::string>& SingleFaultKinds();

struct Tally {
  uint64_t runs = 0;
  uint64_t faults = 0;
  uint64_t recovered = 0;
  uint64_t cleanFailures = 0;
  uint64_t violations = 0;
  void Add(const RunResult& r);
};

/// Which requests get a fault: of each kind of request (service and
/// command), every one when `perKind` is 0, else at most `perKind` spread
/// evenly from the first to the last.
/// With `sample` non-zero, at most that many of them, spread evenly.
std::vector<uint64_t> FaultPositions(const std::vector<std::string>& kinds, uint64_t perKind,
                                     uint64_t sample = 0);

/// The whole campaign for `scenario`: a clean run that counts its requests
/// N and notes their kinds, then each fault kind at each request of
/// FaultPositions in turn, then `randomRuns` runs with a byte in 400
/// damaged each way. Violations are printed as they happen.
Tally RunCampaign(const UpdateScenario& scenario, uint64_t perKind, uint64_t sample,
                  uint32_t randomRuns, bool singleFaults = true);

}  // namespace kel::campaign
