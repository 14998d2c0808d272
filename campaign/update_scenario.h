#pragma once

#include <functional>
#include <string>
#include <vector>

#include "campaign/campaign_world.h"

namespace kel::campaign {

/// An update under test: the units it starts from, the run itself, and the
/// check of what the units hold afterwards.
struct UpdateScenario {
  std::string name;
  /// The simulator's scenario text (units, roles, flash, files).
  std::string units;
  /// The update as the program runs it. It returns after reporting success,
  /// or ends through the runtime's FatalError (ExitRequested in a World).
  std::function<void(World&)> run;
  /// True when the units' flash and files equal the images written.
  std::function<bool(World&)> contentsMatch;
  /// The run drives the layers below the job, which cannot find a unit in
  /// another role than its starting one: a rerun begins with a power cycle.
  bool rerunFromPowerOn = false;
};

/// The updates the campaign runs.
std::vector<UpdateScenario> UpdateScenarios();

}  // namespace kel::campaign
