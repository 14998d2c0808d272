#pragma once

#include "update/update_session.h"

namespace kel {

/// Downloads the unit's chosen flash programmer into its RAM and starts it;
/// the run ends ("Unable to download flash programmer") when it cannot.
void StartFlashProgrammer(UpdateSession& session, UnitInfo& unit);

/// Chooses the boot-loader image, flash block size and backup handling for
/// the unit; the run ends ("Unknown ponderix unit") when there are none.
void ChooseBootLoaderImage(Runtime& rt, UnitInfo& unit);

}  // namespace kel
