#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kel::sim {

/// Builds a reply payload; numbers go big-endian as on the unit's wire.
class PayloadWriter {
 public:
  /// Starts with the four echoed bytes of a 0x45 request.
  static PayloadWriter EchoCommand(const std::vector<uint8_t>& request) {
    PayloadWriter w;
    for (size_t i = 0; i < 4 && i < request.size(); ++i) w.U8(request[i]);
    return w;
  }
  PayloadWriter& U8(uint32_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  PayloadWriter& U16(uint32_t v) { return U8(v >> 8).U8(v); }
  PayloadWriter& U32(uint32_t v) { return U16(v >> 16).U16(v); }
  PayloadWriter& Bytes(const std::vector<uint8_t>& v) {
    bytes_.insert(bytes_.end(), v.begin(), v.end());
    return *this;
  }
  PayloadWriter& Text(const std::string& s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  std::vector<uint8_t>& bytes() { return bytes_; }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

/// Reads big-endian fields of a request, bounds-checked.
inline uint32_t ReadU32(const std::vector<uint8_t>& p, size_t at) {
  if (at + 4 > p.size()) return 0;
  return (static_cast<uint32_t>(p[at]) << 24) | (static_cast<uint32_t>(p[at + 1]) << 16) |
         (static_cast<uint32_t>(p[at + 2]) << 8) | p[at + 3];
}
inline uint16_t ReadU16(const std::vector<uint8_t>& p, size_t at) {
  if (at + 2 > p.size()) return 0;
  return static_cast<uint16_t>((p[at] << 8) | p[at + 1]);
}

}  // namespace kel::sim
