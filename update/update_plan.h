#pragma once

#include <vector>

#include "files/remote_file_access.h"
#include "runtime/run_summary.h"
#include "unit/unit_info.h"
#include "update/production_target.h"

namespace kel {

/// The run's last line after a plan.
inline constexpr char kPlanDoneLine[] = "Plan complete: no unit was changed\r\n";

/// The --plan job: which units the update the options ask for would reach
/// (the field update of the connected unit and the units behind it, the
/// direct update under -f, or the production job's unit), and for each
/// what it would do (PlanUnit), printed unit by unit with the estimated
/// time in all, then the summary and kPlanDoneLine. Only requests that
/// read are sent: identity and information, the list of units behind the
/// connected one, file attributes. Nothing is written, erased or restarted
/// and no speed is changed; a unit in its boot loader stays there. Each
/// unit planned gets a line in `planned`.
void PlanUpdate(RemoteFileAccess& files, UnitInfo& connected, const ProductionTarget& target,
                std::vector<SummaryLine>& planned);

/// The plan of a unit found running the flash programmer of an earlier
/// run that was cut short, from the note that run left: only an update can
/// finish with it.
void PlanFinishInProgrammer(RemoteFileAccess& files, UnitInfo& unit,
                            std::vector<SummaryLine>& planned);

}  // namespace kel
