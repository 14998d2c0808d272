#pragma once

#include <functional>

#include "link/link_state.h"
#include "unit/unit_info.h"
#include "update/production_target.h"
#include "update/update_session.h"

namespace kel {

/// Updates one unit, directly or with update files, without asking the
/// operator. True when it went through (the unit is then restarted), false
/// when the unit refused it (nothing written).
using UnitUpdater = std::function<bool(Link& link, UnitInfo& unit, bool updateFiles)>;

/// The parameter file's "Program" job: at the programming speed, finds the
/// unit the job names (the connected unit, the unit behind a connected test
/// jig through its proxy, or the one matching unit behind the connected
/// unit; a job that names none takes the connected unit, or the unit on a
/// connected test jig, never the jig itself), reports it, updates it with `update` (directly, or
/// with update files for a unit behind the connected one), restarts and reconnects it, closes the
/// proxy and returns the link to its speed. Prints the success line and returns true, or the bell
/// and "FAILURE: unable to update unit!" and returns false (each as the run's last line, after
/// the summary). No such unit ends the run, naming what was looked for. `restarted`, when given,
/// is told once the updated unit has restarted and been found again.
bool ManufacturingUpdateUnit(Link& link, UnitInfo& connected, const ProductionTarget& target,
                             const UnitUpdater& update,
                             const std::function<void()>& restarted = {});

/// ManufacturingUpdateUnit with UpdateUnit as the updater: no forced boot
/// loader, no question.
bool ManufacturingUpdateUnit(UpdateSession& session, UnitInfo& connected,
                             const ProductionTarget& target);

}  // namespace kel
