#pragma once

// A simulated unit running its application on COM3, with the simulator's
// line and unit time, connected as main connects, and the remote file
// access of a run, for the tests of file transfers, file updates and log
// extraction. The bytes the program writes pass a tap, so a test can act
// when a request goes out (say, damage the unit's copy of a file).

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/remote_file_access.h"
#include "platform/memory_serial.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"
#include "tests/connect_fixture.h"

namespace kel {

/// A KT5 transmitter at 6.10r57 at address 5 (the "H" form reaches it).
inline constexpr char kFileUnit[] =
    "card = 659\nsoftware = 6.10r57\nmodbus = 5\naddress = 5\nserial = 4711\n";

/// Passes the program's bytes on to the simulator, then shows each write
/// (one frame) to `onFrame`.
class FrameTap : public MemorySerialPeer {
 public:
  FrameTap(MemorySerialLine& line, MemorySerialPeer& inner) : line_(line), inner_(inner) {
    line.AttachPeer(this);
  }
  ~FrameTap() override {
    if (line_.peer() == this) line_.AttachPeer(nullptr);
  }
  void OnHostBytes(const uint8_t* data, size_t length, const SerialConfig& config,
                   uint32_t now) override {
    inner_.OnHostBytes(data, length, config, now);
    if (onFrame) onFrame(std::vector<uint8_t>(data, data + length));
  }
  void OnHostBytesUs(const uint8_t* data, size_t length, const SerialConfig& config,
                     uint64_t nowUs) override {
    inner_.OnHostBytesUs(data, length, config, nowUs);
    if (onFrame) onFrame(std::vector<uint8_t>(data, data + length));
  }
  void OnTime(uint32_t now) override { inner_.OnTime(now); }
  void OnTimeUs(uint64_t nowUs) override { inner_.OnTimeUs(nowUs); }
  void OnOpen(bool open, const SerialConfig& config) override { inner_.OnOpen(open, config); }
  bool Cts() override { return inner_.Cts(); }
  bool NextEvent(uint32_t& tick) override { return inner_.NextEvent(tick); }
  bool NextEventUs(uint64_t nowUs, uint64_t& atUs) override {
    return inner_.NextEventUs(nowUs, atUs);
  }
  bool HostBytesLeaveAt(uint32_t& tick) override { return inner_.HostBytesLeaveAt(tick); }
  bool HostBytesLeaveAtUs(uint64_t nowUs, uint64_t& atUs) override {
    return inner_.HostBytesLeaveAtUs(nowUs, atUs);
  }

  std::function<void(const std::vector<uint8_t>&)> onFrame;

 private:
  MemorySerialLine& line_;
  MemorySerialPeer& inner_;
};

/// One file data block or read request as the unit received it.
struct BlockSeen {
  uint8_t service;  ///< 0x47 "G" or 0x48 "H"
  uint8_t kind;     ///< '2' write, '0' read request
  uint32_t offset;
  uint8_t length;
};

struct FilesFixture : ConnectFixture {
  /// Serves `scenario` (the [port] section with the line model comes first;
  /// the connected unit is `[unit u]` with `unitKeys`) and connects to it.
  void Start(const std::string& unitKeys = kFileUnit, const std::string& more = "") {
    sim::Scenario scenario;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(
        "[port]\nline-model = yes\n[unit u]\nplace = connected\n" + unitKeys + more, scenario,
        error))
        << error;
    sim::BuildNetwork(scenario, network);
    MemorySerialLine& line = ports.AddLine(3);
    peer = std::make_unique<sim::MemoryPeer>(network, line);
    tap = std::make_unique<FrameTap>(line, *peer);
    Connect(3);
    target = network.connected();
    console.ClearOutput();
  }

  /// Adds a planned fault in the scenario's text form.
  void Fault(const std::string& text) {
    sim::FaultRule rule;
    std::string error;
    ASSERT_TRUE(sim::ParseFaultRule(text, rule, error)) << error;
    network.faults().Add(rule);
  }

  /// The file's bytes in the unit (empty when it has none).
  std::vector<uint8_t> UnitFile(uint8_t drive, uint16_t file) const {
    const sim::SimFile* found = target->files.Find(drive, file);
    return found != nullptr ? found->data : std::vector<uint8_t>();
  }

  /// The file data blocks and read requests the units received, in order.
  std::vector<BlockSeen> Blocks(uint8_t kind = '2') {
    std::vector<BlockSeen> seen;
    for (const auto& entry : network.transcript().entries()) {
      if (entry.direction != sim::TranscriptEntry::Direction::kToUnit) continue;
      const std::vector<uint8_t>& frame = entry.bytes;
      size_t at = frame.size() >= 2 && frame[0] == 0xF1 ? 2 : 0;
      if (frame.size() < at + 12 || (frame[at + 1] != 0x47 && frame[at + 1] != 0x48)) continue;
      const uint8_t service = frame[at + 1];
      at += service == 0x48 ? 3 : 2;
      if (frame[at] != kind) continue;
      const uint32_t offset = static_cast<uint32_t>(frame[at + 4] << 24 | frame[at + 5] << 16 |
                                                    frame[at + 6] << 8 | frame[at + 7]);
      seen.push_back({service, kind, offset, frame[at + 8]});
    }
    return seen;
  }

  /// Writes `data` as a whole file through the window: create, blocks, close.
  bool WriteWhole(uint16_t file, const std::vector<uint8_t>& data, bool highSpeed = false) {
    uint8_t result = 0;
    if (!files.CreateFile(5, 1, file, highSpeed, result) || result != 0) return false;
    for (size_t at = 0; at < data.size(); at += kFileBlockSize) {
      const size_t n = std::min<size_t>(kFileBlockSize, data.size() - at);
      if (!files.WriteFileBlock(5, 1, file, static_cast<uint32_t>(at), data.data() + at,
                                static_cast<uint8_t>(n), result)) {
        return false;
      }
    }
    return files.CloseFile(5, 1, file, result) && result == 0;
  }

  sim::SimNetwork network;
  std::unique_ptr<sim::MemoryPeer> peer;
  std::unique_ptr<FrameTap> tap;
  sim::SimUnit* target = nullptr;
  RemoteFileAccess files{link};
};

/// `count` bytes of a pattern that differs from block to block.
inline std::vector<uint8_t> FilePattern(size_t count, uint8_t seed = 1) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + i / 251);
  return bytes;
}

}  // namespace kel
