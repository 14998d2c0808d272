#pragma once

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// Asks the boot loader or flash programmer for the largest request it
/// accepts and stores it as the record's buffer size, which starts at 128.
/// Units that cannot say (application software, an H8S2145, boot-loader
/// releases below 10, or overlapped transfers, which keep 128) succeed at
/// once with 128. Two attempts; a failure is silent and leaves 128.
bool GetBufferSize(Link& link, UnitInfo& unit);

}  // namespace kel
