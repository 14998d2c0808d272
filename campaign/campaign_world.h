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

/// The updater as main sets it up: a runtime of fakes on the world's
/// virtual clock, an exit that throws, COM3 on the world's in-memory line.
/// A rerun gets a fresh one against the units as the last run left them,
/// on the same computer: the user's settings (`registry`) outlive the run.
struct Program {
  Program(VirtualClock& clock, MemorySerialPorts& ports, Registry& registry);

  Options options;
  ScriptedConsole console;
  Output out;
  MapEnvironment env;
  ThrowingExit exit;
  Runtime runtime;
  CommPort port;
  ProxySettings proxy;
  PacketLayer packets;
  LinkState state;
  Link link;
  TransferState transfer;
  UnitInfo unit;
};

/// One run's world: the simulated units on an in-memory line, the virtual
/// clock they share with the program, and the program itself.
class World {
 public:
  World();
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  /// Builds the units of the scenario `text`; false (with the reason in
  /// `error`) for a bad scenario.
  bool Build(const std::string& text, std::string& error);
  /// Plans faults in the simulator's rule text (several separated by ';');
  /// false when one does not parse.
  bool AddFault(const std::string& rules, std::string& error);
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
  /// Ends every fault: planned rules and random damage alike, for a rerun.
  void EndFaults();
  /// Replaces the program with a fresh one (its port closed first); the
  /// units stay as they are.
  void NewProgram();
  /// Switches every unit off and on again.
  void PowerCycle();
  /// Lets `ms` pass with no program on the line: the units go on (a restart
  /// under way ends, a silence passes).
  void Pause(uint32_t ms);
  /// Requests the simulator has decoded so far.
  uint64_t requests() const { return network.requestCount(); }
  /// Bytes damaged by CorruptBytes so far.
  uint64_t corrupted() const;
  Program& program() { return *program_; }

  VirtualClock clock;
  MemorySerialPorts ports{clock};
  sim::SimNetwork network;
  /// The computer's per-user settings, which every program of the world shares.
  MapRegistry registry;

 private:
  class NoisyLine;
  std::unique_ptr<Program> program_;
  std::unique_ptr<sim::MemoryPeer> peer_;
  std::unique_ptr<NoisyLine> noise_;
  uint64_t damagedBefore_ = 0;
};

}  // namespace kel::campaign
