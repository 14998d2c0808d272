#pragma once

#include <vector>

#include "sim/sim_reply.h"
#include "sim/sim_unit.h"

namespace kel::sim {

/// A KJ3 test jig's proxy calls: OpenKelUpdaterProxy, SearchKelUpdaterProxy,
/// set proxy speed and CloseKelUpdaterProxy. `behind` is the unit on the
/// jig's second port (null when none is wired). False for any other request
/// and for a unit that is no jig. The forwarding of proxied frames itself is
/// done by the network, which knows both lines.
bool HandleProxyRequest(SimUnit& jig, SimUnit* behind, const std::vector<uint8_t>& payload,
                        SimReplies& replies);

/// The address at which the unit behind a jig answers in its present role.
uint8_t AnsweringAddress(const SimUnit& unit);

}  // namespace kel::sim
