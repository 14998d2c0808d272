#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/comm_port.h"
#include "link/link_state.h"
#include "link/packet_layer.h"
#include "platform/memory_serial.h"
#include "tests/runtime_fixture.h"

namespace kel {

/// The far end of an in-memory line for link tests: records every byte the
/// program writes and answers each write with the next scripted reply,
/// `delayMs` after the write.
class ScriptedPeer : public MemorySerialPeer {
 public:
  explicit ScriptedPeer(MemorySerialLine& line) : line_(line) { line.AttachPeer(this); }
  ~ScriptedPeer() override { line_.AttachPeer(nullptr); }

  void OnHostBytes(const uint8_t* data, size_t length, const SerialConfig&,
                   uint32_t now) override {
    received.insert(received.end(), data, data + length);
    if (replies.empty()) return;
    std::vector<uint8_t> reply = replies.front();
    replies.pop_front();
    if (!reply.empty()) line_.SendToHost(reply.data(), reply.size(), now + delayMs);
  }
  /// Bytes that reach the program `afterMs` from now, unasked.
  void Send(const std::vector<uint8_t>& bytes, uint32_t afterMs = 0) {
    line_.SendToHost(bytes.data(), bytes.size(), line_.clock().Ticks() + afterMs);
  }

  std::vector<uint8_t> received;
  std::deque<std::vector<uint8_t>> replies;
  uint32_t delayMs = 2;

 private:
  MemorySerialLine& line_;
};

/// The fake runtime with the whole link stack on top: in-memory COM ports
/// (no line yet), the port, the packet layer and a Link over them.
struct LinkStackFixture : RuntimeFixture {
  LinkStackFixture() { port.RegisterClosePort(); }

  MemorySerialPorts ports{clock};
  CommPort port{runtime, ports};
  ProxySettings proxy;
  PacketLayer packets{runtime, port, proxy};
  LinkState state;
  Link link{runtime, port, packets, state};
};

/// A fresh runtime on a virtual clock with COM3 as an in-memory line; debug
/// and detail output reach the recorded console.
struct LinkFixture : LinkStackFixture {
  LinkFixture() {
    options.debug = true;
    options.detailedDebug = true;
    options.portNumber = 3;
    out.errorReportLevel = 1;
  }

  /// `payload` followed by its CRC, low byte first.
  static std::vector<uint8_t> Framed(std::vector<uint8_t> payload) {
    const uint16_t wire = Crc16OfBuffer(payload.data(), payload.size());
    payload.push_back(static_cast<uint8_t>(wire >> 8));
    payload.push_back(static_cast<uint8_t>(wire & 0xFF));
    return payload;
  }

  MemorySerialLine& line = ports.AddLine(3);
  ScriptedPeer peer{line};
};

}  // namespace kel
