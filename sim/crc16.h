#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel::sim {

/// The frame check of the unit's serial protocol: register from 0xFFFF, each
/// byte XORed into the low half, then eight shifts right with 0xA001 fed back
/// on a carried-out 1; no final XOR. A frame followed by its check value
/// (low byte first) checks to 0.
uint16_t ModbusCrc16(const uint8_t* data, size_t length, uint16_t crc = 0xFFFF);
uint16_t ModbusCrc16(const std::vector<uint8_t>& data);

/// Appends the check value of `frame`'s bytes from `from` on, low byte first.
void AppendCrc16(std::vector<uint8_t>& frame, size_t from = 0);

}  // namespace kel::sim
