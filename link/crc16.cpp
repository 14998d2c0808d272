#include <array>

#include "link/packet_layer.h"

namespace kel {

namespace {

// The reflected polynomial 0xA001 a byte at a time: entry i is what eight
// bit steps make of i. The link computes this CRC over every byte sent and
// received, and a table makes that a lookup instead of a loop of eight.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint16_t Crc16Update(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>((crc >> 8) ^ kCrcTable.data()[(crc ^ byte) & 0xFF]);
}

uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length) {
  const uint16_t* table = kCrcTable.data();
  for (const uint8_t* end = data + length; data != end; ++data) {
    crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ *data) & 0xFF]);
  }
  return crc;
}

uint16_t Crc16OfBuffer(const uint8_t* data, size_t length) {
  const uint16_t crc = Crc16Update(0xFFFF, data, length);
  // Wire order (low byte first) read as a big-endian number.
  return static_cast<uint16_t>(((crc & 0xFF) << 8) | (crc >> 8));
}

}  // namespace kel
