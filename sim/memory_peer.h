#pragma once

#include <optional>

#include "platform/memory_serial.h"
#include "sim/adapter_model.h"
#include "sim/sim_network.h"

namespace kel::sim {

/// Serves a simulated network on an in-memory serial line: the program's
/// bytes go to the network as they are written, the units' replies go back
/// stamped with their delivery time to the microsecond, so with a VirtualClock whole sessions
/// run deterministically and in no real time.
class MemoryPeer : public MemorySerialPeer {
 public:
  /// Attaches itself to `line`; the network is powered on at the line's tick.
  MemoryPeer(SimNetwork& network, MemorySerialLine& line);
  ~MemoryPeer() override;
  MemoryPeer(const MemoryPeer&) = delete;
  MemoryPeer& operator=(const MemoryPeer&) = delete;

  void OnHostBytes(const uint8_t* data, size_t length, const SerialConfig& line,
                   uint32_t now) override;
  void OnHostBytesUs(const uint8_t* data, size_t length, const SerialConfig& line,
                     uint64_t nowUs) override;
  void OnTime(uint32_t now) override;
  void OnTimeUs(uint64_t nowUs) override;
  void OnOpen(bool open, const SerialConfig& line) override;
  bool Cts() override;
  bool NextEvent(uint32_t& tick) override;
  bool NextEventUs(uint64_t nowUs, uint64_t& atUs) override;
  bool HostBytesLeaveAt(uint32_t& tick) override;
  bool HostBytesLeaveAtUs(uint64_t nowUs, uint64_t& atUs) override;

  SimNetwork& network() { return network_; }
  /// From now on the units' bytes reach the program through a USB adapter
  /// with these settings.
  void SetAdapter(const AdapterSettings& settings) { adapter_.emplace(settings); }

 private:
  void Deliver();

  SimNetwork& network_;
  MemorySerialLine& line_;
  std::optional<AdapterModel> adapter_;
};

}  // namespace kel::sim
