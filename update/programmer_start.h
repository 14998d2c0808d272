#pragma once

#include "update/update_session.h"

namespace kel {

/// Downloads the unit's chosen flash programmer into its RAM and starts it;
/// the run ends ("Unable to download flash programmer") when it cannot.
/// The port's programmer note names the unit and what is due (the boot
/// loader, the software) from just before the download.
void StartFlashProgrammer(UpdateSession& session, UnitInfo& unit, bool bootLoaderDue = false,
                          bool softwareDue = false);

/// Chooses the boot-loader image, flash block size and backup handling for
/// the unit; the run ends ("Unknown ponderix unit") when there are none.
void ChooseBootLoaderImage(Runtime& rt, UnitInfo& unit);

}  // namespace kel
