#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel::sim {

/// Big-endian field access for the unit's side of the wire layouts. Readers
/// take a position the caller has already checked against the payload size.
inline uint16_t ReadBe16(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

inline uint32_t ReadBe32(const std::vector<uint8_t>& bytes, size_t at) {
  return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) |
         uint32_t{bytes[at + 3]};
}

inline void AppendBe16(std::vector<uint8_t>& bytes, uint32_t value) {
  bytes.push_back(static_cast<uint8_t>(value >> 8));
  bytes.push_back(static_cast<uint8_t>(value));
}

inline void AppendBe32(std::vector<uint8_t>& bytes, uint32_t value) {
  bytes.push_back(static_cast<uint8_t>(value >> 24));
  bytes.push_back(static_cast<uint8_t>(value >> 16));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
  bytes.push_back(static_cast<uint8_t>(value));
}

/// The first `count` bytes of a request: the echo a reply starts with.
inline std::vector<uint8_t> EchoHead(const std::vector<uint8_t>& request, size_t count) {
  return std::vector<uint8_t>(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace kel::sim
