#pragma once

#include <vector>

#include "link/link_state.h"
#include "runtime/run_summary.h"
#include "unit/unit_info.h"

namespace kel {

/// The -i job: prints the information report of the connected unit, with
/// the flash programmer it would get, and of every unit behind it. A unit
/// that answers only through its boot loader (on a real COM port) is
/// restarted into its boot loader to be reported and then reset. Changes
/// nothing in any unit; what cannot be done ends the run. Each unit
/// reported gets a line in `reported`, when given.
void InterrogateUnit(Link& link, UnitInfo& unit, std::vector<SummaryLine>* reported = nullptr);

}  // namespace kel
