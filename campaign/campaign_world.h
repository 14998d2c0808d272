#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flash/transfer_state.h"
#include "link/comm_port.h"
#include "link/link_state.h"
#include "link/packet_layer.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/memory_serial.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "platform/virtual_clock.h"
#include "runtime/options.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "sim/faults.h"
#include "sim/memory_peer.h"
#include "sim/sim_network.h"
#include "unit/unit_info.h"

namespace kel::campaign {

/// The COM port the units are served on.
inline constexpr int kPort = 3;

/// Thrown from the clock when a run's virtual time passes its limit: the
/// run hung.
struct TimeLimitReached {};

/// One run's world: the updater as main sets it up (a runtime of fakes on a
/// virtual clock, an exit that throws, COM3 on an in-memory line) and the
/// simulated units on the far end of that line.
class World {
 public:
  World();
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  /// Builds the units of the scenario `text`; false (with the reason in
  /// `error`) for a bad scenario.
  bool Build(const std::string& text, std::string& error);
  /// Plans one fault in the simulator's rule text; false when it does not parse.
  bool AddFault(const std::string& rule, std::string& error);
  /// From now on the clock throws TimeLimitReached once `stallMs` of
  /// virtual time pass without a request reaching the units (the program
  /// hangs), or `totalMs` in all.
  void LimitTime(uint32_t stallMs, uint32_t totalMs);
  /// Notes the kind (service and command) of every request the units decode,
  /// by request number from 1, in `kinds`.
  void RecordRequestKinds(std::vector<std::string>& kinds);
  /// Damages each byte on the line with probability 1 in `oneIn` in each
  /// direction, from the random `seed`.
  void CorruptBytes(uint32_t oneIn, uint32_t seed);
  /// Requests the simulator has decoded so far.
  uint64_t requests() const { return network.requestCount(); }
  /// Bytes damaged by CorruptBytes so far.
  uint64_t corrupted() const;

  Options options;
  VirtualClock clock;
  ScriptedConsole console;
  Output out{console, clock, options};
  MapEnvironment env;
  MapRegistry registry;
  ThrowingExit exit;
  Runtime runtime{options, out, clock, console, env, registry, exit, {}};
  MemorySerialPorts ports{clock};
  sim::SimNetwork network;
  CommPort port{runtime, ports};
  ProxySettings proxy;
  PacketLayer packets{runtime, port, proxy};
  LinkState state;
  Link link{runtime, port, packets, state};
  TransferState transfer{options};
  UnitInfo unit;

 private:
  class NoisyLine;
  std::unique_ptr<sim::MemoryPeer> peer_;
  std::unique_ptr<NoisyLine> noise_;
};

}  // namespace kel::campaign
