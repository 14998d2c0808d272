#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/memory_serial.h"
#include "tests/link_fixture.h"
#include "unit/unit_info.h"

namespace kel {

/// Frames built the way a unit builds them, with the test's own CRC, so a
/// misreading of the wire format by the program shows up here.
namespace wire {

inline uint16_t Crc(const std::vector<uint8_t>& bytes, size_t from = 0, size_t to = SIZE_MAX) {
  uint16_t crc = 0xFFFF;
  for (size_t i = from; i < bytes.size() && i < to; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

/// `payload` with its CRC appended, low byte first.
inline std::vector<uint8_t> Framed(std::vector<uint8_t> payload) {
  const uint16_t crc = Crc(payload);
  payload.push_back(static_cast<uint8_t>(crc & 0xFF));
  payload.push_back(static_cast<uint8_t>(crc >> 8));
  return payload;
}

/// A command-service reply: address, 0x45, command, then `fields`.
inline std::vector<uint8_t> Reply(uint8_t address, uint16_t command,
                                  std::vector<uint8_t> fields = {}) {
  // Sized once and filled by index: growing a four-byte vector by insert()
  // trips a false -Warray-bounds in optimised MinGW builds.
  std::vector<uint8_t> payload(4 + fields.size());
  payload[0] = address;
  payload[1] = 0x45;
  payload[2] = static_cast<uint8_t>(command >> 8);
  payload[3] = static_cast<uint8_t>(command & 0xFF);
  for (size_t i = 0; i < fields.size(); ++i) payload[4 + i] = fields[i];
  return payload;
}

/// The payload of a request frame: length header removed, CRC checked and
/// removed. Empty when the CRC is wrong.
inline std::vector<uint8_t> Payload(std::vector<uint8_t> frame) {
  if (frame.size() >= 2 && frame[0] == 0xF1) frame.erase(frame.begin(), frame.begin() + 2);
  if (frame.size() < 2 || Crc(frame) != 0) return {};
  frame.resize(frame.size() - 2);
  return frame;
}

inline uint16_t Command(const std::vector<uint8_t>& payload) {
  return payload.size() >= 4 ? static_cast<uint16_t>(payload[2] << 8 | payload[3]) : 0;
}

}  // namespace wire

/// The unit's end of the line for remote-call tests: keeps every frame the
/// program writes (one write per request) with the line settings of the
/// moment, and answers each through `answer`, which gets the request payload
/// and returns the reply payload, or nothing to stay silent.
class UnitPeer : public MemorySerialPeer {
 public:
  using Answer = std::function<std::optional<std::vector<uint8_t>>(const std::vector<uint8_t>&)>;

  explicit UnitPeer(MemorySerialLine& line) : line_(line) { line.AttachPeer(this); }
  ~UnitPeer() override { line_.AttachPeer(nullptr); }

  void OnHostBytes(const uint8_t* data, size_t length, const SerialConfig& config,
                   uint32_t now) override {
    frames.emplace_back(data, data + length);
    speeds.push_back(config.baudRate);
    if (!answer) return;
    std::optional<std::vector<uint8_t>> reply = answer(wire::Payload(frames.back()));
    if (!reply) return;
    const std::vector<uint8_t> bytes = wire::Framed(*reply);
    line_.SendToHost(bytes.data(), bytes.size(), now + 2);
  }

  void OnOpen(bool open, const SerialConfig&) override {
    if (open) ++opens;
  }

  /// Request payloads so far, in order.
  std::vector<std::vector<uint8_t>> Requests() const {
    std::vector<std::vector<uint8_t>> payloads;
    for (const auto& frame : frames) payloads.push_back(wire::Payload(frame));
    return payloads;
  }

  Answer answer;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<int32_t> speeds;  ///< the line's speed at each frame
  int opens = 0;                ///< times the program opened the port

 private:
  MemorySerialLine& line_;
};

/// A fresh runtime on a virtual clock with COM3 open as an in-memory line at
/// 19200 baud, the unit peer on its far end, and a Link over it. Debug
/// output reaches the recorded console (detail output only when asked).
struct UnitFixture : LinkStackFixture {
  UnitFixture() {
    options.debug = true;
    options.portNumber = 3;
    options.yesToPrompts = true;
    out.errorReportLevel = 1;
    port.OpenPort();
    console.ClearOutput();
  }

  /// A unit running its application software 6.10 at `address`.
  static UnitInfo RunningUnit(uint8_t address) {
    UnitInfo unit;
    unit.connectionMode = modeApplication;
    unit.unitAddress = address;
    unit.softwareVersion = 610;
    return unit;
  }

  MemorySerialLine& line = ports.AddLine(3);
  UnitPeer peer{line};
};

}  // namespace kel
