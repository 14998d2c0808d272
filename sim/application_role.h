#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_reply.h"
#include "sim/sim_unit.h"

namespace kel::sim {

/// The address every application also answers, before the program knows its own.
constexpr uint8_t kBroadcastAddress = 0xF0;

/// The unit's application software: Ping, identification, the unit list,
/// speed change, restarts, readiness and debug-log list. Requests for the
/// file services are not served here (false). `payload` is the request
/// without headers and check value; the unit's network supplies the list of
/// remote units through `remoteAddresses`.
bool HandleApplicationRequest(SimUnit& unit, const std::vector<uint8_t>& payload,
                              const std::vector<uint8_t>& remoteAddresses, SimReplies& replies);

/// True when the application accepts `baudRate` for its line: one of the
/// unit speeds, and within what the unit's MCU and software can do.
bool ApplicationAcceptsSpeed(const SimUnit& unit, uint32_t baudRate);

}  // namespace kel::sim
