#include "link/packet_layer.h"

namespace kel {

// Computed bit by bit, as the units do; frames are short enough that a
// table would buy nothing measurable.
uint16_t Crc16Update(uint16_t crc, uint8_t byte) {
  crc ^= byte;
  for (int bit = 0; bit < 8; ++bit) {
    const bool carry = (crc & 1) != 0;
    crc >>= 1;
    if (carry) crc ^= 0xA001;
  }
  return crc;
}

uint16_t Crc16OfBuffer(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) crc = Crc16Update(crc, data[i]);
  // Wire order (low byte first) read as a big-endian number.
  return static_cast<uint16_t>(((crc & 0xFF) << 8) | (crc >> 8));
}

}  // namespace kel
