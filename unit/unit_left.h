#pragma once

#include "link/link_state.h"

namespace kel {

/// The unit the run took out of its software is running it again (or its
/// boot loader, which the next run finds): nothing is left for the way out
/// to restart, and the port's programmer note goes.
void UnitRestarted(Link& link);

/// A programmer an earlier run left running in a unit whose boot loader is
/// whole is restarted (ResetProgrammer, then Reset), as the way out of that
/// run would have done, so that the unit answers in its software or boot
/// loader and says itself who it is. True once restarted.
bool RestartProgrammerLeftRunning(Link& link);

/// The way out of a run: restarts the unit that the run left in its boot
/// loader or flash programmer (LinkState::unitLeftIn), so that the next run
/// finds it in its software or boot loader without a power cycle. A
/// programmer is reset first (ResetProgrammer), then the unit (Reset at the
/// boot-loader address, at 115200 where the reset programmer listens, else
/// at the speed it ran at). Bounded to a few attempts, never fatal, and
/// without asking anything. A unit whose boot loader may be half written
/// (LinkState::bootRegionIncomplete) is not restarted: its programmer keeps
/// running, and the next run writes the boot loader through it. True when
/// nothing is left to restart.
bool RestartUnitLeftOut(Link& link);

}  // namespace kel
