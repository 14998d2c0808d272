#pragma once

#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace kel {

/// Calls `attempt` until it succeeds or `limitMs` have passed since the
/// first call, waiting `pauseMs` between calls; the last call comes no
/// later than the limit. True when a call succeeded. For a hold another
/// program keeps on a file for a moment (a virus scanner or an indexer
/// reading a file just written).
bool RetryFor(Clock& clock, uint32_t limitMs, uint32_t pauseMs,
              const std::function<bool()>& attempt);

}  // namespace kel
