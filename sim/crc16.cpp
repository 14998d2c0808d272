#include "sim/crc16.h"

namespace kel::sim {

uint16_t ModbusCrc16(const uint8_t* data, size_t length, uint16_t crc) {
  // Bit by bit on purpose: the simulator must not share a table (or a bug)
  // with the program it checks.
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool carry = (crc & 1) != 0;
      crc >>= 1;
      if (carry) crc ^= 0xA001;
    }
  }
  return crc;
}

uint16_t ModbusCrc16(const std::vector<uint8_t>& data) { return ModbusCrc16(data.data(), data.size()); }

void AppendCrc16(std::vector<uint8_t>& frame, size_t from) {
  const uint16_t crc = from < frame.size() ? ModbusCrc16(frame.data() + from, frame.size() - from) : 0xFFFF;
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
}

}  // namespace kel::sim
