#pragma once

#include "update/update_session.h"

namespace kel {

/// Updates one unit on the connected unit's network with update files:
/// reads and reports its identity, checks that it can take them, and runs
/// the update. True when it was sent its update. A unit that does not
/// answer is passed over silently; one that cannot take update files gets
/// the reason and the advice to update it over its own serial port.
bool UpdateRemoteUnit(UpdateSession& session, UnitInfo& remote);

}  // namespace kel
