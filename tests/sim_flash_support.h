#pragma once

#include <cstdint>
#include <vector>

#include "sim/payload_writer.h"
#include "sim/sim_reply.h"

namespace kel::sim::testing {

/// A 0x45 request to the unit at `address` with command 0x10 `command`.
inline PayloadWriter Command(uint8_t command, uint8_t address = 1) {
  PayloadWriter w;
  w.U8(address).U8(0x45).U8(0x10).U8(command);
  return w;
}

/// `count` bytes following a simple pattern, different for each `seed`.
inline std::vector<uint8_t> Pattern(size_t count, uint32_t seed) {
  std::vector<uint8_t> out(count);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return out;
}

struct TestRecord {
  uint32_t address;
  std::vector<uint8_t> data;
};

/// An image container: start address, total length, records, end marker.
inline std::vector<uint8_t> BuildRecordImage(uint32_t start, const std::vector<TestRecord>& records) {
  PayloadWriter w;
  uint32_t total = 0;
  for (const auto& r : records) total += static_cast<uint32_t>(r.data.size());
  w.U32(start).U32(total);
  for (const auto& r : records) w.U32(r.address).U16(static_cast<uint32_t>(r.data.size())).Bytes(r.data);
  w.U32(0xFFFFFFFF);
  return w.Take();
}

/// The only reply of an exchange (empty when there was none or several).
inline std::vector<uint8_t> OnlyReply(const SimReplies& replies) {
  return replies.size() == 1 ? replies[0].payload : std::vector<uint8_t>{};
}

}  // namespace kel::sim::testing
