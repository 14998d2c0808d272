#pragma once

// Helpers for the simulator's tests: requests are built here byte by byte
// from the wire layouts, and the network is driven at the byte level.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/serial_device.h"
#include "sim/crc16.h"
#include "sim/sim_network.h"

namespace kel::sim::testing {

/// Payload plus its check value, low byte first.
inline std::vector<uint8_t> WithCrc(std::vector<uint8_t> payload) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : payload) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  payload.push_back(static_cast<uint8_t>(crc));
  payload.push_back(static_cast<uint8_t>(crc >> 8));
  return payload;
}

inline SerialConfig Line(int32_t baud, bool even = false) {
  SerialConfig c;
  c.baudRate = baud;
  c.parityOn = even;
  c.evenParity = even;
  return c;
}

/// A network driven by hand: each Send feeds one write and returns every
/// byte the units sent back, with the tick the last one arrives.
class Bench {
 public:
  explicit Bench(SimNetwork& network, uint32_t start = 1000) : network_(network), now_(start) {
    network_.PowerOn(now_);
  }
  std::vector<uint8_t> Send(const std::vector<uint8_t>& wire, const SerialConfig& line) {
    network_.Feed(wire.data(), wire.size(), line, now_);
    std::vector<uint8_t> all;
    lastDelivery_ = now_;
    for (const auto& out : network_.TakeOutput()) {
      all.insert(all.end(), out.bytes.begin(), out.bytes.end());
      if (static_cast<int32_t>(out.deliverAt - lastDelivery_) > 0) lastDelivery_ = out.deliverAt;
    }
    now_ += 10;
    return all;
  }
  /// A request payload framed plainly, at `line`.
  std::vector<uint8_t> Call(std::vector<uint8_t> payload, const SerialConfig& line) {
    return Send(WithCrc(std::move(payload)), line);
  }
  void Wait(uint32_t ms) {
    now_ += ms;
    network_.Advance(now_);
  }
  uint32_t now() const { return now_; }
  uint32_t lastDelivery() const { return lastDelivery_; }

 private:
  SimNetwork& network_;
  uint32_t now_;
  uint32_t lastDelivery_ = 0;
};

}  // namespace kel::sim::testing
