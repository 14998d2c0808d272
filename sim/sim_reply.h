#pragma once

#include <cstdint>
#include <vector>

namespace kel::sim {

/// One reply a simulated unit sends to a request: the payload (address,
/// service, command, results; the transport adds headers and the CRC), sent
/// after the unit's processing delay. Windowed transfers may produce several
/// replies, or replies that come late, so handlers return a list.
struct SimReply {
  std::vector<uint8_t> payload;
  uint32_t delayMs = 0;       ///< processing time before the reply leaves (without the line model)
  uint32_t lateMs = 0;        ///< held back this much longer, so that later replies overtake it
  bool lengthFramed = false;  ///< send with the 0xF1 length header
};

using SimReplies = std::vector<SimReply>;

}  // namespace kel::sim
