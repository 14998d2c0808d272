#pragma once

#include <cstdint>
#include <vector>

#include "sim/faults.h"

namespace kel::sim {

struct SimUnit;

/// What a unit gets done of `payload` before its power fails, as a request
/// that does only that much: a flash program request or a file data block
/// keeps its first `value` data bytes (default half), an erase its first
/// `value` sectors (default half of those it touches). Other requests are
/// done whole. Empty when nothing of the request gets done.
std::vector<uint8_t> PartialRequest(const SimUnit& unit, const std::vector<uint8_t>& payload,
                                    const FaultRule& rule);

}  // namespace kel::sim
